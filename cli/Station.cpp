#include "Station.h"

#include "CliSignals.h"
#include "JsonLine.h"
#include "JsonRunView.h"
#include "OutputFile.h"
#include "OutputStream.h"
#include "PortCommands.h"
#include "PortInfo.h"
#include "RunOutcome.h"
#include "RunOutputs.h"
#include "StationChild.h"
#include "StationPort.h"
#include "StationView.h"
#include "StringTable.h"
#include "XsvfTrace.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <ctime>
#include <set>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The live figures are drawn again at most this often.
constexpr int TICK_MS = 100;

// The port's short name for its trace file: ComN as ComN, a device path by
// its last part; anything but letters, digits, '.', '-' and '_' becomes '_'.
std::string ShortPortName(const std::string& port)
{
    if (const int number = ComPortNumber(port); number > 0)
        return "Com" + std::to_string(number);
    std::string name = port.substr(port.find_last_of('/') + 1);
    for (char& c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                           c == '-' || c == '_';
        if (!plain)
            c = '_';
    }
    return name.empty() ? "port" : name;
}

// What a run opens for the port: ComN's link or default device, or the path.
std::string PortPath(const std::string& port, const SPortPlaces& places)
{
    const int number = ComPortNumber(port);
    return number > 0 ? RoutePortName("COM" + std::to_string(number), places).path : port;
}

// The port and where it leads, as --list-ports says it, with its adapter.
std::string PortDescription(const std::string& port, const SPortPlaces& places)
{
    const int number = ComPortNumber(port);
    std::string text = number > 0 ? ComPortMapping(static_cast<unsigned>(number), places) : port;
    const std::string path = PortPath(port, places);
    if (number == 0) {
        const std::string device = CanonicalPath(port);
        if (!device.empty() && device != port)
            text += " -> " + device;
    }
    if (const std::optional<SPortInfo> info = FindSerialPort(path, places)) {
        const std::string adapter = DescribeAdapter(*info);
        if (!adapter.empty())
            text += ", " + adapter;
    }
    return text;
}

// The device a port leads to, for finding one port given twice; the name
// itself when it leads nowhere yet.
std::string PortIdentity(const std::string& port, const SPortPlaces& places)
{
    const std::string path = PortPath(port, places);
    const std::string device = CanonicalPath(path);
    return device.empty() ? path : device;
}

class CStation {
public:
    CStation(const SCliOptions& options, std::vector<CStationPort> ports, CStationView& view, COutputStream& out,
             COutputStream& err, const sigset_t& signals);
    ~CStation();

    int Run();

private:
    void StartPass(size_t index);
    std::vector<std::string> PassArguments(const CStationPort& port) const;
    void Poll();
    void TakeSignals();
    void HandleSignal(int signal);
    void ReadChild(size_t index, int fd);
    void EndPassWhenDone(size_t index);
    // Moves the port's trace to xsvf_debug-PORT-passN.txt: the next pass
    // would overwrite the record of a failed one.
    void KeepTrace(size_t index);
    bool AnyPortOpen() const;
    int ExitStatus() const;

    const SCliOptions& m_options;
    std::vector<CStationPort> m_ports;
    std::vector<std::unique_ptr<CStationChild>> m_children;
    // Per port: when its pass began, by the clock file times come from.
    std::vector<timespec> m_passStart;
    CStationView& m_view;
    COutputStream& m_out;
    COutputStream& m_err;
    const sigset_t& m_signals;
    int m_signalFd = -1;
    bool m_stopping = false;
};

CStation::CStation(const SCliOptions& options, std::vector<CStationPort> ports, CStationView& view,
                   COutputStream& out, COutputStream& err, const sigset_t& signals)
    : m_options(options),
      m_ports(std::move(ports)),
      m_children(m_ports.size()),
      m_passStart(m_ports.size()),
      m_view(view),
      m_out(out),
      m_err(err),
      m_signals(signals)
{
    m_signalFd = signalfd(-1, &m_signals, SFD_CLOEXEC | SFD_NONBLOCK);
}

CStation::~CStation()
{
    if (m_signalFd >= 0)
        (void)close(m_signalFd);  // nothing written through it
}

std::vector<std::string> CStation::PassArguments(const CStationPort& port) const
{
    std::vector<std::string> args = {"update-cli", "--json", "--port", port.Port(), "--trace", port.TracePath()};
    // Without --station each port's run is recorded as a single run would be.
    if (m_options.station)
        args.push_back("--station-pass");
    if (m_options.wakeupTimeoutSeconds > 0)
        args.insert(args.end(), {"--wakeup-timeout", res::Format("%.17g", m_options.wakeupTimeoutSeconds)});
    if (!m_options.logFile.empty())
        args.insert(args.end(), {"--log", m_options.logFile});
    // A file name that looks like an option stays a file name.
    args.push_back(!m_options.file.empty() && m_options.file[0] == '-' && m_options.file != "-" ? "./" + m_options.file
                                                                                                 : m_options.file);
    return args;
}

