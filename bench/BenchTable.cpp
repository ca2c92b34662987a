#include "BenchTable.h"

#include "BenchStats.h"

#include <algorithm>
#include <cmath>

using namespace devupdate::devsim;
using namespace devupdate::svf;

namespace {

constexpr double MAX_RATIO = 1.03;
constexpr double MAX_TURN_MEDIAN_MS = 0.2;
constexpr double MAX_TURN_P95_MS = 1.0;
constexpr double MAX_CPU_SHARE = 0.10;
constexpr long MAX_RSS_KIB = 10 * 1024;
constexpr double MAX_TURN_OVER_FLOOR = 1.3;
// "About 2 ms" and "about 6 s": within a fifth.
constexpr double WAKEUP_MS = 2.0;
constexpr double GIVE_UP_S = 6.0;
constexpr double ABOUT = 0.2;

constexpr double MAX_FIRMWARE_ESTIMATE_ERROR = 0.03;
constexpr double MAX_XSVF_ESTIMATE_ERROR = 0.10;

// The estimate's error relative to the measured seconds.
double EstimateError(const SWorkloadSummary& w)
{
    return w.recordSeconds > 0 ? w.estimateSeconds / w.recordSeconds - 1 : 0;
}
double OverFloor(double tool, double floor) { return floor > 0 ? tool / floor : 0; }

bool About(double value, double target) { return value >= target * (1 - ABOUT) && value <= target * (1 + ABOUT); }

}  // namespace

int CheckTarget(FILE* out, const std::string& what, bool ok)
{
    std::fprintf(out, "  %-6s %s\n", ok ? "ok" : "MISSED", what.c_str());
    return ok ? 0 : 1;
}

SWorkloadSummary Summarise(const std::string& name, const std::string& description,
                           const std::vector<SRunFigures>& runs)
{
    SWorkloadSummary s;
    s.name = name;
    s.description = description;
    s.runs = static_cast<unsigned>(runs.size());
    s.failedRuns = static_cast<unsigned>(std::count_if(runs.begin(), runs.end(),
                                                       [](const SRunFigures& r) { return !r.succeeded; }));
    s.wallSeconds = Median(Column(runs, &SRunFigures::wallSeconds));
    s.limitSeconds = Median(Column(runs, &SRunFigures::limitSeconds));
    s.ratio = Median(Column(runs, &SRunFigures::ratio));
    s.ratioMax = Maximum(Column(runs, &SRunFigures::ratio));
    s.ratioNetOfDevice = Median(Column(runs, &SRunFigures::ratioNetOfDevice));
    s.turnMedianMs = Median(Column(runs, &SRunFigures::turnMedianMs));
    s.turnP95Ms = Median(Column(runs, &SRunFigures::turnP95Ms));
    s.turnMaxMs = Maximum(Column(runs, &SRunFigures::turnMaxMs));
    s.deviceLateMs = Median(Column(runs, &SRunFigures::deviceLateMedianMs));
    s.turnSumSeconds = Median(Column(runs, &SRunFigures::turnSumSeconds));
    s.deviceLateSumSeconds = Median(Column(runs, &SRunFigures::deviceLateSumSeconds));
    s.startSeconds = Median(Column(runs, &SRunFigures::startSeconds));
    s.endSeconds = Median(Column(runs, &SRunFigures::endSeconds));
    s.toolRunDelaySeconds = Median(Column(runs, &SRunFigures::toolRunDelaySeconds));
    s.deviceRunDelaySeconds = Median(Column(runs, &SRunFigures::deviceRunDelaySeconds));
    s.cpuShare = Median(Column(runs, &SRunFigures::cpuShare));
    s.cpuSeconds = Median(Column(runs, &SRunFigures::cpuSeconds));
    s.peakRssKiB = static_cast<long>(Maximum(Column(runs, &SRunFigures::peakRssKiB)));
    s.recordSeconds = Median(Column(runs, &SRunFigures::recordSeconds));
    s.floorMedianMs = Median(Column(runs, &SRunFigures::floorMedianMs));
    s.floorP95Ms = Median(Column(runs, &SRunFigures::floorP95Ms));
    if (!runs.empty()) {
        s.estimateSeconds = runs.front().estimateSeconds;
        s.lineBytes = runs.front().lineBytes;
        s.turnarounds = runs.front().turnarounds;
    }
    return s;
}

