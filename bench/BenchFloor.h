#pragma once
// The floor of a workload's turnaround: what this machine allows for a
// request/answer exchange over a pseudo-terminal, measured in the same run.
// A child process plays a minimal tool (one write per frame, then poll and
// read until the answer is in) and a thread of this process a minimal device
// that takes the frame in at line pace and writes the answer byte by byte at
// the end of each byte's time on the line, with the same timer slack and the
// same time stamps as the simulated device. The exchanges have the frame and
// answer sizes of the workload's own run, so the two turnarounds compare
// like with like.

#include "TrafficLog.h"

#include <cstddef>
#include <vector>

struct SExchangeSize {
    size_t frameBytes = 0;
    size_t answerBytes = 0;
};

// The sizes of the exchanges of a run that the device answered.
std::vector<SExchangeSize> ExchangeSizes(const std::vector<devupdate::devsim::STrafficByte>& traffic,
                                         const std::vector<devupdate::devsim::SExchange>& exchanges);

struct SFloorFigures {
    size_t turnarounds = 0;
    double medianMs = 0;
    double p95Ms = 0;
    double toolCpuMicroseconds = 0;  // CPU time of the minimal tool per exchange
};

// Replays the exchanges in order, as many as fit into `maxLineSeconds` of
// line time at `baud`. Throws std::system_error when the pseudo-terminal or
// the child cannot be set up, std::runtime_error when an exchange stalls.
SFloorFigures MeasureFloor(const std::vector<SExchangeSize>& sizes, unsigned baud, double maxLineSeconds);
