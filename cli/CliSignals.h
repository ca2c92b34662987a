#pragma once
// The signals update-cli takes in its main loop, never in the middle of a
// frame: SIGINT, SIGTERM, SIGHUP and SIGQUIT are blocked (the worker thread
// inherits the mask) and fetched with sigtimedwait. A signal that the caller
// set to "ignore" (a background job, nohup) stays ignored: it is left out.

#include "OutputStream.h"

#include <chrono>
#include <csignal>

// Blocks the signals the run takes and returns them. Call before the port is
// opened, so that no signal ends the process with the line raw and locked.
sigset_t BlockRunSignals();

// The next of `signals` within timeout; 0 when none came.
int WaitForSignal(const sigset_t& signals, std::chrono::milliseconds timeout);

// Waits for the readers of what err and out hold, unless one of `signals`
// says to stop waiting: the run is over, only its report is left.
void DrainOutputs(COutputStream& err, COutputStream& out, const sigset_t& signals);
