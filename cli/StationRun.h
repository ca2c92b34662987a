#pragma once
// update-cli with several ports, or --station: one device per port at the
// same time, each run in a child process of its own (update-cli --json for
// that port), its events read from a pipe. With --station each port goes
// on with the next device after a run, until stopped or --count passes.

#include "CliOptions.h"

// Exit status: 0 when every port updated every target of every pass, else
// the most serious of the ports' statuses (MoreSeriousExitStatus).
int RunStation(const SCliOptions& options);
