#pragma once
// CBenchStation: update-cli as a production station, one command with a
// --port per device, updating several simulated devices (in this process,
// each on its own thread) at once; and the comparison of such runs with
// single runs of the same workload.

#include "BenchRunner.h"

#include <cstdio>
#include <string>
#include <vector>

struct SStationRun {
    bool succeeded = false;  // exit status 0 and every device's session ended once
    int status = -1;
    double wallSeconds = 0;  // fork to reaping of the station update-cli
    // The station's CPU time with that of the children it reaped (one per port).
    double cpuSeconds = 0;
    // Per device, in the order of the --port options.
    std::vector<std::vector<uint8_t>> receivedFromStart;
};

class CBenchStation {
public:
    // As CBenchRunner's: the update-cli, the work folder, the log folder.
    CBenchStation(std::string cliPath, std::string workDir, std::string logDir);

    // One station run of the workload against `devices` fresh devices.
    // Throws std::system_error when a device or the child cannot be started.
    SStationRun Run(const SWorkload& workload, unsigned devices, unsigned runNumber);

private:
    std::string m_cliPath;
    std::string m_workDir;
    std::string m_logDir;
};

struct SStationSummary {
    std::string name;         // e.g. "station firmware x4"
    unsigned devices = 0;
    unsigned runs = 0;
    unsigned failedRuns = 0;  // station runs and single runs
    double wallSeconds = 0;   // median of the station runs
    double singleWallMedian = 0;
    double singleWallSlowest = 0;
    double cpuPerDevice = 0;  // median of the station runs' CPU / devices
    double singleCpu = 0;     // median of the single runs
    // The devices (from 1) that in some station run took in other bytes from
    // the start byte on than the first single run; empty when none did.
    std::vector<unsigned> differingDevices;

    double WallOverSlowest() const { return singleWallSlowest > 0 ? wallSeconds / singleWallSlowest : 0; }
    double WallOverMedian() const { return singleWallMedian > 0 ? wallSeconds / singleWallMedian : 0; }
    double CpuOverSingle() const { return singleCpu > 0 ? cpuPerDevice / singleCpu : 0; }
};

SStationSummary SummariseStation(const std::string& workloadName, unsigned devices,
                                 const std::vector<SStationRun>& stationRuns, const std::vector<SRunFigures>& singleRuns);

// Prints the table and the targets; returns the number of targets missed.
int PrintStationReport(FILE* out, const std::vector<SStationSummary>& stations);
