#pragma once
// Time the threads of a process spent runnable but waiting for a CPU (the
// kernel's schedstat run delay): tells a busy machine from a slow program.

#include <map>
#include <sys/types.h>

// Run delay in seconds per thread id of process `pid` (0: this process);
// threads that cannot be read are left out, so an ended process gives none.
std::map<pid_t, double> RunDelays(pid_t pid);

// Sum of the run delays in `now`, less what the same threads had in `before`.
double RunDelayGrowth(const std::map<pid_t, double>& before, const std::map<pid_t, double>& now);
