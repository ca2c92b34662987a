#pragma once
// The command line of update-station:
//   update-station [--port P]... [--count N] [--log FILE] [--start] [FILE]

#include <string>
#include <vector>

struct SStationOptions {
    std::vector<std::string> ports;  // every --port, in order; empty: the remembered choice
    unsigned passCount = 0;          // --count N: passes per port, then the program ends; 0: until stopped
    std::string logFile;             // --log FILE; empty: the day's file in the user's state folder
    bool start = false;              // --start: the station starts at once
    std::string file;
};

// Parses argv. Returns -1 when the window is to be shown, else the exit
// status the program ends with at once (--help, --version, a usage error;
// the text is printed).
int ParseStationOptions(int argc, char** argv, SStationOptions& options);
