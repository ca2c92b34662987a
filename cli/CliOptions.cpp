#include "CliOptions.h"

#include "ProgramStart.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace {

// Written for the build name; CliUsage() puts in the program's own.
const char* const USAGE =
    "usage: update-cli [--port PORT] [--wakeup-timeout SECONDS] [--quiet] [--json]\n"
    "                  [--log LOG] [--trace TRACE | --trace-dir DIR] FILE\n"
    "       update-cli --port PORT [--port PORT ...] [--station [--count N]]\n"
    "                  [--wakeup-timeout SECONDS] [--quiet] [--json] [--log LOG]\n"
    "                  [--trace-dir DIR] FILE\n"
    "       update-cli --check FILE\n"
    "       update-cli --list FILE [--out LISTING.txt]\n"
    "       update-cli --help | --version\n"
    "       update-cli --list-ports [--json]\n"
    "       update-cli --map-port ComN DEVICE|-\n"
    "\n"
    "Updates the device on PORT with the update file FILE: switch the device off and\n"
    "on when asked. PORT is Com1..Com10 (default Com1, or UPDATE_PORT from the\n"
    "environment) or a device path beginning with '/'. ComN is the link ports/comN\n"
    "beside the program, else the user's link $XDG_CONFIG_HOME/update/ports/comN\n"
    "(see --map-port), else /dev/ttyS(N-1).\n"
    "\n"
    "  --wakeup-timeout S  give up when the device has not answered after S seconds\n"
    "  --quiet             print only the result rows and the final message\n"
    "  --json              print every event as one JSON object per line instead\n"
    "  --log LOG           append one record of the run to the file LOG\n"
    "  --trace TRACE       write the XSVF trace to TRACE, not ./xsvf_debug.txt\n"
    "  --trace-dir DIR     write the trace files into DIR, not the current folder\n"
    "  --port PORT ...     given 2 to 16 times: update one device on each port at\n"
    "                      once; each port's trace is xsvf_debug-PORT.txt\n"
    "  --station           each port goes on after a run: it waits for the next\n"
    "                      device and updates it, until Ctrl-C\n"
    "  --count N           with --station: stop each port after N passes\n"
    "  --check FILE        check the file and list its targets, each with its stored\n"
    "                      size and estimated time on the line\n"
    "  --list FILE         also list every body record and XSVF command\n"
    "  --out LISTING.txt   with --list: write the listing to this file too\n"
    "  --list-ports        list the serial devices and where Com1..Com10 lead\n"
    "                      (with --json: one JSON object per device and per ComN)\n"
    "  --map-port ComN DEVICE\n"
    "                      make ComN lead to DEVICE for this user (the link\n"
    "                      ~/.config/update/ports/comN); '-' removes it\n"
    "\n"
    "Ctrl-C before the device answered cancels at once; afterwards it asks first.\n"
    "SIGTERM cancels without asking. SIGHUP and SIGQUIT cancel only before the\n"
    "device answered; afterwards the run goes on to its end. With several ports or\n"
    "--station, the first Ctrl-C also stops new passes and ends the ports that\n"
    "wait for a device; the second cancels the ones in the middle of an update.\n"
    "Exit status: 0 all targets updated, 1 the run failed or fewer targets were\n"
    "updated, 2 usage, file or port error, 3 cancelled, 4 wake-up time-out. With\n"
    "several ports: 0 when every port updated every target, else the most serious\n"
    "of the ports' statuses, in this order: 2, 4, 1, 3.\n";

}  // namespace

std::string CliUsage()
{
    const std::string buildName = "update-cli";
    const std::string name = ProgramName(buildName.c_str());
    // Continuation lines of a synopsis line stay aligned under its options.
    auto continuationAfter = [](const std::string& program) {
        std::string line(1 + std::strlen("usage: ") + program.size() + 1 + 1, ' ');
        line.front() = '\n';
        line.back() = '[';
        return line;
    };
    const std::string continuation = continuationAfter(buildName);
    const std::string widened = continuationAfter(name);
    std::string usage = USAGE;
    for (size_t at = 0; (at = usage.find(buildName, at)) != std::string::npos; at += name.size())
        usage.replace(at, buildName.size(), name);
    for (size_t at = 0; (at = usage.find(continuation, at)) != std::string::npos; at += widened.size())
        usage.replace(at, continuation.size(), widened);
    return usage;
}

int ComPortNumber(const std::string& port)
{
    if (port.size() < 4 || port.size() > 5 || strncasecmp(port.c_str(), "com", 3) != 0)
        return 0;
    for (size_t i = 3; i < port.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(port[i])))
            return 0;
    }
    const int number = std::atoi(port.c_str() + 3);
    return number >= 1 && number <= 10 && port[3] != '0' ? number : 0;
}