void CStation::StartPass(size_t index)
{
    CStationPort& port = m_ports[index];
    port.BeginPass();
    (void)clock_gettime(CLOCK_REALTIME_COARSE, &m_passStart[index]);  // fails only for an unknown clock
    auto child = std::make_unique<CStationChild>();
    std::string error;
    if (!child->Start(PassArguments(port), error)) {
        const std::string reason = "update-cli: cannot start the run on " + port.Port() + ": " + error;
        m_view.PassLost(port, reason, EXIT_USAGE_OR_SETUP);
        m_view.PassEnded(port, port.EndPass(EXIT_USAGE_OR_SETUP, m_stopping));
        port.Close();
        return;
    }
    m_children[index] = std::move(child);
}

int CStation::Run()
{
    if (m_signalFd < 0) {
        m_err.Queue(std::string("update-cli: signalfd: ") + std::strerror(errno) + "\n");
        return EXIT_USAGE_OR_SETUP;
    }
    m_view.Start(m_ports);
    for (size_t i = 0; i < m_ports.size(); ++i)
        StartPass(i);
    while (AnyPortOpen()) {
        Poll();
        for (size_t i = 0; i < m_ports.size(); ++i)
            EndPassWhenDone(i);
        m_view.Refresh(m_ports);
        m_out.Pump();
        m_err.Pump();
    }
    const int status = ExitStatus();
    m_view.Summary(m_ports, status);
    return status;
}

void CStation::Poll()
{
    std::vector<pollfd> fds = {{m_signalFd, POLLIN, 0}};
    std::vector<std::pair<size_t, int>> owners = {{0, -1}};
    for (size_t i = 0; i < m_children.size(); ++i) {
        if (!m_children[i])
            continue;
        for (const int fd : {m_children[i]->OutFd(), m_children[i]->ErrFd()}) {
            if (fd >= 0) {
                fds.push_back({fd, POLLIN, 0});
                owners.emplace_back(i, fd);
            }
        }
    }
    const int ready = poll(fds.data(), fds.size(), TICK_MS);
    if (ready <= 0)
        return;  // a tick, or EINTR: looked at again on the next round
    if (fds[0].revents != 0)
        TakeSignals();
    for (size_t k = 1; k < fds.size(); ++k) {
        if (fds[k].revents != 0)
            ReadChild(owners[k].first, owners[k].second);
    }
}

