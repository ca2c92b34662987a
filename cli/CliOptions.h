#pragma once
// The command line of update-cli.

#include <string>

enum class CliMode { Update, Check, List, Help, Version, ListPorts, MapPort };

struct SCliOptions {
    CliMode mode = CliMode::Update;
    std::string file;
    std::string port = "Com1";
    double wakeupTimeoutSeconds = 0;  // 0: wait for ever, as the window does
    bool quiet = false;
    std::string listingOut;           // --list ... --out FILE

    bool portGiven = false;           // --port on the command line
    std::string mapPortName;          // --map-port ComN DEVICE|-
    std::string mapPortDevice;        // "-" removes the mapping
};

// Parses argv; false with `error` set on a usage error.
bool ParseCliOptions(int argc, char** argv, SCliOptions& options, std::string& error);

// "Com1".."Com10" (any case) give the port number; 0 for anything else.
int ComPortNumber(const std::string& port);

extern const char* const CLI_USAGE;
