#include "CliUpdateRun.h"

#include "CliSignals.h"
#include "CommentQueue.h"
#include "JsonEvents.h"
#include "JsonRunView.h"
#include "LatencyWarning.h"
#include "OutputFile.h"
#include "OutputStream.h"
#include "PortInfo.h"
#include "PortName.h"
#include "PrintableText.h"
#include "ProgramStart.h"
#include "RunLog.h"
#include "RunOutputs.h"
#include "RunTiming.h"
#include "ProgressDisplay.h"
#include "StringTable.h"
#include "RunFollower.h"
#include "UpdateRun.h"
#include "XsvfTrace.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <utility>
#include <unistd.h>

using namespace devupdate;
using namespace devupdate::link;
using namespace devupdate::xsvf;
using namespace devupdate::res;
using namespace devupdate::update;

namespace {

using Clock = std::chrono::steady_clock;

// How often the run is looked at: the end of a run is noticed this soon.
constexpr auto TICK = std::chrono::milliseconds(10);
// A new message is shown once it has stood this long with the run going on.
constexpr auto MESSAGE_SETTLE = std::chrono::milliseconds(50);
constexpr auto REDRAW_PERIOD = std::chrono::milliseconds(200);

struct SMessageChange {
    std::string text;
    Clock::time_point time;
};

// The text as a line: a line end is added where it has none.
std::string AsLine(const std::string& text)
{
    return !text.empty() && text.back() == '\n' ? text : text + "\n";
}

// Standard output and standard error of the run; only the main thread writes.
struct SCliOutput {
    COutputStream out{STDOUT_FILENO};
    COutputStream err{STDERR_FILENO};
};

// What the worker tells, kept for the main loop.
class CCliRunObserver final : public CRunObserver {
public:
    // quiet: XSVF comments are not wanted.
    explicit CCliRunObserver(bool quiet) : m_quiet(quiet) {}

    // The command line's message box: the text on standard error, written
    // by the main loop (the worker must not wait for a reader).
    void ShowMessageBox(const std::string& text) override
    {
        std::lock_guard<std::mutex> lock(m_changeMutex);
        m_boxes.push_back(AsLine(text));
    }

    void OnXsvfComment(const SXsvfCommentPiece& piece) override
    {
        if (!m_quiet)
            m_comments.Push(piece);
    }

    std::deque<std::string> TakeMessageBoxes()
    {
        std::lock_guard<std::mutex> lock(m_changeMutex);
        return std::exchange(m_boxes, {});
    }
    std::deque<SCommentPiece> TakeComments() { return m_comments.Take(); }

    // Every change of the message line since the last call, oldest first.
    std::deque<SMessageChange> TakeChanges()
    {
        std::lock_guard<std::mutex> lock(m_changeMutex);
        return std::exchange(m_changes, {});
    }

    void OnMessageChanged(const std::string& text) override
    {
        std::lock_guard<std::mutex> lock(m_changeMutex);
        m_changes.push_back({text, Clock::now()});
    }

private:
    bool m_quiet;
    std::mutex m_changeMutex;
    std::deque<SMessageChange> m_changes;
    std::deque<std::string> m_boxes;
    CCommentQueue m_comments;
};

std::vector<SProgressRow> CollectRows(const SRunSnapshot& snapshot)
{
    std::vector<SProgressRow> rows;
    for (const SRunSnapshot::SRow& row : snapshot.rows)
        rows.push_back({TrimName(row.name), row.percent, row.status, {}});
    return rows;
}

// Follows a running update until the worker has ended.
class CRunMonitor {
public:
    // json: the view is a CJsonRunView, which also takes the worker's boxes.
    CRunMonitor(CUpdateRun& run, CCliRunObserver& heard, const SCliOptions& options, const sigset_t& signals,
                SCliOutput& output, CRunView& view, CJsonRunView* json)
        : m_run(run), m_heard(heard), m_follower(run), m_options(options), m_signals(signals), m_output(output),
          m_display(view), m_json(json)
    {
    }

    void Follow();

private:
    void HandleSignal(int signal);
    // XSVF comment lines and the worker's message boxes, in order of arrival.
    void ShowWorkerOutput();
    void CheckWakeupTimeout();
    // Programs learn when the device answered: from then on a cancel asks first.
    void ReportAnswer();
    void Refresh();
    // The rows' and the run's time figures as of now.
    void TakeTimes(std::vector<SProgressRow>& rows, Clock::time_point now);
    // At the end: every change not shown yet, but the final message.
    void FlushChanges();
    // Every change not shown yet, in order; the newest one only when
    // withCurrent (it is the run's final message at the end).
    void ShowChangesSoFar(bool withCurrent);

