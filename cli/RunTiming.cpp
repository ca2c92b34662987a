#include "RunTiming.h"

#include "StringTable.h"

using namespace devupdate;
using namespace devupdate::res;

namespace {

double Seconds(CRunTiming::Clock::duration span)
{
    return std::chrono::duration<double>(span).count();
}

std::string Figures(double elapsed, uint64_t bytes, double left)
{
    std::string text = res::Format("%.1f s, %.1f kB/s", elapsed, elapsed > 0 ? bytes / elapsed / 1000 : 0.0);
    if (left >= 0)
        text += res::Format(", %.1f s left", left);
    return text;
}

}  // namespace

double SecondsLeft(double elapsed, double percent)
{
    if (percent <= 0)
        return -1;
    return percent >= 100 ? 0 : elapsed * (100 - percent) / percent;
}

void CRunTiming::Observe(int currentRow, const std::vector<int>& percents, uint64_t bytesSent, Clock::time_point now)
{
    m_now = now;
    m_bytes = bytesSent;
    for (size_t i = 0; i < m_rows.size(); ++i) {
        SRowTime& row = m_rows[i];
        row.percent = i < percents.size() ? percents[i] : 0;
        const bool current = static_cast<int>(i) == currentRow;
        const bool behind = static_cast<int>(i) < currentRow;
        if ((current || behind) && !row.started) {
            row.started = true;
            row.start = now;
            row.bytesAtStart = bytesSent;
        }
        if (behind && !row.done) {
            row.done = true;
            row.end = now;
            row.bytesAtEnd = bytesSent;
        }
    }
}

std::string CRunTiming::RowText(size_t row) const
{
    if (row >= m_rows.size() || !m_rows[row].started)
        return {};
    const SRowTime& time = m_rows[row];
    const Clock::time_point end = time.done ? time.end : m_now;
    const uint64_t bytes = (time.done ? time.bytesAtEnd : m_bytes) - time.bytesAtStart;
    const double elapsed = Seconds(end - time.start);
    return Figures(elapsed, bytes, time.done ? -1 : SecondsLeft(elapsed, time.percent));
}

std::string CRunTiming::RunText() const
{
    if (m_rows.empty() || !m_rows.front().started)
        return {};
    // The run's share done: every row counts the same.
    double share = 0;
    for (const SRowTime& row : m_rows)
        share += row.done ? 100.0 : row.percent;
    share /= static_cast<double>(m_rows.size());
    const double elapsed = Seconds(m_now - m_rows.front().start);
    return "run: " + Figures(elapsed, m_bytes - m_rows.front().bytesAtStart, SecondsLeft(elapsed, share));
}
