#include "CliOptions.h"

#include "CommandLine.h"
#include "PortName.h"
#include "ProgramStart.h"
#include "Station.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

using namespace devupdate::link;
using namespace devupdate::station;

namespace {

// Written for the build name; CliUsage() puts in the program's own.
const char* const USAGE =
    "usage: update-cli [--port PORT] [--wakeup-timeout SECONDS] [--quiet] [--json]\n"
    "                  [--log LOG] [--trace TRACE | --trace-dir DIR]\n"
    "                  [--require-signature] FILE\n"
    "       update-cli --port PORT [--port PORT ...] [--station [--count N]]\n"
    "                  [--wakeup-timeout SECONDS] [--quiet] [--json] [--log LOG]\n"
    "                  [--trace-dir DIR] [--require-signature] FILE\n"
    "       update-cli --check [--require-signature] FILE\n"
    "       update-cli --list [--require-signature] FILE [--out LISTING.txt]\n"
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
    "  --require-signature refuse FILE unless FILE.minisig is a valid signature by a\n"
    "                      trusted key, even when no key is trusted (a key file in\n"
    "                      $XDG_CONFIG_HOME/update/trusted-keys or in\n"
    "                      /etc/devupdate/trusted-keys requires it anyway)\n"
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

namespace {

bool ParsePassCount(const std::string& text, unsigned& count, std::string& error)
{
    char* end = nullptr;
    const unsigned long value = std::strtoul(text.c_str(), &end, 10);
    if (!std::isdigit(static_cast<unsigned char>(text[0])) || *end != '\0' || value == 0 || value > 1000000) {
        error = "--count needs a number of passes from 1 to 1000000";
        return false;
    }
    count = static_cast<unsigned>(value);
    return true;
}

bool ParseWakeupTimeout(const std::string& text, double& seconds, std::string& error)
{
    char* end = nullptr;
    seconds = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !(seconds > 0)) {
        error = "--wakeup-timeout needs a number of seconds above 0";
        return false;
    }
    return true;
}

// The mode of the one mode option given (Update when none).
bool TakeMode(std::initializer_list<std::pair<const CLI::Option*, CliMode>> modes, CliMode& mode, std::string& error)
{
    bool haveMode = false;
    for (const auto& [option, itsMode] : modes) {
        if (option->count() == 0)
            continue;
        if (haveMode) {
            error = "conflicting options";
            return false;
        }
        haveMode = true;
        mode = itsMode;
    }
    return true;
}

// The update file where the mode needs one, the ports as a run takes them.
bool CheckFileAndPorts(SCliOptions& options, std::string& error)
{
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
    return true;
}

bool CheckStationOptions(const SCliOptions& options, std::string& error)
{
    const bool update = options.mode == CliMode::Update;
    if ((options.station || options.ports.size() > 1 || !options.traceDir.empty()) && !update) {
        error = "--station, --trace-dir and several --port go with an update run only";
        return false;
    }
    if (options.ports.size() > MAX_STATION_PORTS) {
        error = TooManyPortsText();
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
    for (int i = 1; i < argc && std::string_view(argv[i]) != "--"; ++i) {
        if (std::string_view(argv[i]) == "--json")
            options.json = true;
    }
    CLI::App app;
    app.set_help_flag();  // --help is ours: the usage text, exit 0
    const CLI::Option* help = app.add_flag("-h,--help");
    const CLI::Option* version = app.add_flag("--version");
    const CLI::Option* port = app.add_option("--port", options.ports)
                                     ->expected(1)
                                     ->allow_extra_args(false)
                                     ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
                                     ->envname("UPDATE_PORT");
    app.add_flag("--station", options.station);
    app.add_flag("--station-pass", options.stationPass);
    std::string count, wakeupTimeout;
    const CLI::Option* countGiven = app.add_option("--count", count);
    app.add_option("--trace-dir", options.traceDir);
    const CLI::Option* timeoutGiven = app.add_option("--wakeup-timeout", wakeupTimeout);
    app.add_flag("-q,--quiet", options.quiet);
    app.add_flag("--json", options.json);
    app.add_option("--log", options.logFile);
    app.add_option("--trace", options.traceFile);
    app.add_flag("--require-signature", options.requireSignature);
    const CLI::Option* check = app.add_flag("--check");
    const CLI::Option* list = app.add_flag("--list");
    app.add_option("--out", options.listingOut);
    const CLI::Option* listPorts = app.add_flag("--list-ports");
    std::vector<std::string> mapPort;
    const CLI::Option* map = app.add_option("--map-port", mapPort)->expected(2)->allow_extra_args(false);
    std::vector<std::string> files;
    app.add_option("FILE", files);
    const bool parsed = ParseProgramOptions(app, argc, argv, error);
    if (help->count() > 0 || version->count() > 0) {
        options.mode = help->count() > 0 ? CliMode::Help : CliMode::Version;
        return true;
    }
    if (!parsed)
        return false;
    if (!TakeMode({{check, CliMode::Check}, {list, CliMode::List}, {listPorts, CliMode::ListPorts}, {map, CliMode::MapPort}},
                  options.mode, error))
        return false;
    if (files.size() > 1) {
        error = "more than one file given";
        return false;
    }
    if (!files.empty())
        options.file = files.front();
    // UPDATE_PORT fills the option too; only the command line counts as given.
    options.portGiven = std::find(app.parse_order().begin(), app.parse_order().end(), port) != app.parse_order().end();
    if (countGiven->count() > 0 && !ParsePassCount(count, options.passCount, error))
        return false;
    if (timeoutGiven->count() > 0 && !ParseWakeupTimeout(wakeupTimeout, options.wakeupTimeoutSeconds, error))
        return false;
    if (options.mode == CliMode::MapPort) {
        options.mapPortName = mapPort[0];
        options.mapPortDevice = mapPort[1];
        if (ComPortNumber(options.mapPortName) == 0) {
            error = "--map-port needs Com1..Com10";
            return false;
        }
    }
    if (options.requireSignature && (options.mode == CliMode::ListPorts || options.mode == CliMode::MapPort)) {
        error = "--require-signature goes with an update file";
        return false;
    }
    return CheckFileAndPorts(options, error) && CheckStationOptions(options, error);
}
