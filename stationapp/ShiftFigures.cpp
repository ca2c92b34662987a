#include "ShiftFigures.h"

#include <algorithm>

namespace {

size_t BucketIndex(CShiftFigures::Clock::time_point start, CShiftFigures::Clock::time_point at)
{
    return at <= start ? 0 : static_cast<size_t>((at - start) / CShiftFigures::BUCKET);
}

}  // namespace

void CShiftFigures::Add(Clock::time_point end, bool passed)
{
    const size_t index = BucketIndex(m_start, end);
    if (m_buckets.size() <= index)
        m_buckets.resize(index + 1);
    if (passed) {
        ++m_passes;
        ++m_buckets[index].passes;
    } else {
        ++m_failures;
        ++m_buckets[index].failures;
    }
}

double CShiftFigures::YieldPercent() const
{
    const unsigned devices = m_passes + m_failures;
    return devices == 0 ? -1.0 : 100.0 * m_passes / devices;
}

double CShiftFigures::DevicesPerHour(Clock::time_point now) const
{
    const double hours = std::chrono::duration<double, std::ratio<3600>>(now - m_start).count();
    // A rate over less than a minute says nothing yet.
    return hours < 1.0 / 60 ? 0.0 : (m_passes + m_failures) / hours;
}

std::vector<CShiftFigures::SBucket> CShiftFigures::Buckets(Clock::time_point now) const
{
    std::vector<SBucket> buckets = m_buckets;
    buckets.resize(std::max(buckets.size(), BucketIndex(m_start, now) + 1));
    return buckets;
}
