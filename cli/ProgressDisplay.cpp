#include "ProgressDisplay.h"

#include "PrintableText.h"
#include "StringTable.h"

#include <algorithm>
#include <utility>

using namespace devupdate;
using namespace devupdate::res;
using namespace devupdate::update;

namespace {

constexpr int BAR_WIDTH = 30;
constexpr size_t NAME_WIDTH = 20;

// Where a trailing UTF-8 sequence is cut off by the end of text: the
// position of its lead byte, or text.size() when the text ends whole.
size_t IncompleteSequenceStart(std::string_view text)
{
    for (size_t back = 1; back <= 3 && back <= text.size(); ++back) {
        const auto byte = static_cast<unsigned char>(text[text.size() - back]);
        if ((byte & 0xC0) == 0x80)
            continue;  // a continuation byte: look further back
        const size_t needed = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
        return needed > back ? text.size() - back : text.size();
    }
    return text.size();
}

}  // namespace

std::string ProgressBarLine(const SProgressRow& row)
{
    const int percent = std::clamp(row.percent, 0, 100);
    const int filled = percent * BAR_WIDTH / 100;
    const std::string name = PrintableText(row.name).substr(0, NAME_WIDTH);
    return res::Format("%-*s [%s%s] %d%% %s%s%s\n", static_cast<int>(NAME_WIDTH), name.c_str(),
                       std::string(static_cast<size_t>(filled), '#').c_str(),
                       std::string(static_cast<size_t>(BAR_WIDTH - filled), '.').c_str(), percent,
                       row.status.c_str(), row.timing.empty() ? "" : "  ", row.timing.c_str());
}

CProgressDisplay::CProgressDisplay(COutputStream& out, bool live, bool quiet)
    : m_out(out), m_live(live), m_quiet(quiet)
{
}

bool CProgressDisplay::Show(const std::string& text, bool barsDrawn)
{
    if (!m_out.Offer(text))
        return false;
    m_barLines = barsDrawn && m_live ? BarLineCount() : 0;
    return true;
}

void CProgressDisplay::ShowMessage(const std::string& text)
{
    if (m_quiet)
        return;
    // A message never shares a line with a comment still being read.
    std::string shown = EraseBars();
    if (m_commentOpen)
        shown += '\n';
    shown += text;
    shown += '\n';
    shown += DrawBars();
    if (!Show(shown, true) && m_commentOpen)
        m_out.Queue("\n");  // dropped: the open comment line still ends
    m_commentOpen = false;
}

void CProgressDisplay::ShowComment(std::string_view text, bool starts, bool ends)
{
    if (m_quiet)
        return;
    std::string bytes = std::move(m_commentCarry);
    bytes.append(text);
    const size_t whole = ends ? bytes.size() : IncompleteSequenceStart(bytes);
    m_commentCarry = bytes.substr(whole);
    bytes.resize(whole);
    std::string piece = EraseBars();
    if (starts)
        piece += ' ';
    piece += PrintableText(bytes);
    if (ends) {
        piece += '\n';
        piece += DrawBars();
    }
    if (Show(piece, ends)) {
        m_commentOpen = !ends;
        return;
    }
    // Dropped text: a line that was begun still ends, the screen stays sane.
    if (ends && m_commentOpen) {
        m_out.Queue("\n");
        m_commentOpen = false;
        m_barLines = 0;
    }
}

void CProgressDisplay::ShowPlainProgress(const std::vector<SProgressRow>& rows)
{
    m_tenthsShown.resize(rows.size(), 0);
    for (size_t i = 0; i < rows.size(); ++i) {
        const int tenth = std::clamp(rows[i].percent, 0, 100) / 10;
        if (tenth <= m_tenthsShown[i] || rows[i].timing.empty())
            continue;
        if (m_out.Offer(res::Format("%s: %d%% after %s\n", PrintableText(rows[i].name).c_str(), rows[i].percent,
                                    rows[i].timing.c_str())))
            m_tenthsShown[i] = tenth;
    }
}

void CProgressDisplay::ShowRows(const std::vector<SProgressRow>& rows)
{
    if (!m_quiet && !m_live && !m_commentOpen)
        ShowPlainProgress(rows);
    if (m_quiet || !m_live || (rows == m_rows && m_barLines > 0) || m_commentOpen)
        return;
    const std::vector<SProgressRow> shown = std::exchange(m_rows, rows);
    std::string redraw = EraseBars();
    redraw += DrawBars();
    if (!Show(redraw, true))
        m_rows = shown;
}

void CProgressDisplay::Finish()
{
    if (m_commentOpen)
        m_out.Queue("\n");
    m_commentOpen = false;
    m_out.Queue(EraseBars());
    m_barLines = 0;
    m_rows.clear();
}

std::string CProgressDisplay::EraseBars() const
{
    // Cursor up over the bars, then clear to the end of the screen.
    return m_barLines > 0 ? res::Format("\x1b[%dA\x1b[J", m_barLines) : std::string();
}

int CProgressDisplay::BarLineCount() const
{
    return static_cast<int>(m_rows.size()) + (m_runTiming.empty() || m_rows.empty() ? 0 : 1);
}

std::string CProgressDisplay::DrawBars() const
{
    if (!m_live)
        return {};
    std::string bars;
    for (const SProgressRow& row : m_rows)
        bars += ProgressBarLine(row);
    if (!m_runTiming.empty() && !m_rows.empty())
        bars += m_runTiming + "\n";
    return bars;
}