void CStation::TakeSignals()
{
    signalfd_siginfo info{};
    while (read(m_signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
        HandleSignal(static_cast<int>(info.ssi_signo));
}

void CStation::HandleSignal(int signal)
{
    // No new pass starts. Each run is told what a single run would be told:
    // one that waits for its device ends at once; one whose device answered
    // asks on the first Ctrl-C and is cancelled on the second (SIGTERM
    // cancels at once; SIGHUP and SIGQUIT let it finish).
    m_stopping = true;
    for (const std::unique_ptr<CStationChild>& child : m_children) {
        if (child)
            child->Signal(signal);
    }
}

void CStation::ReadChild(size_t index, int fd)
{
    CStationChild& child = *m_children[index];
    CStationPort& port = m_ports[index];
    std::vector<std::string> lines;
    const bool events = fd == child.OutFd();
    child.ReadLines(fd, lines);
    for (const std::string& line : lines) {
        if (!events) {
            m_view.ChildError(port, line);
            continue;
        }
        const nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
        if (event.is_discarded())
            continue;
        port.Apply(event);
        m_view.ChildEvent(port, line, event);
    }
}

void CStation::EndPassWhenDone(size_t index)
{
    std::unique_ptr<CStationChild>& child = m_children[index];
    if (!child || !child->OutputEnded())
        return;
    const int exitStatus = child->Reap();
    child.reset();
    CStationPort& port = m_ports[index];
    if (!port.SawEnd()) {
        const std::string reason = exitStatus < 0 ? res::Format("the run ended without a result (signal %d)", -exitStatus)
                                                  : res::Format("the run ended without a result (status %d)", exitStatus);
        m_view.PassLost(port, reason, StatusWithoutEnd(exitStatus));
    }
    const int status = port.EndPass(exitStatus, m_stopping);
    m_view.PassEnded(port, status);
    // Only a device that answered makes a pass; a port whose run ended before
    // any answer (no port, no device in time, stopped) has nothing more to do.
    const bool more = m_options.station && !m_stopping && port.Answered() &&
                      (m_options.passCount == 0 || port.Counts().Total() < m_options.passCount);
    if (more && status != EXIT_UPDATED)
        KeepTrace(index);
    if (more)
        StartPass(index);
    else
        port.Close();
}

void CStation::KeepTrace(size_t index)
{
    const CStationPort& port = m_ports[index];
    const std::string& trace = port.TracePath();
    const std::string kept = trace.substr(0, trace.size() - 4) + res::Format("-pass%u.txt", port.PassNumber());
    struct stat info {};
    if (lstat(trace.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return;
    // Only a trace this pass wrote: one that failed before its XSVF target
    // left the last pass's trace as it was.
    const timespec& start = m_passStart[index];
    if (info.st_mtim.tv_sec < start.tv_sec ||
        (info.st_mtim.tv_sec == start.tv_sec && info.st_mtim.tv_nsec < start.tv_nsec))
        return;
    // The kept name is an output too: never the update file or the log.
    CRunFiles files;
    files.AddInput("the update file", m_options.file);
    if (!m_options.logFile.empty())
        files.AddInput("the log", m_options.logFile);
    if (std::string clash = files.AddOutput("the kept trace", kept); !clash.empty()) {
        m_view.ChildError(port, "update-cli: cannot keep the trace " + trace + ": " + clash);
        return;
    }
    if (rename(trace.c_str(), kept.c_str()) != 0) {
        m_view.ChildError(port, "update-cli: cannot keep the trace " + trace + ": " + std::strerror(errno));
        return;
    }
    m_view.TraceKept(port, kept);
}

bool CStation::AnyPortOpen() const
{
    for (const CStationPort& port : m_ports) {
        if (!port.Closed())
            return true;
    }
    return false;
}

int CStation::ExitStatus() const
{
    int status = EXIT_UPDATED;
    for (const CStationPort& port : m_ports)
        status = MoreSeriousExitStatus(status, port.ExitStatus());
    return status;
}

// What makes a station impossible before any port is touched; empty when
// nothing does.
std::string SetupProblem(const SCliOptions& options, const std::vector<CStationPort>& ports,
                         const std::vector<std::string>& identities)
{
    struct stat info {};
    if (stat(options.file.c_str(), &info) != 0)
        return options.file + ": " + std::strerror(errno);
    if (!S_ISREG(info.st_mode))
        return options.file + ": every port reads the update file again: it must be a regular file";
    if (!options.traceDir.empty() && (stat(options.traceDir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)))
        return "--trace-dir " + options.traceDir + ": no such folder";
    std::set<std::string> seen;
    std::set<std::string> traces;
    for (size_t i = 0; i < ports.size(); ++i) {
        if (!seen.insert(identities[i]).second)
            return "the port " + ports[i].Port() + " is given twice";
        if (!traces.insert(ports[i].TracePath()).second)
            return "two ports would share the trace file " + ports[i].TracePath();
    }
    const std::vector<std::string> tracePaths(traces.begin(), traces.end());
    if (std::string clash = RunOutputsClash(options.file, options.logFile, tracePaths); !clash.empty())
        return clash;
    // Each pass checks its trace again; a place no pass could use ends the station at once.
    if (UpdateFileMayHoldXsvf(options.file)) {
        for (const std::string& trace : tracePaths) {
            if (!TracePlaceProblem(trace, IdentifyFile(options.file)).empty())
                return TraceOpenFailureText(trace);
        }
    }
    return {};
}

}  // namespace

int RunStation(const SCliOptions& options)
{
    // Before any child starts: a signal is taken by the loop, never by default.
    const sigset_t signals = BlockRunSignals();
    COutputStream out(STDOUT_FILENO);
    COutputStream err(STDERR_FILENO);
    const SPortPlaces places = SPortPlaces::ForThisProcess();
    std::vector<CStationPort> ports;
    std::vector<std::string> identities;
    for (const std::string& port : options.ports) {
        const std::string trace = "xsvf_debug-" + ShortPortName(port) + ".txt";
        ports.emplace_back(port, PortDescription(port, places),
                           options.traceDir.empty() ? trace : options.traceDir + "/" + trace);
        identities.push_back(PortIdentity(port, places));
    }
    if (const std::string problem = SetupProblem(options, ports, identities); !problem.empty()) {
        if (options.json)
            out.Queue(JsonErrorLine("usage_error", problem, EXIT_USAGE_OR_SETUP));
        else
            err.Queue("update-cli: " + problem + "\n");
        DrainOutputs(err, out, signals);
        return EXIT_USAGE_OR_SETUP;
    }
    std::unique_ptr<CStationView> view;
    if (options.json)
        view = std::make_unique<CStationJsonView>(out, err, options.station);
    else
        view = std::make_unique<CStationTextView>(out, err, out.IsTerminal(), options.quiet, options.station,
                                                  options.wakeupTimeoutSeconds);
    CStation station(options, std::move(ports), *view, out, err, signals);
    const int status = station.Run();
    DrainOutputs(err, out, signals);
    return status;
}
