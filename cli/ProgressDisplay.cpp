#include "ProgressDisplay.h"

#include <algorithm>

namespace {

constexpr int BAR_WIDTH = 30;
constexpr size_t NAME_WIDTH = 20;

}  // namespace

CProgressDisplay::CProgressDisplay(FILE* out, bool live, bool quiet) : m_out(out), m_live(live), m_quiet(quiet) {}

void CProgressDisplay::ShowMessage(const std::string& text)
{
    if (m_quiet)
        return;
    EraseBars();
    std::fprintf(m_out, "%s\n", text.c_str());
    DrawBars();
    std::fflush(m_out);
}

void CProgressDisplay::ShowRows(const std::vector<SProgressRow>& rows)
{
    if (m_quiet || !m_live || (rows == m_rows && m_barLines > 0))
        return;
    m_rows = rows;
    EraseBars();
    DrawBars();
    std::fflush(m_out);
}

void CProgressDisplay::Finish()
{
    EraseBars();
    m_rows.clear();
    std::fflush(m_out);
}

void CProgressDisplay::EraseBars()
{
    if (m_barLines > 0) {
        // Cursor up over the bars, then clear to the end of the screen.
        std::fprintf(m_out, "\x1b[%dA\x1b[J", m_barLines);
        m_barLines = 0;
    }
}

void CProgressDisplay::DrawBars()
{
    if (!m_live)
        return;
    for (const SProgressRow& row : m_rows) {
        const int percent = std::clamp(row.percent, 0, 100);
        const int filled = percent * BAR_WIDTH / 100;
        const std::string name = row.name.substr(0, NAME_WIDTH);
        std::fprintf(m_out, "%-*s [%s%s] %d%% %s\n", static_cast<int>(NAME_WIDTH), name.c_str(),
                     std::string(static_cast<size_t>(filled), '#').c_str(),
                     std::string(static_cast<size_t>(BAR_WIDTH - filled), '.').c_str(), percent, row.status.c_str());
        ++m_barLines;
    }
}
