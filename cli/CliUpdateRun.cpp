#include "CliUpdateRun.h"

#include "CliSignals.h"
#include "CommentQueue.h"
#include "LatencyWarning.h"
#include "OutputStream.h"
#include "PortOpenFailure.h"
#include "PrintableText.h"
#include "ProgressDisplay.h"
#include "StringTable.h"
#include "UpdateRunState.h"

#include <chrono>
#include <csignal>
#include <deque>
#include <mutex>
#include <utility>
#include <unistd.h>

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

class CCliRunState : public CUpdateRunState {
public:
    explicit CCliRunState(bool quiet) : m_quiet(quiet) {}

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

protected:
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

std::vector<SProgressRow> CollectRows(const CUpdateRunState& run)
{
    std::vector<SProgressRow> rows;
    for (unsigned i = 0; i < run.m_targetCount; ++i)
        rows.push_back({PrintableText(TrimName(run.m_targetName[i])), run.m_targetResult[i].percent.load(),
                        run.TargetStatus(i)});
    return rows;
}

// Follows a running update until the worker has ended.
class CRunMonitor {
public:
    CRunMonitor(CCliRunState& run, const SCliOptions& options, const sigset_t& signals, SCliOutput& output)
        : m_run(run), m_options(options), m_signals(signals), m_output(output),
          m_display(output.out, output.out.IsTerminal(), options.quiet)
    {
    }

    void Follow();
    bool WakeupTimedOut() const { return m_wakeupTimedOut; }

private:
    void HandleSignal(int signal);
    // XSVF comment lines and the worker's message boxes, in order of arrival.
    void ShowWorkerOutput();
    void CheckWakeupTimeout();
    void Refresh();
    // At the end: every change not shown yet, but the final message.
    void FlushChanges();
    // Every change not shown yet, in order; the newest one only when
    // withCurrent (it is the run's final message at the end).
    void ShowChangesSoFar(bool withCurrent);

