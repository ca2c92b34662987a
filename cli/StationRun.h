#pragma once
// update-cli with several ports, or --station: one device per port at the
// same time, each run in a child process of its own (update-cli --json for
// that port), its events read from a pipe. With --station each port goes
// on with the next device after a run, until stopped or --count passes.

#include "CliOptions.h"
#include "Station.h"

#include <string>
#include <vector>

// Exit status: 0 when every port updated every target of every pass, else
// the most serious of the ports' statuses (MoreSeriousExitStatus).
int RunStation(const SCliOptions& options);

// The station's ports as the options name them, each with its description
// and trace file; returns what makes the station impossible before any port
// is touched (empty when nothing does).
std::string PrepareStationPorts(const SCliOptions& options, std::vector<devupdate::station::CStationPort>& ports);

// What each pass of the station the options describe runs with.
devupdate::station::SStationSettings StationSettings(const SCliOptions& options);
