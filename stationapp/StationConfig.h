#pragma once
// The station's remembered choice, $XDG_CONFIG_HOME/update/station.cfg:
//   File=/path/board.upd
//   Port=Com1
//   Port=/dev/ttyUSB3

#include <string>
#include <vector>

struct SStationConfig {
    std::string file;
    std::vector<std::string> ports;
};

// The file's place; empty when the user has no configuration folder.
std::string StationConfigPath();
// What the file holds; nothing when it is missing or unreadable.
SStationConfig ReadStationConfig(const std::string& path);
// Replaces the file once complete; false with `error` set.
bool WriteStationConfig(const std::string& path, const SStationConfig& config, std::string& error);
