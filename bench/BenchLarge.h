#pragma once
// The large-input section: SVF conversion of a 100 MB file, --list of a
// 50 MB XSVF stream and --check of a 200 MB firmware file, each a program
// run as a user runs it, timed with its peak memory. The files are written
// into the work folder first (and removed with it).

#include <cstdio>
#include <string>
#include <vector>

struct SLargeFigures {
    std::string name;
    double inputMB = 0;       // 10^6 bytes
    double wallSeconds = 0;
    double peakMiB = 0;
    int status = -1;
    double minMBPerSecond = 0;  // the goal; 0: none
    double maxPeakMiB = 0;      // the goal; 0: none
    double MBPerSecond() const { return wallSeconds > 0 ? inputMB / wallSeconds : 0; }
};

// Runs each input `runs` times and keeps the median wall time and the
// largest peak. binDir holds mkupd and update-cli. Throws std::runtime_error
// when a file cannot be written, std::system_error when a child cannot run.
std::vector<SLargeFigures> RunLargeInputs(const std::string& binDir, const std::string& workDir, unsigned runs);

// Prints the table and the goals; returns the number of goals missed.
int PrintLargeReport(FILE* out, const std::vector<SLargeFigures>& figures);
