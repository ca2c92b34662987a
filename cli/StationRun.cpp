#include "StationRun.h"

#include "CliSignals.h"
#include "JsonEvents.h"
#include "OutputFile.h"
#include "OutputStream.h"
#include "PortCommands.h"
#include "PortInfo.h"
#include "PrintableText.h"
#include "ProgramStart.h"
#include "RunOutcome.h"
#include "RunOutputs.h"
#include "Station.h"
#include "StationViews.h"
#include "XsvfTrace.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>
#include <set>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace devupdate;
using namespace devupdate::link;
using namespace devupdate::xsvf;
using namespace devupdate::update;
using namespace devupdate::station;

using station::CStation;
using station::CStationPort;
using station::CStationView;

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
            return "the port " + PrintableText(ports[i].Port()) + " is given twice";
        if (!traces.insert(ports[i].TracePath()).second)
            return "two ports would share the trace file " + PrintableText(ports[i].TracePath());
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

// The station's loop: the children's output, the signals taken, the live
// figures drawn, until every port has ended. Returns the exit status.
int Supervise(const SCliOptions& options, std::vector<CStationPort> ports, CStationView& view, COutputStream& out,
              COutputStream& err, const sigset_t& signals)
{
    const int signalFd = signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
    if (signalFd < 0) {
        err.Queue(ProgramName("update-cli") + ": signalfd: " + std::strerror(errno) + "\n");
        return EXIT_USAGE_OR_SETUP;
    }
    CStation station(StationSettings(options), std::move(ports), view);
    const auto takeSignals = [&] {
        signalfd_siginfo info{};
        while (read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
            station.Signal(static_cast<int>(info.ssi_signo));
    };
    station.Start();
    while (station.AnyPortOpen()) {
        station.Poll(TICK_MS, signalFd, takeSignals);
        station.EndPassesDone();
        view.Refresh(station.Ports());
        out.Pump();
        err.Pump();
    }
    (void)close(signalFd);  // nothing written through it
    const int status = station.ExitStatus();
    view.Summary(station.Ports(), status);
    return status;
}

}  // namespace

std::string PrepareStationPorts(const SCliOptions& options, std::vector<CStationPort>& ports)
{
    const SPortPlaces places = SPortPlaces::ForThisProcess();
    std::vector<std::string> identities;
    for (const std::string& port : options.ports) {
        const std::string trace = "xsvf_debug-" + ShortPortName(port) + ".txt";
        ports.emplace_back(port, PortDescription(port, places),
                           options.traceDir.empty() ? trace : options.traceDir + "/" + trace);
        identities.push_back(PortIdentity(port, places));
    }
    return SetupProblem(options, ports, identities);
}

station::SStationSettings StationSettings(const SCliOptions& options)
{
    station::SStationSettings settings;
    settings.file = options.file;
    settings.station = options.station;
    settings.passCount = options.passCount;
    settings.wakeupTimeoutSeconds = options.wakeupTimeoutSeconds;
    settings.logFile = options.logFile;
    settings.requireSignature = options.requireSignature;
    return settings;
}

int RunStation(const SCliOptions& options)
{
    // Before any child starts: a signal is taken by the loop, never by default.
    const sigset_t signals = BlockRunSignals();
    COutputStream out(STDOUT_FILENO);
    COutputStream err(STDERR_FILENO);
    std::vector<CStationPort> ports;
    if (const std::string problem = PrepareStationPorts(options, ports); !problem.empty()) {
        if (options.json)
            out.Queue(JsonLine(JsonErrorEnd(events::ending::USAGE_ERROR, problem, EXIT_USAGE_OR_SETUP)));
        else
            err.Queue(ProgramName("update-cli") + ": " + problem + "\n");
        DrainOutputs(err, out, signals);
        return EXIT_USAGE_OR_SETUP;
    }
    std::unique_ptr<CStationView> view;
    if (options.json)
        view = std::make_unique<CStationJsonView>(out, err, options.station);
    else
        view = std::make_unique<CStationTextView>(out, err, out.IsTerminal(), options.quiet, options.station);
    const int status = Supervise(options, std::move(ports), *view, out, err, signals);
    DrainOutputs(err, out, signals);
    return status;
}