namespace {

bool CheckStationOptions(const SCliOptions& options, std::string& error)
{
    const bool update = options.mode == CliMode::Update;
    if ((options.station || options.ports.size() > 1 || !options.traceDir.empty()) && !update) {
        error = "--station, --trace-dir and several --port go with an update run only";
        return false;
    }
    if (options.ports.size() > MAX_STATION_PORTS) {
        error = "at most 16 ports at once";
        return false;
    }
    if (options.passCount > 0 && !options.station) {
        error = "--count goes with --station";
        return false;
    }
    if (!options.traceFile.empty() && !options.traceDir.empty()) {
        error = "--trace and --trace-dir exclude each other";
        return false;
    }
    if (!options.traceFile.empty() && IsStationRun(options)) {
        error = "with several ports or --station each port has its own trace: use --trace-dir";
        return false;
    }
    return true;
}

}  // namespace

bool ParseCliOptions(int argc, char** argv, SCliOptions& options, std::string& error)
{
    bool haveMode = false;
    if (const char* fromEnvironment = std::getenv("UPDATE_PORT"); fromEnvironment != nullptr && *fromEnvironment)
        options.port = fromEnvironment;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--json")
            options.json = true;
    }
    auto setMode = [&](CliMode mode) {
        if (haveMode && options.mode != mode) {
            error = "conflicting options";
            return false;
        }
        haveMode = true;
        options.mode = mode;
        return true;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) {
                error = arg + " needs a value";
                return false;
            }
            out = argv[++i];
            return true;
        };
        if (arg == "--help" || arg == "-h") {
            options.mode = CliMode::Help;
            return true;
        } else if (arg == "--version") {
            options.mode = CliMode::Version;
            return true;
        } else if (arg == "--port") {
            if (!value(options.port))
                return false;
            options.portGiven = true;
            options.ports.push_back(options.port);
        } else if (arg == "--station") {
            options.station = true;
        } else if (arg == "--station-pass") {
            options.stationPass = true;
        } else if (arg == "--count") {
            std::string text;
            if (!value(text))
                return false;
            char* end = nullptr;
            const unsigned long count = std::strtoul(text.c_str(), &end, 10);
            if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0])) || *end != '\0' || count == 0 ||
                count > 1000000) {
                error = "--count needs a number of passes from 1 to 1000000";
                return false;
            }
            options.passCount = static_cast<unsigned>(count);
        } else if (arg == "--trace-dir") {
            if (!value(options.traceDir))
                return false;
        } else if (arg == "--wakeup-timeout") {
            std::string text;
            if (!value(text))
                return false;
            char* end = nullptr;
            options.wakeupTimeoutSeconds = std::strtod(text.c_str(), &end);
            if (text.empty() || *end != '\0' || !(options.wakeupTimeoutSeconds > 0)) {
                error = "--wakeup-timeout needs a number of seconds above 0";
                return false;
            }
        } else if (arg == "--quiet" || arg == "-q") {
            options.quiet = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--log") {
            if (!value(options.logFile))
                return false;
        } else if (arg == "--trace") {
            if (!value(options.traceFile))
                return false;
        } else if (arg == "--check") {
            if (!setMode(CliMode::Check))
                return false;
        } else if (arg == "--list") {
            if (!setMode(CliMode::List))
                return false;
        } else if (arg == "--out") {
            if (!value(options.listingOut))
                return false;
        } else if (arg == "--list-ports") {
            if (!setMode(CliMode::ListPorts))
                return false;
        } else if (arg == "--map-port") {
            if (!setMode(CliMode::MapPort) || !value(options.mapPortName) || !value(options.mapPortDevice))
                return false;
            if (ComPortNumber(options.mapPortName) == 0) {
                error = "--map-port needs Com1..Com10";
                return false;
            }
        } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
            error = "unknown option " + arg;
            return false;
        } else if (options.file.empty()) {
            options.file = arg;
        } else {
            error = "more than one file given";
            return false;
        }
    }
    const bool portMode = options.mode == CliMode::ListPorts || options.mode == CliMode::MapPort;
    if (portMode && !options.file.empty()) {
        error = "--list-ports and --map-port take no update file";
        return false;
    }
    if (options.file.empty() && !portMode) {
        error = "no update file given";
        return false;
    }
    if (!options.listingOut.empty() && options.mode != CliMode::List) {
        error = "--out goes with --list";
        return false;
    }
    if (options.ports.empty())
        options.ports.push_back(options.port);
    else
        options.port = options.ports.front();
    for (const std::string& port : options.ports) {
        if (port.empty() || (port[0] != '/' && ComPortNumber(port) == 0)) {
            error = "PORT must be Com1..Com10 or a device path beginning with '/' (" + port + ")";
            return false;
        }
    }
    return CheckStationOptions(options, error);
}
