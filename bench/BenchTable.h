#pragma once
// The benchmark's report: one Markdown table row per workload, medians over
// its runs (maxima for the worst-case columns), and the targets checked.

#include "BenchRunner.h"

#include <cstdio>
#include <string>
#include <vector>

struct SWorkloadSummary {
    std::string name;
    std::string description;
    unsigned runs = 0;
    unsigned failedRuns = 0;
    double wallSeconds = 0;      // median
    double limitSeconds = 0;     // median
    double ratio = 0;            // median of the runs' ratios
    double ratioMax = 0;
    double ratioNetOfDevice = 0; // median
    double turnMedianMs = 0;     // median of the runs' medians
    double turnP95Ms = 0;        // median of the runs' 95th percentiles
    double turnMaxMs = 0;        // the largest of all runs
    double deviceLateMs = 0;     // median of the runs' medians
    // Medians of the runs' parts of wall - limit (see SRunFigures).
    double turnSumSeconds = 0;
    double deviceLateSumSeconds = 0;
    double startSeconds = 0;
    double endSeconds = 0;
    double toolRunDelaySeconds = 0;
    double deviceRunDelaySeconds = 0;
    double cpuShare = 0;         // median
    double cpuSeconds = 0;       // median
    long peakRssKiB = 0;         // the largest of all runs
    double floorMedianMs = 0;    // median of the runs' floor medians
    double floorP95Ms = 0;       // median of the runs' floor 95th percentiles
    size_t lineBytes = 0;
    size_t turnarounds = 0;
    double estimateSeconds = 0;  // update-cli --check's estimate
    double recordSeconds = 0;    // median of the runs' record seconds
};

SWorkloadSummary Summarise(const std::string& name, const std::string& description,
                           const std::vector<SRunFigures>& runs);

struct STimingSummary {
    bool measured = false;        // false: the silent workload was not run
    double wakeupIntervalMs = 0;  // median over runs
    double giveUpSeconds = 0;     // median over runs
};

// Prints one target's line, "ok" or "MISSED" before `what`; returns 1 when missed.
int CheckTarget(FILE* out, const std::string& what, bool ok);

// Prints the tables; returns the number of targets missed.
int PrintReport(FILE* out, const std::vector<SWorkloadSummary>& workloads, const STimingSummary& timing);
