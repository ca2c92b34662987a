#include "CliUpdateRun.h"

#include "LatencyWarning.h"
#include "PortOpenFailure.h"
#include "ProgressDisplay.h"
#include "StringTable.h"
#include "UpdateRunState.h"

#include <chrono>
#include <csignal>
#include <cstdio>
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

class CCliRunState : public CUpdateRunState {
public:
    // The command line's message box: the text on standard error.
    void ShowMessageBox(const std::string& text) override
    {
        std::fprintf(stderr, "%s%s", text.c_str(), !text.empty() && text.back() == '\n' ? "" : "\n");
    }

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
    std::mutex m_changeMutex;
    std::deque<SMessageChange> m_changes;
};

void PrintError(const std::string& text)
{
    std::fprintf(stderr, "%s%s", text.c_str(), !text.empty() && text.back() == '\n' ? "" : "\n");
}

// SIGINT and SIGTERM are taken synchronously by the main loop, never in
// the middle of a frame; the worker thread inherits the blocked mask.
sigset_t BlockCancelSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    return set;
}

int WaitForSignal(const sigset_t& set, std::chrono::milliseconds timeout)
{
    timespec wait{};
    wait.tv_sec = static_cast<time_t>(timeout.count() / 1000);
    wait.tv_nsec = static_cast<long>(timeout.count() % 1000) * 1000000L;
    return sigtimedwait(&set, nullptr, &wait);
}

std::vector<SProgressRow> CollectRows(const CUpdateRunState& run)
{
    std::vector<SProgressRow> rows;
    for (unsigned i = 0; i < run.m_targetCount; ++i)
        rows.push_back({TrimName(run.m_targetName[i]), run.m_targetResult[i].percent.load(), run.TargetStatus(i)});
    return rows;
}

// Follows a running update until the worker has ended.
class CRunMonitor {
public:
    CRunMonitor(CCliRunState& run, const SCliOptions& options, const sigset_t& signals)
        : m_run(run), m_options(options), m_signals(signals),
          m_display(stdout, isatty(STDOUT_FILENO) == 1, options.quiet)
    {
    }

    void Follow();
    bool CancelledByUser() const { return m_cancelled; }
    bool WakeupTimedOut() const { return m_wakeupTimedOut; }

private:
    void HandleSignal(int signal);
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
    }
    FlushChanges();
    m_display.Finish();
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
        m_run.RequestCancel();
        m_cancelled = true;
        return;
    }
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
        m_run.ConfirmCancel();
        m_cancelled = true;
        // The cancel's own text is the run's final message, not a change to report.
        std::deque<SMessageChange> changes = m_run.TakeChanges();
        if (!changes.empty() && changes.back().text == m_run.Message())
            changes.pop_back();
        m_pending.insert(m_pending.end(), changes.begin(), changes.end());
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
void PrintDefaultPort(const std::string& port, const std::string& deviceName)
{
    const std::string where = ShownPortPath(RoutePortName(deviceName, SPortPlaces::ForThisProcess()));
    std::printf("Port %s: %s\n", port.c_str(), where.c_str());
    std::fflush(stdout);
}

int ExitStatusOf(const CUpdateRunState& run, const CRunMonitor& monitor)
{
    if (monitor.WakeupTimedOut())
        return EXIT_WAKEUP_TIMEOUT;
    if (run.m_runState == RunEnded && monitor.CancelledByUser())
        return EXIT_CANCELLED;
    const int count = static_cast<int>(run.m_targetCount);
    const std::string allUpdated = res::Format(res::LoadString(res::IDS_TARGETS_UPDATED).c_str(), count, count);
    return run.m_runState == RunEndedWithMessage && run.Message() == allUpdated ? EXIT_UPDATED : EXIT_RUN_FAILED;
}

void PrintOutcome(const CUpdateRunState& run)
{
    for (const SProgressRow& row : CollectRows(run))
        std::printf("%s: %d%% %s\n", row.name.c_str(), row.percent, row.status.c_str());
    std::printf("%s\n", run.Message().c_str());
    std::fflush(stdout);
}

}  // namespace

int RunUpdate(const SCliOptions& options)
{
    CCliRunState run;
    run.m_fileName = options.file;
    const CUpdateRunState::SCheckResult check = run.CheckUpdateFileHeader();
    if (!check.ok) {
        PrintError(check.message);
        return EXIT_USAGE_OR_SETUP;
    }
    std::string shortName;
    const std::string deviceName = PortDeviceName(options.port, shortName);
    if (!options.portGiven)
        PrintDefaultPort(options.port, deviceName);
    if (!run.OpenAndDrainPort(deviceName)) {
        run.CloseUpdateFile();
        PrintError(res::Format(res::LoadString(res::IDS_PORT_IN_USE).c_str(), shortName.c_str()) +
                   ExplainPortOpenFailure(deviceName, run.m_comPort.LastErrno()));
        return EXIT_USAGE_OR_SETUP;
    }
    const std::string latency = LatencyWarning(deviceName, options.file);
    if (!latency.empty())
        PrintError(latency);
    run.PrepareRun();
    const sigset_t signals = BlockCancelSignals();
    if (!run.LaunchWorker()) {
        run.ReleaseRunResources();
        PrintError("Error: the update could not be started.\n");
        return EXIT_USAGE_OR_SETUP;
    }
    CRunMonitor monitor(run, options, signals);
    monitor.Follow();
    run.ReleaseRunResources();
    if (monitor.WakeupTimedOut())
        PrintError(res::Format("No answer from the device within %g seconds.", options.wakeupTimeoutSeconds));
    PrintOutcome(run);
    const int status = ExitStatusOf(run, monitor);
    run.m_runState = RunIdle;
    return status;
}
