// update-bench: measures update-cli against the line's limit. Every
// workload runs update-cli as a child process against the simulated device
// paced at 57600 baud over a pseudo-terminal; the limit is the run's bytes in
// both directions at 10 bits a byte plus the device's busy time.

#include "BenchLarge.h"
#include "BenchRunner.h"
#include "BenchStation.h"
#include "BenchTable.h"
#include "BenchStats.h"
#include "ComPort.h"
#include "ProgramStart.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <getopt.h>
#include <map>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

using namespace devupdate::link;
using namespace devupdate::devsim;
using namespace devupdate::svf;

namespace {

const char USAGE[] =
    "Usage: update-bench [options]\n"
    "Runs update-cli against the simulated device at 57600 baud and compares\n"
    "each run with the time its bytes need on the line.\n"
    "\n"
    "  --runs N          runs per workload (default 3); the table shows medians\n"
    "  --firmware-kib N  size of the firmware target (default 256)\n"
    "  --tap-pairs N     XSIR/XSDR pairs of the TAP-move stream (default 400)\n"
    "  --only NAME       only this workload: firmware, xsvf-flash, xsvf-tap, svf, silent,\n"
    "                    large (the large-input section), station (firmware and\n"
    "                    xsvf-flash on 4 and on 16 devices through one update-cli, against\n"
    "                    single runs)\n"
    "  --floor           only the XSVF workloads, each with its floor (about 2 minutes)\n"
    "  --large           only the large-input section: SVF conversion of 100 MB,\n"
    "                    --list of a 50 MB XSVF, --check of a 200 MB firmware file\n"
    "  --svf FILE        the SVF file of the svf workload (default: the largest\n"
    "                    real-world sample, " DEFAULT_SVF "; skipped when absent)\n"
    "  --cli PATH        the update-cli to measure (default: beside this program)\n"
    "  --logs DIR        write the device's traffic log of every run to DIR\n"
    "  --work DIR        keep the update files in DIR (default: a temporary folder,\n"
    "                    removed at the end), e.g. to replay a run under strace or perf\n"
    "  --help            this text\n"
    "Exit status: 0 all targets met, 1 a target missed, 2 usage or setup error.\n";

struct SBenchOptions {
    unsigned runs = 3;
    unsigned firmwareKiB = 256;
    unsigned tapPairs = 400;
    std::string only;
    std::string cli;
    std::string logs;
    std::string work;
    std::string svf = DEFAULT_SVF;
};

bool ParsePositive(const char* text, unsigned& value)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long v = std::strtoul(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v == 0 || v > 1'000'000)
        return false;
    value = static_cast<unsigned>(v);
    return true;
}

// 0 parsed, 2 usage error, -1 help.
int ParseOptions(int argc, char** argv, SBenchOptions& o)
{
    enum { RUNS = 1, KIB, PAIRS, ONLY, CLI, LOGS, WORK, SVF, FLOOR, LARGE, HELP };
    static const option LONG[] = {
        {"runs", required_argument, nullptr, RUNS}, {"firmware-kib", required_argument, nullptr, KIB},
        {"tap-pairs", required_argument, nullptr, PAIRS}, {"only", required_argument, nullptr, ONLY},
        {"cli", required_argument, nullptr, CLI}, {"logs", required_argument, nullptr, LOGS},
        {"work", required_argument, nullptr, WORK}, {"svf", required_argument, nullptr, SVF},
        {"floor", no_argument, nullptr, FLOOR}, {"large", no_argument, nullptr, LARGE},
        {"help", no_argument, nullptr, HELP}, {nullptr, 0, nullptr, 0},
    };
    int c;
    while ((c = getopt_long(argc, argv, "", LONG, nullptr)) != -1) {
        bool ok = true;
        switch (c) {
        case RUNS: ok = ParsePositive(optarg, o.runs); break;
        case KIB: ok = ParsePositive(optarg, o.firmwareKiB); break;
        case PAIRS: ok = ParsePositive(optarg, o.tapPairs); break;
        case ONLY: o.only = optarg; break;
        case CLI: o.cli = optarg; break;
        case LOGS: o.logs = optarg; break;
        case WORK: o.work = optarg; break;
        case SVF: o.svf = optarg; break;
        case FLOOR: o.only = "xsvf"; break;
        case LARGE: o.only = "large"; break;
        case HELP: return -1;
        default: return 2;
        }
        if (!ok) {
            std::fprintf(stderr, "update-bench: bad value '%s'\n", optarg);
            return 2;
        }
    }
    if (optind != argc) {
        std::fprintf(stderr, "update-bench: unexpected argument '%s'\n", argv[optind]);
        return 2;
    }
    if (o.cli.empty())
        o.cli = ProgramDirectory() + "update-cli";
    return 0;
}

