#include "BenchRunner.h"

#include "BenchFloor.h"

#include "BenchSched.h"
#include "BenchStats.h"
#include "Devsim.h"

#include <cstdio>
#include <fstream>
#include <stdexcept>

namespace {

// Line time of the exchanges a floor replays: enough for stable percentiles.
constexpr double FLOOR_LINE_SECONDS = 5.0;

using std::chrono::duration;
using Seconds = duration<double>;
using Millis = duration<double, std::milli>;

constexpr auto RUN_TIMEOUT = std::chrono::minutes(10);
const char NOT_RESPONDING[] = "Failed: Target is not responding";

double LineSeconds(size_t bytes)
{
    return static_cast<double>(bytes) * 10.0 / LINE_BAUD;
}

DevClock::duration ByteTime()
{
    return std::chrono::duration_cast<DevClock::duration>(std::chrono::nanoseconds(10'000'000'000LL / LINE_BAUD));
}

std::vector<double> DeviceLateness(const std::vector<SExchange>& exchanges)
{
    std::vector<double> late;
    for (const SExchange& x : exchanges)
        if (x.answerWritten > 0 && x.phase != EPhase::Delay)
            late.push_back(Millis(x.firstTx - (x.lastArrival + ByteTime())).count());
    return late;
}

double Sum(const std::vector<double>& values)
{
    double sum = 0;
    for (double v : values)
        sum += v;
    return sum;
}

}  // namespace

CBenchRunner::CBenchRunner(std::string cliPath, std::string workDir, std::string logDir)
    : m_cliPath(std::move(cliPath)), m_workDir(std::move(workDir)), m_logDir(std::move(logDir))
{
}

std::string CBenchRunner::WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) const
{
    const std::string path = m_workDir + "/" + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + path);
    return path;
}

void CBenchRunner::KeepLog(const CDevsim& device, const std::string& name) const
{
    if (m_logDir.empty())
        return;
    const std::string path = m_logDir + "/" + name + ".log";
    if (!device.WriteTrafficLog(path))
        std::fprintf(stderr, "update-bench: cannot write %s\n", path.c_str());
}

SRunFigures CBenchRunner::Run(const SWorkload& workload, unsigned runNumber)
{
    const std::string file = WriteFile(workload.name + ".upd", workload.updateFile);
    CDevsim device(workload.device);
    const std::map<pid_t, double> delaysBefore = RunDelays(0);
    device.Start();
    const SChildResult child =
        RunChild(m_cliPath, {"--port", device.SlavePath(), file}, m_workDir, RUN_TIMEOUT);
    const double deviceRunDelay = RunDelayGrowth(delaysBefore, RunDelays(0));
    device.Stop();
    KeepLog(device, workload.name + "-" + std::to_string(runNumber));

    SRunFigures f;
    f.status = child.status;
    f.wallSeconds = child.Wall().count();
    f.lineBytes = device.Traffic().size();
    f.busySeconds = Seconds(device.BusyTime()).count();
    f.limitSeconds = LineSeconds(f.lineBytes) + f.busySeconds;
    f.ratio = f.limitSeconds > 0 ? f.wallSeconds / f.limitSeconds : 0;

    std::vector<double> turns;
    for (const auto t : device.HostTurnarounds())
        turns.push_back(Millis(t).count());
    f.turnarounds = turns.size();
    f.turnMedianMs = Median(turns);
    f.turnP95Ms = Percentile(turns, 95);
    f.turnMaxMs = Maximum(turns);
    const std::vector<double> late = DeviceLateness(device.Exchanges());
    f.deviceLateMedianMs = Median(late);
    f.turnSumSeconds = Sum(turns) / 1000;
    f.deviceLateSumSeconds = Sum(late) / 1000;
    f.ratioNetOfDevice = f.wallSeconds / (f.limitSeconds + f.deviceLateSumSeconds);
    const std::vector<STrafficByte> traffic = device.Traffic();
    if (!traffic.empty()) {
        f.startSeconds = Seconds(traffic.front().time - child.started).count();
        f.endSeconds = Seconds(child.ended - traffic.back().time).count();
    }

    f.toolRunDelaySeconds = child.runDelaySeconds;
    f.deviceRunDelaySeconds = deviceRunDelay;
    f.cpuSeconds = Seconds(child.cpu).count();
    f.cpuShare = f.wallSeconds > 0 ? f.cpuSeconds / f.wallSeconds : 0;
    f.peakRssKiB = child.peakRssKiB;
    // The floor right after the run, on the same machine under the same load.
    const SFloorFigures floor = MeasureFloor(ExchangeSizes(traffic, device.Exchanges()), LINE_BAUD, FLOOR_LINE_SECONDS);
    f.floorMedianMs = floor.medianMs;
    f.floorP95Ms = floor.p95Ms;
    f.floorToolCpuMicroseconds = floor.toolCpuMicroseconds;
    // Against an SVF target the run also has to have shifted every scan the file asks for.
    const bool scansMatched = !workload.device.svfScans || device.SvfCheck().Passed();
    f.succeeded = child.status == 0 && device.SessionsEnded() == 1 && scansMatched;
    if (!f.succeeded)
        std::fprintf(stderr, "update-bench: %s run %u: exit status %d\n%s", workload.name.c_str(),
                     runNumber, child.status, child.output.c_str());
    return f;
}

double CBenchRunner::WakeupIntervalMs()
{
    const std::string file = WriteFile("wakeup.upd", FirmwareWorkload(1024).updateFile);
    CDevsim device(SilentDevice());
    device.Start();
    const SChildResult child = RunChild(m_cliPath, {"--port", device.SlavePath(), "--wakeup-timeout", "1", file},
                                        m_workDir, RUN_TIMEOUT);
    device.Stop();
    KeepLog(device, "wakeup");
    std::vector<double> intervals;
    DevClock::time_point last{};
    for (const STrafficByte& b : device.Traffic()) {
        if (!b.fromTool || b.byte != 0xA4)
            continue;
        if (last != DevClock::time_point{})
            intervals.push_back(Millis(b.time - last).count());
        last = b.time;
    }
    if (intervals.empty())
        std::fprintf(stderr, "update-bench: no wake-up bytes (exit status %d)\n%s", child.status,
                     child.output.c_str());
    return Median(intervals);
}

double CBenchRunner::SilentGiveUpSeconds()
{
    const std::string file = WriteFile("silent.upd", FirmwareWorkload(4096).updateFile);
    CDevsim device(SilentAfterStartDevice());
    device.Start();
    const SChildResult child = RunChild(m_cliPath, {"--port", device.SlavePath(), file}, m_workDir, RUN_TIMEOUT);
    device.Stop();
    KeepLog(device, "silent");
    const std::vector<STrafficByte> traffic = device.Traffic();
    const auto seen = child.FirstSeen(NOT_RESPONDING);
    if (!seen || traffic.empty()) {
        std::fprintf(stderr, "update-bench: no \"%s\" (exit status %d)\n%s", NOT_RESPONDING, child.status,
                     child.output.c_str());
        return -1;
    }
    return Seconds(*seen - traffic.back().time).count();
}
