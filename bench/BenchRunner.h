#pragma once
// CBenchRunner: runs update-cli as a child process against a fresh simulated
// device (in this process, on its own thread) and turns the device's traffic
// log and the child's resource use into the benchmark's figures.

#include "BenchChild.h"
#include "BenchWorkloads.h"

namespace devupdate::devsim {
class CDevsim;
}
#include "TrafficLog.h"

#include <string>

struct SRunFigures {
    bool succeeded = false;     // exit status 0 and every byte answered
    int status = -1;
    double wallSeconds = 0;     // fork to reaping of update-cli
    double limitSeconds = 0;    // line bytes x 10 / baud + device busy time
    double ratio = 0;           // wall / limit
    // wall / (limit + the simulated device's own delays): the tool's share.
    double ratioNetOfDevice = 0;
    size_t lineBytes = 0;       // both directions
    double busySeconds = 0;
    size_t turnarounds = 0;
    double turnMedianMs = 0;
    double turnP95Ms = 0;
    double turnMaxMs = 0;
    // The simulated device's own delay: first answer byte written after the
    // last byte of the unit arrived plus one byte time (wait frames left out).
    double deviceLateMedianMs = 0;
    // Where wall - limit went: the sums of the tool's turnarounds and of the
    // device's delays, and the time before the first and after the last
    // byte on the line (process start, file check, port open; exit).
    double turnSumSeconds = 0;
    double deviceLateSumSeconds = 0;
    double startSeconds = 0;
    double endSeconds = 0;
    // Time spent runnable but without a CPU: update-cli's threads, and this
    // process's threads (the simulated device) during the run.
    double toolRunDelaySeconds = 0;
    double deviceRunDelaySeconds = 0;
    double cpuSeconds = 0;
    double cpuShare = 0;        // cpu / wall
    long peakRssKiB = 0;
    // update-cli --check's estimate of the targets' time on the line, and the
    // seconds the run's outcome gives its records (update-cli --json).
    double estimateSeconds = 0;
    double recordSeconds = 0;
    // The floor of the turnaround for this run's exchanges (BenchFloor.h).
    double floorMedianMs = 0;
    double floorP95Ms = 0;
    double floorToolCpuMicroseconds = 0;  // the minimal tool's CPU per exchange
    // The bytes the device took in from the first start byte on (the
    // wake-up bytes before it vary in number from run to run).
    std::vector<uint8_t> receivedFromStart;
};

// The bytes from the tool in `traffic`, from its first start byte (0xA3) on.
std::vector<uint8_t> ReceivedFromStart(const std::vector<devupdate::devsim::STrafficByte>& traffic);
// Writes `bytes` to dir/name; returns the path. Throws std::runtime_error.
std::string WriteWorkFile(const std::string& dir, const std::string& name, const std::vector<uint8_t>& bytes);
// Writes the device's traffic log to logDir/name.log; nothing when logDir
// is empty, a message on standard error when the file cannot be written.
void KeepTrafficLog(const devupdate::devsim::CDevsim& device, const std::string& logDir, const std::string& name);

class CBenchRunner {
public:
    // cliPath: the update-cli to measure; workDir: an existing folder for the
    // update files and the program's trace file; logDir: when not empty, the
    // device's traffic log of every run is written there.
    CBenchRunner(std::string cliPath, std::string workDir, std::string logDir);

    // One run of the workload. Throws std::system_error when the device or
    // the child cannot be started.
    SRunFigures Run(const SWorkload& workload, unsigned runNumber);
    // Median interval between wake-up bytes sent to a silent device, in
    // milliseconds (update-cli gives up after one second).
    double WakeupIntervalMs();
    // Seconds from the last byte the device took in before falling silent to
    // "Failed: Target is not responding" in update-cli's output; negative
    // when the text never came.
    double SilentGiveUpSeconds();

private:
    std::string m_cliPath;
    std::string m_workDir;
    std::string m_logDir;
};