    CUpdateRun& m_run;
    CCliRunObserver& m_heard;
    CRunFollower m_follower;
    const SCliOptions& m_options;
    const sigset_t& m_signals;
    SCliOutput& m_output;
    CRunView& m_display;
    CJsonRunView* m_json;
    CRunTiming m_timing{m_run.Snapshot().rows.size()};
    Clock::time_point m_start = Clock::now();
    Clock::time_point m_lastRedraw{};
    std::deque<SMessageChange> m_pending;
    bool m_warned = false;
    bool m_cancelled = false;
    bool m_wakeupTimedOut = false;
};

void CRunMonitor::Follow()
{
    // The text the run starts with heads the changes. The worker may already
    // have changed it ("running update" once the device answered): those
    // changes follow in order, never in place of the first.
    m_pending = m_heard.TakeChanges();
    if (m_pending.empty()) {
        m_display.ShowMessage(m_run.Message());
    } else {
        m_display.ShowMessage(m_pending.front().text);
        m_pending.pop_front();
    }
    m_display.ShowRows(CollectRows(m_follower.Look()));
    while (m_follower.Active()) {
        const int signal = WaitForSignal(m_signals, TICK);
        if (signal > 0)
            HandleSignal(signal);
        CheckWakeupTimeout();
        ReportAnswer();
        Refresh();
        ShowWorkerOutput();
        m_output.err.Pump();
    }
    // A run that answered and ended between two looks (or before the first)
    // still tells that its device answered: a station counts only such runs.
    ReportAnswer();
    ShowWorkerOutput();
    FlushChanges();
    // Programs get every row's last state as progress; people get the rows
    // printed with the outcome.
    if (m_json != nullptr)
        m_json->ShowRows(CollectRows(m_follower.Look()));
    m_display.Finish();
}

void CRunMonitor::ShowWorkerOutput()
{
    const std::deque<SCommentPiece> comments = m_heard.TakeComments();
    // The messages the worker set before the comment come first, settled or
    // not; once the run has ended its newest message is the final one.
    if (!comments.empty())
        ShowChangesSoFar(m_follower.Active());
    for (const SCommentPiece& piece : comments)
        m_display.ShowComment(piece.text, piece.starts, piece.ends);
    for (const std::string& box : m_heard.TakeMessageBoxes()) {
        if (m_json != nullptr)
            m_json->ShowBox(box);
        else
            m_output.err.Queue(box);
    }
}

void CRunMonitor::FlushChanges()
{
    ShowChangesSoFar(false);
}

void CRunMonitor::ShowChangesSoFar(bool withCurrent)
{
    std::deque<SMessageChange> changes = m_heard.TakeChanges();
    m_pending.insert(m_pending.end(), changes.begin(), changes.end());
    if (!withCurrent && !m_pending.empty() && m_pending.back().text == m_run.Message())
        m_pending.pop_back();
    for (const SMessageChange& change : m_pending)
        m_display.ShowMessage(change.text);
    m_pending.clear();
}

void CRunMonitor::HandleSignal(int signal)
{
    if (!m_run.DeviceAnswered()) {
        // Nothing but wake-up bytes went out: any of the signals ends the run.
        m_run.RequestCancel();
        m_cancelled = true;
        return;
    }
    // A hang-up or quit once the device answered: a device cut off in the
    // middle may not be operable, and nobody is left to answer a question.
    if (signal == SIGHUP || signal == SIGQUIT)
        return;
    if (signal == SIGINT && !m_warned) {
        m_warned = true;
        // What the run said before the user pressed Ctrl-C comes first, even
        // a change that has not stood long enough yet.
        ShowChangesSoFar(true);
        m_display.ShowMessage(res::LoadString(res::IDS_CANCEL_WARNING));
        m_display.ShowMessage("Press Ctrl-C again to cancel.");
        return;
    }
    if (!m_cancelled) {
        // Only asked: the worker's ending decides whether the run was cancelled.
        m_run.ConfirmCancel();
        m_cancelled = true;
    }
}

void CRunMonitor::CheckWakeupTimeout()
{
    if (m_options.wakeupTimeoutSeconds <= 0 || m_run.DeviceAnswered() || m_wakeupTimedOut)
        return;
    if (Clock::now() - m_start >= std::chrono::duration<double>(m_options.wakeupTimeoutSeconds)) {
        m_wakeupTimedOut = true;
        m_run.GiveUpWaking(m_options.wakeupTimeoutSeconds);
    }
}

void CRunMonitor::ReportAnswer()
{
    if (m_json == nullptr || !m_follower.TakeAnswer())
        return;
    // The messages before the answer come first; once the run has ended its
    // newest message is the final one.
    ShowChangesSoFar(m_follower.Active());
    m_json->ShowAnswer();
}

void CRunMonitor::TakeTimes(std::vector<SProgressRow>& rows, Clock::time_point now)
{
    std::vector<int> percents;
    for (const SProgressRow& row : rows)
        percents.push_back(row.percent);
    // Before the device answered no target is being worked on.
    const SRunSnapshot& seen = m_follower.Seen();
    const int current = seen.deviceAnswered ? seen.currentTarget : -1;
    m_timing.Observe(current, percents, seen.bytesWritten, now);
    for (size_t i = 0; i < rows.size(); ++i)
        rows[i].timing = m_timing.RowText(i);
    m_display.ShowRunTiming(m_timing.RunText());
}

void CRunMonitor::Refresh()
{
    const bool active = m_follower.Active();
    std::deque<SMessageChange> changes = m_heard.TakeChanges();
    m_pending.insert(m_pending.end(), changes.begin(), changes.end());
    // Every change is shown in order. The newest one waits to settle: the text
    // a run ends with is written just before the end, and it is the final
    // message, printed after the rows rather than as a change.
    const Clock::time_point now = Clock::now();
    while (!m_pending.empty()) {
        const bool newest = m_pending.size() == 1;
        // Programs get every event at once, in order.
        const auto settle = m_json != nullptr ? Clock::duration::zero() : Clock::duration(MESSAGE_SETTLE);
        if (!active || (newest && now - m_pending.front().time < settle))
            break;
        m_display.ShowMessage(m_pending.front().text);
        m_pending.pop_front();
    }
    // The time figures change while nothing else does: redrawn every period,
    // once the messages before them are out.
    if (active && now - m_lastRedraw >= REDRAW_PERIOD && m_pending.empty()) {
        (void)m_follower.TakeRefresh();
        m_lastRedraw = now;
        std::vector<SProgressRow> rows = CollectRows(m_follower.Look());
        TakeTimes(rows, now);
        m_display.ShowRows(rows);
    }
}

CUpdateRun::SRunPort RunPortOf(const std::string& port)
{
    const int number = ComPortNumber(port);
    if (number == 0)
        return {port, port};
    return {ComDeviceName(static_cast<unsigned>(number)), ComShortName(static_cast<unsigned>(number))};
}

// Without --port the user should see which device the default reaches.
std::string DefaultPortLine(const std::string& port, const std::string& deviceName)
{
    const std::string where = ShownPortPath(RoutePortName(deviceName, SPortPlaces::ForThisProcess()));
    return "Port " + port + ": " + where + "\n";
}

// The final rows and message are never dropped: they wait for the reader.
void QueueOutcome(const CUpdateRun& run, const SRunOutcome& outcome, COutputStream& out)
{
    for (const SProgressRow& row : CollectRows(run.Snapshot()))
        out.Queue(res::Format("%s: %d%% %s\n", PrintableText(row.name).c_str(), row.percent, row.status.c_str()));
    out.Queue(outcome.message + "\n");
}

// The device a port name reached: the end of its links.
std::string DeviceReached(const std::string& deviceName)
{
    const std::string resolved = ResolvePortName(deviceName);
    char* real = realpath(resolved.c_str(), nullptr);
    if (real == nullptr)
        return resolved;
    std::string device = real;
    std::free(real);
    return device;
}

// The adapter's serial number, where the device has one.
std::string SerialNumberOf(const std::string& device)
{
    if (device.empty())
        return {};
    const std::optional<SPortInfo> info = FindSerialPort(device, SPortPlaces::ForThisProcess());
    return info ? info->serialNumber : std::string();
}

int ReportUsageError(const std::string& error, const SCliOptions& options, SCliOutput& output,
                     const sigset_t& signals)
{
    if (options.json)
        output.out.Queue(JsonLine(JsonErrorEnd(events::ending::USAGE_ERROR, error, EXIT_USAGE_OR_SETUP)));
    else
        output.err.Queue(ProgramName("update-cli") + ": " + error + "\n");
    DrainOutputs(output.err, output.out, signals);
    return EXIT_USAGE_OR_SETUP;
}

// A run signal came while the update file (a FIFO) had no writer yet:
// nothing was sent, so any of them ends the run as a cancel.
int ReportCancelledWait(const SCliOptions& options, SCliOutput& output, const sigset_t& signals)
{
    SRunOutcome outcome;
    outcome.ending = ERunEnding::Cancelled;
    outcome.message = res::LoadString(res::IDS_CANCELLED_BY_USER);
    const int status = ExitStatusOf(outcome);
    if (options.json)
        output.out.Queue(JsonLine(JsonErrorEnd(EndingName(outcome.ending), outcome.message, status)));
    else
        output.err.Queue(AsLine(outcome.message));
    DrainOutputs(output.err, output.out, signals);
    return status;
}

}  // namespace

