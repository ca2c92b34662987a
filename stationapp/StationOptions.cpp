#include "StationOptions.h"

#include "ProgramStart.h"
#include "RunOutcome.h"
#include "Station.h"
#include "StringTable.h"

#include <CLI/CLI.hpp>

#include <cstdio>

using namespace devupdate;
using namespace devupdate::link;
using namespace devupdate::res;
using namespace devupdate::station;
using namespace devupdate::update;

int ParseStationOptions(int argc, char** argv, SStationOptions& options)
{
    const std::string name = ProgramName("update-station");
    CLI::App app("The production station as a window: one device per port at the same time, port after port.", name);
    app.set_help_flag("--help", "print this help and exit");
    app.set_version_flag("--version", name + " " + res::PROGRAM_VERSION, "print the version and exit");
    app.add_option("--port", options.ports, "a port of the station (ComN or a device path); repeatable")
        ->type_name("PORT")
        ->allow_extra_args(false);
    app.add_option("--count", options.passCount, "passes per port; the program then ends with the station's status")
        ->type_name("N")
        ->check(CLI::PositiveNumber);
    app.add_option("--log", options.logFile,
                   "the run log (default $XDG_STATE_HOME/update/station-YYYY-MM-DD.jsonl)")
        ->type_name("FILE");
    app.add_flag("--start", options.start, "start the station at once");
    app.add_option("file", options.file, "the update file")->type_name("FILE");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int status = app.exit(error);
        return status == 0 ? 0 : static_cast<int>(EXIT_USAGE_OR_SETUP);
    }
    if (options.ports.size() > MAX_STATION_PORTS) {
        std::fprintf(stderr, "%s: %s\n", name.c_str(), TooManyPortsText().c_str());
        return EXIT_USAGE_OR_SETUP;
    }
    if (options.start && options.file.empty()) {
        std::fprintf(stderr, "%s: --start needs the update file\n", name.c_str());
        return EXIT_USAGE_OR_SETUP;
    }
    return -1;
}
