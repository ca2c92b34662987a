#include "StationViews.h"

#include "JsonEvents.h"
#include "PrintableText.h"
#include "ProgressDisplay.h"
#include "RunOutcome.h"
#include "StringTable.h"

#include <algorithm>
#include <sys/ioctl.h>
#include <unistd.h>

using namespace devupdate;
using namespace devupdate::res;
using namespace devupdate::update;
using namespace devupdate::station;

using namespace events;

namespace {

// A comment line longer than this is cut when shown: it would only flood
// the lines of the other ports.
constexpr size_t MAX_COMMENT_SHOWN = 4096;

// The port's name as given, control characters shown as escapes like any
// other text a terminal could take for a command.
std::string PortShown(const CStationPort& port)
{
    return PrintableText(port.Port());
}

// Each line of text (control characters shown as escapes) after the port's name.
std::string Prefixed(const CStationPort& port, const std::string& text)
{
    std::string lines;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find('\n', start);
        lines += PortShown(port) + ": " + PrintableText(text.substr(start, end - start)) + "\n";
        if (end == std::string::npos || end + 1 == text.size())
            return lines;
        start = end + 1;
    }
}

const char* PassResultName(int status)
{
    return status == EXIT_UPDATED ? "passed" : status == EXIT_CANCELLED ? "cancelled" : "failed";
}

std::string CountsText(const SStationCounts& counts)
{
    return res::Format("passed %u, failed %u, cancelled %u", counts.passed, counts.failed, counts.cancelled);
}

// The terminal's width in columns; 0 when unknown.
unsigned TerminalColumns()
{
    winsize size{};
    return ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

// The line cut to fit `columns` (counted in UTF-8 characters), so that the
// block can be erased by its number of lines.
std::string FitToWidth(const std::string& line, unsigned columns)
{
    if (columns == 0)
        return line;
    unsigned shown = 0;
    for (size_t i = 0; i < line.size(); ++i) {
        if ((static_cast<unsigned char>(line[i]) & 0xC0) == 0x80)
            continue;  // a continuation byte takes no column of its own
        if (++shown >= columns)
            return line.substr(0, i);
    }
    return line;
}

std::string StateText(const CStationPort& port)
{
    if (port.Closed())
        return "ended";
    return port.Answered() ? "updating" : "waiting for a device";
}

}  // namespace

CStationTextView::CStationTextView(COutputStream& out, COutputStream& err, bool live, bool quiet, bool station)
    : m_out(out),
      m_err(err),
      m_live(live && !quiet),
      m_quiet(quiet),
      m_station(station)
{
}

std::string CStationTextView::EraseBlock()
{
    const std::string erase = m_blockLines > 0 ? res::Format("\x1b[%dA\x1b[J", m_blockLines) : std::string();
    m_blockLines = 0;
    return erase;
}

void CStationTextView::Line(const std::string& text, bool keep)
{
    if (!m_live) {
        if (keep)
            m_out.Queue(text);
        else
            (void)m_out.Offer(text);
        return;
    }
    // Above the bars: the block is drawn again below the new lines.
    const int drawnLines = m_blockLines;
    const std::string shown = EraseBlock() + text + m_lastBlock;
    const int lines = static_cast<int>(std::count(m_lastBlock.begin(), m_lastBlock.end(), '\n'));
    if (keep)
        m_out.Queue(shown);
    m_blockLines = keep || m_out.Offer(shown) ? lines : drawnLines;
}

void CStationTextView::Start(const std::vector<CStationPort>& ports)
{
    // On a terminal the blocks name them.
    if (m_live || m_quiet)
        return;
    for (const CStationPort& port : ports)
        Line(Prefixed(port, port.Description()), true);
}

void CStationTextView::ChildEvent(const CStationPort& port, const std::string& line, const nlohmann::json& event)
{
    (void)line;
    if (m_quiet || !event.is_object())
        return;
    const std::string kind = JsonTextOf(event, field::EVENT);
    if (kind == name::MESSAGE) {
        // On a terminal the message line stands in the port's block.
        if (!m_live)
            Line(Prefixed(port, port.Message()), false);
    } else if (kind == name::PROGRESS) {
        if (!m_live)
            PlainProgress(port);
    } else if (kind == name::COMMENT) {
        Comment(port, event);
    } else if (kind == name::BOX) {
        const std::string text = Prefixed(port, JsonTextOf(event, field::TEXT));
        if (m_live)
            Line(text, true);
        else
            m_err.Queue(text);
    }
}

