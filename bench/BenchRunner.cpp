#include "BenchRunner.h"

#include "BenchFloor.h"

#include "BenchSched.h"
#include "BenchStats.h"
#include "Devsim.h"

#include <cstdio>
#include <fstream>
#include <stdexcept>

using namespace devupdate::devsim;
using namespace devupdate::svf;

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

std::vector<uint8_t> ReceivedFromStart(const std::vector<STrafficByte>& traffic)
{
    constexpr uint8_t START = 0xA3;
    std::vector<uint8_t> received;
    for (const STrafficByte& b : traffic)
        if (b.fromTool && (!received.empty() || b.byte == START))
            received.push_back(b.byte);
    return received;
}

std::string WriteWorkFile(const std::string& dir, const std::string& name, const std::vector<uint8_t>& bytes)
{
    const std::string path = dir + "/" + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + path);
    return path;
}

void KeepTrafficLog(const CDevsim& device, const std::string& logDir, const std::string& name)
{
    if (logDir.empty())
        return;
    const std::string path = logDir + "/" + name + ".log";
    if (const std::string problem = device.WriteTrafficLog(path); !problem.empty())
        std::fprintf(stderr, "update-bench: cannot write %s: %s\n", path.c_str(), problem.c_str());
}

namespace {

// The --json end object of a run's output.
std::string EndLine(const std::string& output)
{
    const size_t start = output.find("{\"event\":\"end\"");
    return start == std::string::npos ? std::string() : output.substr(start, output.find('\n', start) - start);
}

// The sum of every number `format` (a literal text, then %lf) finds in text.
double SumOfFigures(const std::string& text, const char* format)
{
    const std::string lead = std::string(format).substr(0, std::string(format).find('%'));
    double sum = 0;
    for (size_t at = text.find(lead); at != std::string::npos; at = text.find(lead, at + 1)) {
        double value = 0;
        if (std::sscanf(text.c_str() + at, format, &value) == 1)
            sum += value;
    }
    return sum;
}

}  // namespace

SRunFigures CBenchRunner::Run(const SWorkload& workload, unsigned runNumber)
{
    const std::string file = WriteWorkFile(m_workDir, workload.name + ".upd", workload.updateFile);
    CDevsim device(workload.device);
    const std::map<pid_t, double> delaysBefore = RunDelays(0);
    device.Start();
    const SChildResult child =
        RunChild(m_cliPath, {"--json", "--port", device.SlavePath(), file}, m_workDir, RUN_TIMEOUT);
    const double deviceRunDelay = RunDelayGrowth(delaysBefore, RunDelays(0));
    device.Stop();
    KeepTrafficLog(device, m_logDir, workload.name + "-" + std::to_string(runNumber));

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
    f.receivedFromStart = ReceivedFromStart(traffic);
    if (!traffic.empty()) {
        f.startSeconds = Seconds(traffic.front().time - child.started).count();
        f.endSeconds = Seconds(child.ended - traffic.back().time).count();
    }

    f.toolRunDelaySeconds = child.runDelaySeconds;
    f.deviceRunDelaySeconds = deviceRunDelay;
    f.cpuSeconds = Seconds(child.cpu).count();
    f.cpuShare = f.wallSeconds > 0 ? f.cpuSeconds / f.wallSeconds : 0;
    f.peakRssKiB = child.peakRssKiB;
    f.recordSeconds = SumOfFigures(EndLine(child.output), "\"seconds\":%lf");
    f.estimateSeconds =
        SumOfFigures(RunChild(m_cliPath, {"--check", file}, m_workDir, RUN_TIMEOUT).output, "estimated %lf s");
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
    const std::string file = WriteWorkFile(m_workDir, "wakeup.upd", FirmwareWorkload(1024).updateFile);
    CDevsim device(SilentDevice());
    device.Start();
    const SChildResult child = RunChild(m_cliPath, {"--port", device.SlavePath(), "--wakeup-timeout", "1", file},
                                        m_workDir, RUN_TIMEOUT);
    device.Stop();
    KeepTrafficLog(device, m_logDir, "wakeup");
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
    const std::string file = WriteWorkFile(m_workDir, "silent.upd", FirmwareWorkload(4096).updateFile);
    CDevsim device(SilentAfterStartDevice());
    device.Start();
    const SChildResult child = RunChild(m_cliPath, {"--port", device.SlavePath(), file}, m_workDir, RUN_TIMEOUT);
    device.Stop();
    KeepTrafficLog(device, m_logDir, "silent");
    const std::vector<STrafficByte> traffic = device.Traffic();
    const auto seen = child.FirstSeen(NOT_RESPONDING);
    if (!seen || traffic.empty()) {
        std::fprintf(stderr, "update-bench: no \"%s\" (exit status %d)\n%s", NOT_RESPONDING, child.status,
                     child.output.c_str());
        return -1;
    }
    return Seconds(*seen - traffic.back().time).count();
}
