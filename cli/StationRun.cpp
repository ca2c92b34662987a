#include "StationRun.h"

#include "CliSignals.h"
#include "JsonEvents.h"
#include "OutputStream.h"
#include "ProgramStart.h"
#include "RunOutcome.h"
#include "Station.h"
#include "StationSetup.h"
#include "StationViews.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>
#include <sys/signalfd.h>
#include <unistd.h>

using namespace devupdate;
using namespace devupdate::link;
using namespace devupdate::update;
using namespace devupdate::station;

namespace {

// The live figures are drawn again at most this often.
constexpr int TICK_MS = 100;

// What each pass of the station the options describe runs with.
SStationSettings StationSettings(const SCliOptions& options)
{
    SStationSettings settings;
    settings.file = options.file;
    settings.station = options.station;
    settings.passCount = options.passCount;
    settings.wakeupTimeoutSeconds = options.wakeupTimeoutSeconds;
    settings.logFile = options.logFile;
    settings.requireSignature = options.requireSignature;
    return settings;
}

// The station's loop: the children's output, the signals taken, the live
// figures drawn, until every port has ended. Returns the exit status.
int Supervise(SStationSettings settings, std::vector<CStationPort> ports, CStationView& view, COutputStream& out,
              COutputStream& err, const sigset_t& signals)
{
    const int signalFd = signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
    if (signalFd < 0) {
        err.Queue(ProgramName("update-cli") + ": signalfd: " + std::strerror(errno) + "\n");
        return EXIT_USAGE_OR_SETUP;
    }
    CStation station(std::move(settings), std::move(ports), view);
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

int RunStation(const SCliOptions& options)
{
    // Before any child starts: a signal is taken by the loop, never by default.
    const sigset_t signals = BlockRunSignals();
    COutputStream out(STDOUT_FILENO);
    COutputStream err(STDERR_FILENO);
    SStationSettings settings = StationSettings(options);
    std::vector<CStationPort> ports;
    if (const std::string problem = PrepareStationPorts(settings, options.ports, options.traceDir, ports);
        !problem.empty()) {
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
    const int status = Supervise(std::move(settings), std::move(ports), *view, out, err, signals);
    DrainOutputs(err, out, signals);
    return status;
}