void CStationTextView::Comment(const CStationPort& port, const nlohmann::json& event)
{
    std::string& text = m_comments[port.Port()];
    if (JsonFlagOf(event, field::FIRST))
        text.clear();
    if (text.size() < MAX_COMMENT_SHOWN)
        text += JsonTextOf(event, field::TEXT).substr(0, MAX_COMMENT_SHOWN - text.size());
    if (!JsonFlagOf(event, field::LAST))
        return;
    Line(PortShown(port) + ":  " + PrintableText(text) + "\n", false);
    text.clear();
}

void CStationTextView::PlainProgress(const CStationPort& port)
{
    std::vector<int>& shown = m_tenthsShown[port.Port()];
    const std::vector<SProgressRow>& rows = port.Rows();
    shown.resize(rows.size(), 0);
    for (size_t i = 0; i < rows.size(); ++i) {
        const int tenth = std::clamp(rows[i].percent, 0, 100) / 10;
        if (tenth <= shown[i])
            continue;
        if (m_out.Offer(res::Format("%s: %s: %d%%\n", PortShown(port).c_str(), PrintableText(rows[i].name).c_str(),
                                    rows[i].percent)))
            shown[i] = tenth;
    }
}

void CStationTextView::ChildError(const CStationPort& port, const std::string& line)
{
    const std::string text = Prefixed(port, line);
    if (m_live)
        Line(text, true);
    else
        m_err.Queue(text);
}

void CStationTextView::PassLost(const CStationPort& port, const std::string& reason, int status)
{
    (void)status;
    ChildError(port, reason);
}

void CStationTextView::PassEnded(const CStationPort& port, int status)
{
    m_tenthsShown.erase(port.Port());
    m_comments.erase(port.Port());
    if (m_station && !port.Answered() && status == EXIT_CANCELLED) {
        Line(PortShown(port) + ": stopped while waiting for a device\n", true);
        return;
    }
    std::string text;
    for (const SProgressRow& row : port.Rows())
        text += res::Format("%s: %d%% %s\n", PrintableText(row.name).c_str(), row.percent, row.status.c_str());
    text += port.Message();
    if (port.Rows().empty() && !m_live) {
        // Never started (the port or the file): said on standard error, as a single run does.
        m_err.Queue(Prefixed(port, text));
        return;
    }
    if (m_station && port.Answered())
        text += res::Format("\npass %u %s (%s)", port.PassNumber(), PassResultName(status),
                            CountsText(port.Counts()).c_str());
    Line(Prefixed(port, text), true);
}

void CStationTextView::TraceKept(const CStationPort& port, const std::string& path)
{
    Line(Prefixed(port, res::Format("trace of pass %u kept as %s", port.PassNumber(), path.c_str())), true);
}

std::string CStationTextView::Block(const std::vector<CStationPort>& ports) const
{
    const unsigned columns = TerminalColumns();
    std::string block;
    const auto add = [&](const std::string& line) { block += FitToWidth(line, columns) + "\n"; };
    for (const CStationPort& port : ports) {
        add(PrintableText(port.Description()) + ": " + StateText(port) +
            (m_station ? " (" + CountsText(port.Counts()) + ")" : std::string()));
        if (port.Closed())
            continue;
        const std::string& message = port.Message();
        add("  " + PrintableText(message.substr(0, message.find('\n'))));
        for (const SProgressRow& row : port.Rows()) {
            std::string bar = ProgressBarLine({row.name, row.percent, row.status, {}});
            bar.pop_back();
            add("  " + bar);
        }
    }
    return block;
}

void CStationTextView::Refresh(const std::vector<CStationPort>& ports)
{
    if (!m_live)
        return;
    std::string block = Block(ports);
    if (block == m_lastBlock && m_blockLines > 0)
        return;
    const std::string shown = EraseBlock() + block;
    if (m_out.Offer(shown)) {
        m_lastBlock = std::move(block);
        m_blockLines = static_cast<int>(std::count(m_lastBlock.begin(), m_lastBlock.end(), '\n'));
    }
}

