#pragma once
// Setting a station up before any port is touched: each port with its
// description and trace file, and what makes the station impossible.

#include "Station.h"
#include "StationPort.h"

#include <string>
#include <vector>

namespace devupdate::station {

// The station's ports as named (Com1..Com10 or device paths), each with
// where it leads and its trace file xsvf_debug-PORT.txt in traceDir (empty:
// the current folder); the update file and the run log come from settings.
// Returns what makes the station impossible (empty when nothing does).
std::string PrepareStationPorts(const SStationSettings& settings, const std::vector<std::string>& portNames,
                                const std::string& traceDir, std::vector<CStationPort>& ports);

}  // namespace devupdate::station