int RunUpdate(const SCliOptions& options)
{
    // Before the port is opened: a signal must never leave the line raw and locked.
    const sigset_t signals = BlockRunSignals();
    SCliOutput output;
    const std::string tracePath =
        options.traceDir.empty() ? options.traceFile : options.traceDir + "/" + CXsvfTrace::FILE_NAME;
    const std::string clash = RunOutputsClash(options.file, options.logFile,
                                              {tracePath.empty() ? std::string(CXsvfTrace::FILE_NAME) : tracePath});
    if (!clash.empty())
        return ReportUsageError(clash, options, output, signals);
    // A FIFO is opened by the run once its writer has written; a signal ends the wait.
    CUpdateFileWait fileWait;
    if (!fileWait.WaitUntilReadable(options.file))
        return ReportCancelledWait(options, output, signals);
    CCliRunObserver heard(options.quiet && !options.json);
    // Declared after what its observer uses: destroyed first.
    CUpdateRun run(heard);
    run.SetFileName(options.file);
    run.SetRequireSignature(options.requireSignature);
    run.SetTracePath(tracePath);
    CRunLog log(options.logFile, options.file);
    if (!log.OpenError().empty())
        output.err.Queue(AsLine(log.OpenError()));
    const CUpdateRun::SRunPort port = RunPortOf(options.port);
    if (!options.portGiven && !options.json)
        output.out.Queue(DefaultPortLine(options.port, port.deviceName));
    const bool prepared = run.PrepareRun(port);
    bool started = prepared;
    if (started) {
        const std::string latency = LatencyWarning(port.deviceName, options.file);
        if (!latency.empty())
            output.err.Queue(AsLine(latency));
        started = run.StartRun();
    }
    const std::string device = prepared ? DeviceReached(port.deviceName) : std::string();
    log.SetPort(options.port, device, SerialNumberOf(device));
    SRunOutcome outcome;
    if (started) {
        std::unique_ptr<CRunView> view;
        CJsonRunView* json = nullptr;
        if (options.json) {
            auto jsonView = std::make_unique<CJsonRunView>(output.out);
            json = jsonView.get();
            view = std::move(jsonView);
        } else {
            view = std::make_unique<CProgressDisplay>(output.out, output.out.IsTerminal(), options.quiet);
        }
        CRunMonitor monitor(run, heard, options, signals, output, *view, json);
        monitor.Follow();
    }
    outcome = run.FinishRun();
    const int status = ExitStatusOf(outcome);
    if (options.json) {
        JsonObject end = JsonEndEvent(outcome, status);
        end[events::field::SIGNATURE] = JsonSignature(run.Signature());
        output.out.Queue(JsonLine(std::move(end)));
    } else if (!started) {
        output.err.Queue(AsLine(outcome.message));
    } else {
        if (outcome.ending == ERunEnding::WakeupTimeout)
            output.err.Queue(AsLine(outcome.message));
        QueueOutcome(run, outcome, output.out);
    }
    // A station's pass that no device answered was only waiting: no record.
    const bool answered = run.DeviceAnswered();
    const bool waitedOnly = options.stationPass && !answered && outcome.ending == ERunEnding::Cancelled;
    log.SetSignature(JsonSignature(run.Signature()));
    const std::string logProblem = waitedOnly ? std::string() : log.Append(outcome, status, answered);
    if (!logProblem.empty())
        output.err.Queue(AsLine(logProblem));
    DrainOutputs(output.err, output.out, signals);
    return status;
}
