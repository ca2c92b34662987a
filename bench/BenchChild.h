#pragma once
// CBenchChild: one run of a program as a child process, timed from just
// before the fork to the moment wait4 reaps it, with the child's CPU time
// and peak resident memory from the kernel (wait4's rusage). Standard
// output and standard error arrive merged through one pipe, stamped with
// the time each piece was read, so that the moment a text appeared can be
// told (on the steady clock the simulated device stamps its traffic with).

#include <chrono>
#include <optional>
#include <string>
#include <vector>

using BenchClock = std::chrono::steady_clock;

struct SChildResult {
    int status = -1;                 // exit status, 128 + signal, or -1 when killed at the time-out
    BenchClock::time_point started;  // just before the fork
    BenchClock::time_point ended;    // wait4 returned
    std::chrono::microseconds cpu{}; // user + system time of the child
    // The child's own peak: the largest VmHWM of /proc/PID/status seen while
    // it ran (sampled every SAMPLE_MS and at the end of its output). Not
    // ru_maxrss: that also counts the copy of this process made by fork.
    long peakRssKiB = 0;
    std::string output;              // standard output and error, merged
    // Seconds the child's threads waited for a CPU (from the same samples;
    // a thread that ended between two samples counts up to its last one).
    double runDelaySeconds = 0;

    std::chrono::duration<double> Wall() const { return ended - started; }
    // When `text` was first seen in the output; nothing if never.
    std::optional<BenchClock::time_point> FirstSeen(const std::string& text) const;

    struct SPiece {
        BenchClock::time_point time;
        size_t end;  // output.size() after this piece
    };
    std::vector<SPiece> pieces;
};

constexpr int SAMPLE_MS = 20;

// Runs `program` (a path) with `args` in the folder `workDir` and waits for
// its end, killing it after `timeout`. The child starts with no signal
// blocked. With `stdoutPath` its standard output goes to that file (as a
// shell's "> FILE" does) and only standard error to the pipe. Throws
// std::system_error when pipe, fork or wait4 fail.
SChildResult RunChild(const std::string& program, const std::vector<std::string>& args,
                      const std::string& workDir, std::chrono::milliseconds timeout,
                      const std::string& stdoutPath = {});