void PrintMachine(FILE* out)
{
    utsname name{};
    const long cpus = sysconf(_SC_NPROCESSORS_ONLN);
    if (uname(&name) == 0)
        std::fprintf(out, "Machine: %ld CPUs online, kernel %s %s\n\n", cpus, name.release, name.machine);
}

// "xsvf" (--floor) stands for both XSVF workloads.
bool Wanted(const SBenchOptions& o, const std::string& name)
{
    return o.only.empty() || o.only == name || (o.only == "xsvf" && name.rfind("xsvf-", 0) == 0);
}

// A station of four devices, and one of sixteen (the most update-cli takes).
constexpr unsigned STATION_SIZES[] = {4, 16};

std::vector<SRunFigures> RunSingles(CBenchRunner& runner, const SWorkload& w, unsigned count)
{
    std::vector<SRunFigures> runs;
    for (unsigned i = 1; i <= count; ++i) {
        runs.push_back(runner.Run(w, i));
        const SRunFigures& r = runs.back();
        std::fprintf(stderr,
                     "%s run %u: wall %.3f s, limit %.3f s, ratio %.4f, turnaround median %.3f ms"
                     " (floor %.3f ms), CPU per round trip %.1f us (floor's tool %.1f us)\n",
                     w.name.c_str(), i, r.wallSeconds, r.limitSeconds, r.ratio, r.turnMedianMs, r.floorMedianMs,
                     r.turnarounds ? r.cpuSeconds / r.turnarounds * 1e6 : 0, r.floorToolCpuMicroseconds);
    }
    return runs;
}

// Each workload on four and on sixteen devices at once, against its single runs: those of
// this invocation when it ran them already, else as many new ones.
std::vector<SStationSummary> RunStations(CBenchRunner& runner, CBenchStation& station, const SBenchOptions& o,
                                         std::map<std::string, std::vector<SRunFigures>>& singles)
{
    std::vector<SStationSummary> summaries;
    for (const SWorkload& w : {FirmwareWorkload(size_t{o.firmwareKiB} * 1024), ModelPartWorkload()}) {
        if (singles.count(w.name) == 0)
            singles[w.name] = RunSingles(runner, w, o.runs);
        for (const unsigned devices : STATION_SIZES) {
            std::vector<SStationRun> runs;
            for (unsigned i = 1; i <= o.runs; ++i) {
                runs.push_back(station.Run(w, devices, i));
                std::fprintf(stderr, "station %s x%u run %u: wall %.3f s, CPU %.3f s, exit status %d\n",
                             w.name.c_str(), devices, i, runs.back().wallSeconds, runs.back().cpuSeconds,
                             runs.back().status);
            }
            summaries.push_back(SummariseStation(w.name, devices, runs, singles[w.name]));
        }
    }
    return summaries;
}

}  // namespace