void CStationTextView::Summary(const std::vector<CStationPort>& ports, int exitStatus)
{
    std::string text = m_live ? EraseBlock() : std::string();
    m_lastBlock.clear();
    size_t width = std::string("Total").size();
    for (const CStationPort& port : ports)
        width = std::max(width, PortShown(port).size());
    const int w = static_cast<int>(width);
    text += res::Format("\n%-*s  %6s  %6s  %9s  %s\n", w, "Port", "Passed", "Failed", "Cancelled", "Status");
    SStationCounts total;
    for (const CStationPort& port : ports) {
        const SStationCounts& counts = port.Counts();
        text += res::Format("%-*s  %6u  %6u  %9u  %d\n", w, PortShown(port).c_str(), counts.passed, counts.failed,
                            counts.cancelled, port.ExitStatus());
        total += counts;
    }
    text += res::Format("%-*s  %6u  %6u  %9u  %d\n", w, "Total", total.passed, total.failed, total.cancelled,
                        exitStatus);
    m_out.Queue(text);
}

CStationJsonView::CStationJsonView(COutputStream& out, COutputStream& err, bool station)
    : m_out(out), m_err(err), m_station(station)
{
}

std::string CStationJsonView::PortFields(const CStationPort& port) const
{
    JsonObject fields = {{field::PORT, port.Port()}};
    if (m_station)
        fields[field::PASS] = port.PassNumber();
    return JsonFields(fields);
}

void CStationJsonView::Start(const std::vector<CStationPort>& ports)
{
    for (const CStationPort& port : ports) {
        JsonObject line = JsonEvent(name::STATION_PORT);
        line[field::PORT] = port.Port();
        line[field::DEVICE] = port.Description();
        line[field::TRACE] = port.TracePath();
        m_out.Queue(JsonLine(std::move(line)));
    }
}

void CStationJsonView::ChildEvent(const CStationPort& port, const std::string& line, const nlohmann::json& event)
{
    // The child's own line, the port put in front: nothing is lost in a re-encoding.
    if (!event.is_object() || event.empty() || line.empty() || line.front() != '{')
        return;
    m_out.Queue(JsonWithFields(PortFields(port), line));
}

void CStationJsonView::ChildError(const CStationPort& port, const std::string& line)
{
    m_err.Queue(Prefixed(port, line));
}

void CStationJsonView::PassLost(const CStationPort& port, const std::string& reason, int status)
{
    const ERunEnding ending = status == EXIT_USAGE_OR_SETUP ? ERunEnding::NotStarted : ERunEnding::Failed;
    m_out.Queue(JsonWithFields(PortFields(port), JsonLine(JsonErrorEnd(EndingName(ending), reason, status))));
}

void CStationJsonView::TraceKept(const CStationPort& port, const std::string& path)
{
    JsonObject kept = JsonEvent(name::TRACE_KEPT);
    kept[field::PATH] = path;
    m_out.Queue(JsonWithFields(PortFields(port), JsonLine(std::move(kept))));
}

void CStationJsonView::Summary(const std::vector<CStationPort>& ports, int exitStatus)
{
    SStationCounts total;
    JsonObject list = JsonObject::array();
    for (const CStationPort& port : ports) {
        const SStationCounts& counts = port.Counts();
        total += counts;
        list.push_back({{field::PORT, port.Port()},
                        {field::DEVICE, port.Description()},
                        {field::EXIT_STATUS, port.ExitStatus()},
                        {field::PASSED, counts.passed},
                        {field::FAILED, counts.failed},
                        {field::CANCELLED, counts.cancelled},
                        {field::MESSAGE, port.Message()}});
    }
    JsonObject summary = JsonEvent(name::SUMMARY);
    summary[field::EXIT_STATUS] = exitStatus;
    summary[field::PASSED] = total.passed;
    summary[field::FAILED] = total.failed;
    summary[field::CANCELLED] = total.cancelled;
    summary[field::PORTS] = std::move(list);
    m_out.Queue(JsonLine(std::move(summary)));
}
