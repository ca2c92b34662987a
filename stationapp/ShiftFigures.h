#pragma once
// What a shift has come to since Start: passes and failures in all, the
// yield, the devices per hour, and both per ten minutes for the chart.

#include <chrono>
#include <vector>

class CShiftFigures {
public:
    using Clock = std::chrono::system_clock;
    static constexpr std::chrono::minutes BUCKET{10};

    explicit CShiftFigures(Clock::time_point start) : m_start(start) {}

    // A device's pass ended: passed or failed (a cancelled pass counts in neither).
    void Add(Clock::time_point end, bool passed);

    unsigned Passes() const { return m_passes; }
    unsigned Failures() const { return m_failures; }
    // Passes of the devices that ended, in percent; negative before any.
    double YieldPercent() const;
    // Devices that ended per hour since Start; 0 in the first minute.
    double DevicesPerHour(Clock::time_point now) const;
    Clock::time_point Start() const { return m_start; }

    struct SBucket {
        unsigned passes = 0;
        unsigned failures = 0;
    };
    // One bucket per ten minutes from Start up to `now`.
    std::vector<SBucket> Buckets(Clock::time_point now) const;

private:
    Clock::time_point m_start;
    unsigned m_passes = 0;
    unsigned m_failures = 0;
    std::vector<SBucket> m_buckets;
};