int PrintReport(FILE* out, const std::vector<SWorkloadSummary>& workloads, const STimingSummary& timing)
{
    int missed = 0;
    std::fprintf(out, "| Workload | Runs | Line bytes | Wall s | Limit s | Wall/limit (max) | Net of device lag | Turnaround ms median / p95 / max"
                      " | Device lag ms | CPU s (%% of wall) | Peak RSS MiB |\n");
    std::fprintf(out, "|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (const SWorkloadSummary& w : workloads) {
        std::fprintf(out, "| %s | %u%s | %zu | %.2f | %.2f | %.3f (%.3f) | %.3f | %.3f / %.3f / %.3f | %.3f | %.2f (%.1f %%) | %.1f |\n",
                     w.name.c_str(), w.runs, w.failedRuns ? " FAILED" : "", w.lineBytes, w.wallSeconds,
                     w.limitSeconds, w.ratio, w.ratioMax, w.ratioNetOfDevice, w.turnMedianMs, w.turnP95Ms, w.turnMaxMs,
                     w.deviceLateMs, w.cpuSeconds, 100 * w.cpuShare, w.peakRssKiB / 1024.0);
    }
    std::fprintf(out, "\n");
    for (const SWorkloadSummary& w : workloads)
        std::fprintf(out, "- %s: %s; %zu round trips.\n", w.name.c_str(), w.description.c_str(), w.turnarounds);
    std::fprintf(out, "\nWhere wall - limit goes (medians, seconds):\n\n"
                      "| Workload | Wall - limit | Tool turnarounds | Device lag | Before first byte | After last byte"
                      " | Waiting for a CPU: tool / device |\n"
                      "|---|---|---|---|---|---|---|\n");
    for (const SWorkloadSummary& w : workloads)
        std::fprintf(out, "| %s | %.3f | %.3f | %.3f | %.3f | %.3f | %.3f / %.3f |\n", w.name.c_str(),
                     w.wallSeconds - w.limitSeconds, w.turnSumSeconds, w.deviceLateSumSeconds, w.startSeconds,
                     w.endSeconds, w.toolRunDelaySeconds, w.deviceRunDelaySeconds);
    std::fprintf(out, "\nThe estimate (update-cli --check) against the targets' own seconds in the run's outcome:\n\n"
                      "| Workload | Estimate s | Measured s | Error |\n|---|---|---|---|\n");
    for (const SWorkloadSummary& w : workloads)
        std::fprintf(out, "| %s | %.2f | %.2f | %+.1f %% |\n", w.name.c_str(), w.estimateSeconds, w.recordSeconds,
                     100 * EstimateError(w));
    std::fprintf(out, "\nTurnaround against the floor (a minimal request/answer exchange over a pseudo-terminal"
                      " with the run's frame and answer sizes, paced the same way, measured after each run):\n\n"
                      "| Workload | Floor ms median / p95 | Tool ms median / p95 | Tool / floor: median / p95 |\n"
                      "|---|---|---|---|\n");
    for (const SWorkloadSummary& w : workloads)
        std::fprintf(out, "| %s | %.3f / %.3f | %.3f / %.3f | %.2f x / %.2f x |\n", w.name.c_str(), w.floorMedianMs,
                     w.floorP95Ms, w.turnMedianMs, w.turnP95Ms, OverFloor(w.turnMedianMs, w.floorMedianMs),
                     OverFloor(w.turnP95Ms, w.floorP95Ms));
    if (timing.measured) {
        std::fprintf(out, "\n| Silent device | Median | Target |\n|---|---|---|\n");
        std::fprintf(out, "| wake-up byte interval | %.2f ms | about %.0f ms |\n", timing.wakeupIntervalMs, WAKEUP_MS);
        std::fprintf(out, "| give-up after falling silent | %.2f s | about %.0f s |\n", timing.giveUpSeconds, GIVE_UP_S);
    }
    std::fprintf(out, "\n");

    std::fprintf(out, "Targets:\n");
    const auto check = [&](const std::string& what, bool ok) { missed += CheckTarget(out, what, ok); };
    for (const SWorkloadSummary& w : workloads) {
        check(w.name + ": every run succeeded", w.failedRuns == 0);
        check(w.name + ": wall/limit <= 1.03", w.ratio <= MAX_RATIO);
        check(w.name + ": turnaround median <= 0.2 ms", w.turnMedianMs <= MAX_TURN_MEDIAN_MS);
        check(w.name + ": turnaround p95 <= 1 ms", w.turnP95Ms <= MAX_TURN_P95_MS);
        check(w.name + ": CPU <= 10 % of wall", w.cpuShare <= MAX_CPU_SHARE);
        check(w.name + ": peak RSS <= 10 MiB", w.peakRssKiB <= MAX_RSS_KIB);
        const bool firmware = w.name == "firmware";
        check(w.name + (firmware ? ": estimate within 3 %" : ": estimate within 10 %"),
              std::abs(EstimateError(w)) <= (firmware ? MAX_FIRMWARE_ESTIMATE_ERROR : MAX_XSVF_ESTIMATE_ERROR));
        check(w.name + ": turnaround median <= 1.3 x floor", OverFloor(w.turnMedianMs, w.floorMedianMs) <= MAX_TURN_OVER_FLOOR);
    }
    if (timing.measured) {
        check("wake-up interval about 2 ms", About(timing.wakeupIntervalMs, WAKEUP_MS));
        check("silent give-up about 6 s", About(timing.giveUpSeconds, GIVE_UP_S));
    }
    return missed;
}
