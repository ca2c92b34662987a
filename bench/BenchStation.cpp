#include "BenchStation.h"

#include "BenchStats.h"
#include "BenchTable.h"
#include "Devsim.h"

#include <algorithm>
#include <memory>

using namespace devupdate::devsim;
using namespace devupdate::svf;

namespace {

constexpr auto STATION_TIMEOUT = std::chrono::minutes(10);
// The station may take a little longer than its slowest device alone (one
// more process start, the devices sharing the CPUs), never more than this.
constexpr double MAX_WALL_OVER_SLOWEST = 1.05;
// Running the devices side by side must not cost CPU: per device at most
// what a single run needs.
constexpr double MAX_CPU_OVER_SINGLE = 1.0;

std::string DeviceList(const std::vector<unsigned>& devices)
{
    std::string text;
    for (unsigned d : devices)
        text += (text.empty() ? "" : ", ") + std::to_string(d);
    return text;
}

std::string BytesVerdict(const SStationSummary& s)
{
    return s.differingDevices.empty() ? "identical" : "DIFFERS (device " + DeviceList(s.differingDevices) + ")";
}

}  // namespace

CBenchStation::CBenchStation(std::string cliPath, std::string workDir, std::string logDir)
    : m_cliPath(std::move(cliPath)), m_workDir(std::move(workDir)), m_logDir(std::move(logDir))
{
}

SStationRun CBenchStation::Run(const SWorkload& workload, unsigned devices, unsigned runNumber)
{
    const std::string file = WriteWorkFile(m_workDir, workload.name + ".upd", workload.updateFile);
    std::vector<std::unique_ptr<CDevsim>> line;
    std::vector<std::string> args{"--json"};
    for (unsigned k = 0; k < devices; ++k) {
        line.push_back(std::make_unique<CDevsim>(workload.device));
        line.back()->Start();
        args.insert(args.end(), {"--port", line.back()->SlavePath()});
    }
    args.push_back(file);
    const SChildResult child = RunChild(m_cliPath, args, m_workDir, STATION_TIMEOUT);

    SStationRun run;
    run.status = child.status;
    run.wallSeconds = child.Wall().count();
    run.cpuSeconds = std::chrono::duration<double>(child.cpu).count();
    run.succeeded = child.status == 0;
    for (unsigned k = 0; k < devices; ++k) {
        CDevsim& device = *line[k];
        device.Stop();
        KeepTrafficLog(device, m_logDir,
                       "station-" + workload.name + "-" + std::to_string(runNumber) + "-" + std::to_string(k + 1));
        run.receivedFromStart.push_back(ReceivedFromStart(device.Traffic()));
        run.succeeded = run.succeeded && device.SessionsEnded() == 1;
    }
    if (!run.succeeded)
        std::fprintf(stderr, "update-bench: station %s run %u: exit status %d\n%s", workload.name.c_str(), runNumber,
                     child.status, child.output.c_str());
    return run;
}

SStationSummary SummariseStation(const std::string& workloadName, unsigned devices,
                                 const std::vector<SStationRun>& stationRuns, const std::vector<SRunFigures>& singleRuns)
{
    SStationSummary s;
    s.name = "station " + workloadName + " x" + std::to_string(devices);
    s.devices = devices;
    s.runs = static_cast<unsigned>(stationRuns.size());
    s.failedRuns =
        static_cast<unsigned>(std::count_if(stationRuns.begin(), stationRuns.end(), [](const SStationRun& r) { return !r.succeeded; }) +
                              std::count_if(singleRuns.begin(), singleRuns.end(), [](const SRunFigures& r) { return !r.succeeded; }));
    s.wallSeconds = Median(Column(stationRuns, &SStationRun::wallSeconds));
    s.singleWallMedian = Median(Column(singleRuns, &SRunFigures::wallSeconds));
    s.singleWallSlowest = Maximum(Column(singleRuns, &SRunFigures::wallSeconds));
    std::vector<double> cpuPerDevice;
    for (const SStationRun& r : stationRuns)
        cpuPerDevice.push_back(r.cpuSeconds / devices);
    s.cpuPerDevice = Median(cpuPerDevice);
    s.singleCpu = Median(Column(singleRuns, &SRunFigures::cpuSeconds));

    const std::vector<uint8_t> expected = singleRuns.empty() ? std::vector<uint8_t>() : singleRuns.front().receivedFromStart;
    for (unsigned k = 0; k < devices; ++k) {
        const bool same = !expected.empty() && std::all_of(stationRuns.begin(), stationRuns.end(), [&](const SStationRun& r) {
            return k < r.receivedFromStart.size() && r.receivedFromStart[k] == expected;
        });
        if (!same)
            s.differingDevices.push_back(k + 1);
    }
    return s;
}

int PrintStationReport(FILE* out, const std::vector<SStationSummary>& stations)
{
    std::fprintf(out, "| Station workload | Runs | Wall s | Single run wall s median (slowest) | Wall / slowest single (/ median)"
                      " | CPU s per device | Single run CPU s | CPU per device / single | Device bytes from the start byte |\n"
                      "|---|---|---|---|---|---|---|---|---|\n");
    for (const SStationSummary& s : stations)
        std::fprintf(out, "| %s | %u%s | %.2f | %.2f (%.2f) | %.3f (%.3f) | %.3f | %.3f | %.2f | %s |\n", s.name.c_str(), s.runs,
                     s.failedRuns ? " FAILED" : "", s.wallSeconds, s.singleWallMedian, s.singleWallSlowest,
                     s.WallOverSlowest(), s.WallOverMedian(), s.cpuPerDevice, s.singleCpu, s.CpuOverSingle(), BytesVerdict(s).c_str());
    std::fprintf(out, "\nStation targets:\n");
    int missed = 0;
    const auto check = [&](const std::string& what, bool ok) { missed += CheckTarget(out, what, ok); };
    for (const SStationSummary& s : stations) {
        check(s.name + ": every run succeeded (station and single)", s.failedRuns == 0);
        check(s.name + ": wall <= 1.05 x the slowest single run", s.WallOverSlowest() <= MAX_WALL_OVER_SLOWEST);
        check(s.name + ": every device took in a single run's bytes from the start byte on", s.differingDevices.empty());
        check(s.name + ": CPU per device <= a single run's", s.CpuOverSingle() <= MAX_CPU_OVER_SINGLE);
    }
    return missed;
}