int main(int argc, char** argv)
{
    (void)PrepareProgramStart();
    SBenchOptions o;
    const int parsed = ParseOptions(argc, argv, o);
    if (parsed == -1) {
        std::fputs(USAGE, stdout);
        return 0;
    }
    if (parsed != 0)
        return parsed;
    if (access(o.cli.c_str(), X_OK) != 0) {
        std::fprintf(stderr, "update-bench: %s: %s\n", o.cli.c_str(), std::strerror(errno));
        return 2;
    }
    for (const std::string& folder : {o.logs, o.work}) {
        if (!folder.empty() && mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
            std::fprintf(stderr, "update-bench: mkdir %s: %s\n", folder.c_str(), std::strerror(errno));
            return 2;
        }
    }
    char tempDir[] = "/tmp/update-bench.XXXXXX";
    if (o.work.empty() && mkdtemp(tempDir) == nullptr) {
        std::perror("update-bench: mkdtemp");
        return 2;
    }
    const std::string workDir = o.work.empty() ? std::string(tempDir) : o.work;

    int missed = 0;
    try {
        CBenchRunner runner(o.cli, workDir, o.logs);
        std::vector<SWorkload> workloads;
        if (Wanted(o, "firmware"))
            workloads.push_back(FirmwareWorkload(size_t{o.firmwareKiB} * 1024));
        if (Wanted(o, "xsvf-flash"))
            workloads.push_back(ModelPartWorkload());
        if (Wanted(o, "xsvf-tap"))
            workloads.push_back(TapMovesWorkload(o.tapPairs));
        if (Wanted(o, "svf")) {
            if (access(o.svf.c_str(), R_OK) == 0)
                workloads.push_back(SvfWorkload(o.svf));
            else
                std::fprintf(stderr, "update-bench: no SVF file %s, svf workload skipped\n", o.svf.c_str());
        }

        std::vector<SWorkloadSummary> summaries;
        std::map<std::string, std::vector<SRunFigures>> singles;
        for (const SWorkload& w : workloads) {
            singles[w.name] = RunSingles(runner, w, o.runs);
            summaries.push_back(Summarise(w.name, w.description, singles[w.name]));
        }
        STimingSummary timing;
        if (Wanted(o, "silent")) {
            std::vector<double> wakeups;
            std::vector<double> giveUps;
            for (unsigned i = 1; i <= o.runs; ++i) {
                wakeups.push_back(runner.WakeupIntervalMs());
                giveUps.push_back(runner.SilentGiveUpSeconds());
                std::fprintf(stderr, "silent run %u: wake-up interval %.3f ms, give-up %.3f s\n", i,
                             wakeups.back(), giveUps.back());
            }
            timing.measured = true;
            timing.wakeupIntervalMs = Median(wakeups);
            timing.giveUpSeconds = Median(giveUps);
        }
        std::vector<SStationSummary> stations;
        if (Wanted(o, "station")) {
            CBenchStation station(o.cli, workDir, o.logs);
            stations = RunStations(runner, station, o, singles);
        }
        std::vector<SLargeFigures> large;
        if (Wanted(o, "large"))
            large = RunLargeInputs(ProgramDirectory(), workDir, o.runs);
        PrintMachine(stdout);
        if (!summaries.empty() || timing.measured)
            missed = PrintReport(stdout, summaries, timing);
        if (!stations.empty()) {
            if (!summaries.empty() || timing.measured)
                std::fprintf(stdout, "\n");
            missed += PrintStationReport(stdout, stations);
        }
        if (!large.empty()) {
            std::fprintf(stdout, "\n");
            missed += PrintLargeReport(stdout, large);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "update-bench: %s\n", e.what());
        missed = -1;
    }
    // The temporary folder holds the update files and the trace of the last XSVF run.
    std::error_code error;
    if (o.work.empty() && std::filesystem::remove_all(workDir, error) == static_cast<std::uintmax_t>(-1))
        std::fprintf(stderr, "update-bench: could not remove %s: %s\n", workDir.c_str(), error.message().c_str());
    if (missed < 0)
        return 2;
    return missed == 0 ? 0 : 1;
}