    CCliRunState& m_run;
    const SCliOptions& m_options;
    const sigset_t& m_signals;
    SCliOutput& m_output;
    CProgressDisplay m_display;
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
    m_pending = m_run.TakeChanges();
    if (m_pending.empty()) {
        m_display.ShowMessage(m_run.Message());
    } else {
        m_display.ShowMessage(m_pending.front().text);
        m_pending.pop_front();
    }
    m_display.ShowRows(CollectRows(m_run));
    while (m_run.m_runState == RunActive) {
        const int signal = WaitForSignal(m_signals, TICK);
        if (signal > 0)
            HandleSignal(signal);
        CheckWakeupTimeout();
        Refresh();
        ShowWorkerOutput();
        m_output.err.Pump();
    }
    ShowWorkerOutput();
    FlushChanges();
    m_display.Finish();
}

void CRunMonitor::ShowWorkerOutput()
{
    const std::deque<SCommentPiece> comments = m_run.TakeComments();
    // The messages the worker set before the comment come first, settled or
    // not; once the run has ended its newest message is the final one.
    if (!comments.empty())
        ShowChangesSoFar(m_run.m_runState == RunActive);
    for (const SCommentPiece& piece : comments)
        m_display.ShowComment(piece.text, piece.starts, piece.ends);
    for (const std::string& box : m_run.TakeMessageBoxes())
        m_output.err.Queue(box);
}

void CRunMonitor::FlushChanges()
{
    ShowChangesSoFar(false);
}

void CRunMonitor::ShowChangesSoFar(bool withCurrent)
{
    std::deque<SMessageChange> changes = m_run.TakeChanges();
    m_pending.insert(m_pending.end(), changes.begin(), changes.end());
    if (!withCurrent && !m_pending.empty() && m_pending.back().text == m_run.Message())
        m_pending.pop_back();
    for (const SMessageChange& change : m_pending)
        m_display.ShowMessage(change.text);
    m_pending.clear();
}

void CRunMonitor::HandleSignal(int signal)
{
    if (m_run.m_deviceAnswered == 0) {
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
    if (m_options.wakeupTimeoutSeconds <= 0 || m_run.m_deviceAnswered != 0 || m_wakeupTimedOut)
        return;
    if (Clock::now() - m_start >= std::chrono::duration<double>(m_options.wakeupTimeoutSeconds)) {
        m_wakeupTimedOut = true;
        m_run.RequestCancel();
    }
}

void CRunMonitor::Refresh()
{
    const bool active = m_run.m_runState == RunActive;
    std::deque<SMessageChange> changes = m_run.TakeChanges();
    m_pending.insert(m_pending.end(), changes.begin(), changes.end());
    // Every change is shown in order. The newest one waits to settle: the text
    // a run ends with is written just before the end, and it is the final
    // message, printed after the rows rather than as a change.
    const Clock::time_point now = Clock::now();
    while (!m_pending.empty()) {
        const bool newest = m_pending.size() == 1;
        if (!active || (newest && now - m_pending.front().time < MESSAGE_SETTLE))
            break;
        m_display.ShowMessage(m_pending.front().text);
        m_pending.pop_front();
    }
    if (active && m_run.m_refreshPending != 0 && now - m_lastRedraw >= REDRAW_PERIOD) {
        m_run.m_refreshPending = 0;
        m_lastRedraw = now;
        m_display.ShowRows(CollectRows(m_run));
    }
}

std::string PortDeviceName(const std::string& port, std::string& shortName)
{
    const int number = ComPortNumber(port);
    if (number == 0) {
        shortName = port;
        return port;
    }
    shortName = res::Format("COM%d", number);
    return res::Format("\\\\.\\COM%d", number);
}

// Without --port the user should see which device the default reaches.
void PrintDefaultPort(const std::string& port, const std::string& deviceName, COutputStream& out)
{
    const std::string where = ShownPortPath(RoutePortName(deviceName, SPortPlaces::ForThisProcess()));
    out.Queue(res::Format("Port %s: %s\n", port.c_str(), where.c_str()));
}

int ExitStatusOf(const CUpdateRunState& run, const CRunMonitor& monitor)
{
    if (run.m_endedByCancel != 0)
        return monitor.WakeupTimedOut() ? EXIT_WAKEUP_TIMEOUT : EXIT_CANCELLED;
    const int count = static_cast<int>(run.m_targetCount);
    const std::string allUpdated = res::Format(res::LoadString(res::IDS_TARGETS_UPDATED).c_str(), count, count);
    return run.m_runState == RunEndedWithMessage && run.Message() == allUpdated ? EXIT_UPDATED : EXIT_RUN_FAILED;
}

// The final rows and message are never dropped: they wait for the reader.
void QueueOutcome(const CUpdateRunState& run, COutputStream& out)
{
    for (const SProgressRow& row : CollectRows(run))
        out.Queue(res::Format("%s: %d%% %s\n", row.name.c_str(), row.percent, row.status.c_str()));
    out.Queue(run.Message() + "\n");
}

// Waits for the readers of what is queued, or until a signal says to stop
// waiting: the run is over, only its report is left.
void DrainOutput(SCliOutput& output, const sigset_t& signals)
{
    bool stop = false;
    const auto giveUp = [&] {
        stop = stop || WaitForSignal(signals, std::chrono::milliseconds(0)) > 0;
        return stop;
    };
    output.err.Drain(giveUp);
    output.out.Drain(giveUp);
}

// An error before the run started, reported at once.
int FailBeforeRun(SCliOutput& output, const sigset_t& signals, const std::string& text)
{
    output.err.Queue(AsLine(text));
    DrainOutput(output, signals);
    return EXIT_USAGE_OR_SETUP;
}

}  // namespace

int RunUpdate(const SCliOptions& options)
{
    // Before the port is opened: a signal must never leave the line raw and locked.
    const sigset_t signals = BlockRunSignals();
    SCliOutput output;
    CCliRunState run(options.quiet);
    run.m_fileName = options.file;
    const CUpdateRunState::SCheckResult check = run.CheckUpdateFileHeader();
    if (!check.ok)
        return FailBeforeRun(output, signals, check.message);
    std::string shortName;
    const std::string deviceName = PortDeviceName(options.port, shortName);
    if (!options.portGiven)
        PrintDefaultPort(options.port, deviceName, output.out);
    if (!run.OpenAndDrainPort(deviceName)) {
        run.CloseUpdateFile();
        return FailBeforeRun(output, signals,
                             res::Format(res::LoadString(res::IDS_PORT_IN_USE).c_str(), shortName.c_str()) +
                                 ExplainPortOpenFailure(deviceName, run.m_comPort.LastErrno()));
    }
    const std::string latency = LatencyWarning(deviceName, options.file);
    if (!latency.empty())
        output.err.Queue(AsLine(latency));
    run.PrepareRun();
    if (!run.LaunchWorker()) {
        run.ReleaseRunResources();
        return FailBeforeRun(output, signals, "Error: the update could not be started.\n");
    }
    CRunMonitor monitor(run, options, signals, output);
    monitor.Follow();
    run.ReleaseRunResources();
    if (monitor.WakeupTimedOut() && run.m_endedByCancel != 0)
        output.err.Queue(
            AsLine(res::Format("No answer from the device within %g seconds.", options.wakeupTimeoutSeconds)));
    QueueOutcome(run, output.out);
    DrainOutput(output, signals);
    const int status = ExitStatusOf(run, monitor);
    run.m_runState = RunIdle;
    return status;
}
