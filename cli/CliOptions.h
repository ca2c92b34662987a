#pragma once
// The command line of update-cli.

#include <string>
#include <vector>

enum class CliMode { Update, Check, List, Help, Version, ListPorts, MapPort };

struct SCliOptions {
    CliMode mode = CliMode::Update;
    std::string file;
    std::string port = "Com1";        // UPDATE_PORT in the environment, else Com1; --port wins
    double wakeupTimeoutSeconds = 0;  // 0: wait for ever, as the window does
    bool quiet = false;
    std::string listingOut;           // --list ... --out FILE
    bool json = false;                // --json: JSON Lines on standard output
    std::string logFile;              // --log FILE: one record appended per run
    std::string traceFile;            // --trace FILE: the XSVF trace instead of ./xsvf_debug.txt
    bool requireSignature = false;    // --require-signature: even when no key is trusted

    bool portGiven = false;           // --port on the command line
    std::vector<std::string> ports;   // every --port, in order (port is the first)
    bool station = false;             // --station: each port goes on with the next device
    unsigned passCount = 0;           // --count N: passes per port; 0: until stopped
    std::string traceDir;             // --trace-dir DIR: the trace files' folder
    bool stationPass = false;         // one pass run by a station (a child of update-cli)
    std::string mapPortName;          // --map-port ComN DEVICE|-
    std::string mapPortDevice;        // "-" removes the mapping
};

// Parses argv (the port's default from UPDATE_PORT); false with `error` set
// on a usage error. `options.json` is set as soon as --json is seen, so that
// even a usage error can be reported as JSON.
bool ParseCliOptions(int argc, char** argv, SCliOptions& options, std::string& error);

// Several ports, or --station: each port is updated by a child process.
inline bool IsStationRun(const SCliOptions& options)
{
    return options.mode == CliMode::Update && (options.station || options.ports.size() > 1);
}

// The usage text, with the program's own name (see ProgramName).
std::string CliUsage();
