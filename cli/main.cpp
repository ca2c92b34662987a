// update-cli: the update run without a window, for production lines and
// scripts; the same messages as the window, exit status by outcome.

#include "ProgramStart.h"
#include "CliOptions.h"
#include "CliUpdateRun.h"
#include "JsonEvents.h"
#include "PortCommands.h"
#include "StationRun.h"
#include "StringTable.h"
#include "UpdateFileListing.h"

#include <cstdio>
#include <string>

using namespace devupdate;
using namespace devupdate::link;
using namespace devupdate::res;
using namespace devupdate::update;

int main(int argc, char** argv)
{
    (void)PrepareProgramStart();
    NameProgramFromExecutable();
    SCliOptions options;
    std::string error;
    if (!ParseCliOptions(argc, argv, options, error)) {
        if (options.json)
            std::fputs(JsonLine(JsonErrorEnd(events::ending::USAGE_ERROR, error, EXIT_USAGE_OR_SETUP)).c_str(), stdout);
        else
            std::fprintf(stderr, "%s: %s\n%s", ProgramName("update-cli").c_str(), error.c_str(), CliUsage().c_str());
        return EXIT_USAGE_OR_SETUP;
    }
    switch (options.mode) {
    case CliMode::Help:
        std::fputs(CliUsage().c_str(), stdout);
        return 0;
    case CliMode::Version:
        std::printf("%s %s\n", ProgramName("update-cli").c_str(), res::PROGRAM_VERSION);
        return 0;
    case CliMode::Check:
        return RunCheck(options);
    case CliMode::List:
        return RunList(options);
    case CliMode::ListPorts:
        return RunListPorts(SPortPlaces::ForThisProcess(), stdout, options.json);
    case CliMode::MapPort:
        return RunMapPort(options, SPortPlaces::ForThisProcess());
    case CliMode::Update:
        break;
    }
    return IsStationRun(options) ? RunStation(options) : RunUpdate(options);
}
