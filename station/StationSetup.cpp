#include "StationSetup.h"

#include "OutputFile.h"
#include "PortInfo.h"
#include "PortName.h"
#include "PrintableText.h"
#include "RunOutputs.h"
#include "XsvfTrace.h"

#include <cerrno>
#include <cstring>
#include <set>
#include <sys/stat.h>

using namespace devupdate::link;
using namespace devupdate::update;
using namespace devupdate::xsvf;

namespace devupdate::station {

namespace {

// The port's short name for its trace file: ComN as ComN, a device path by
// its last part; anything but letters, digits, '.', '-' and '_' becomes '_'.
std::string ShortPortName(const std::string& port)
{
    if (const int number = ComPortNumber(port); number > 0)
        return "Com" + std::to_string(number);
    std::string name = port.substr(port.find_last_of('/') + 1);
    for (char& c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                           c == '-' || c == '_';
        if (!plain)
            c = '_';
    }
    return name.empty() ? "port" : name;
}

// What a run opens for the port: ComN's link or default device, or the path.
std::string PortPath(const std::string& port, const SPortPlaces& places)
{
    const int number = ComPortNumber(port);
    return number > 0 ? RoutePortName("COM" + std::to_string(number), places).path : port;
}

// The port and where it leads, as --list-ports says it, with its adapter.
std::string PortDescription(const std::string& port, const SPortPlaces& places)
{
    const int number = ComPortNumber(port);
    std::string text = number > 0 ? ComPortMapping(static_cast<unsigned>(number), places) : port;
    const std::string path = PortPath(port, places);
    if (number == 0) {
        const std::string device = CanonicalPath(port);
        if (!device.empty() && device != port)
            text += " -> " + device;
    }
    if (const std::optional<SPortInfo> info = FindSerialPort(path, places)) {
        const std::string adapter = DescribeAdapter(*info);
        if (!adapter.empty())
            text += ", " + adapter;
    }
    return text;
}

// The device a port leads to, for finding one port given twice; the name
// itself when it leads nowhere yet.
std::string PortIdentity(const std::string& port, const SPortPlaces& places)
{
    const std::string path = PortPath(port, places);
    const std::string device = CanonicalPath(path);
    return device.empty() ? path : device;
}

// What makes a station impossible before any port is touched; empty when
// nothing does.
std::string SetupProblem(const SStationSettings& settings, const std::string& traceDir,
                         const std::vector<CStationPort>& ports, const std::vector<std::string>& identities)
{
    struct stat info {};
    if (stat(settings.file.c_str(), &info) != 0)
        return settings.file + ": " + std::strerror(errno);
    if (!S_ISREG(info.st_mode))
        return settings.file + ": every port reads the update file again: it must be a regular file";
    if (!traceDir.empty() && (stat(traceDir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)))
        return "--trace-dir " + traceDir + ": no such folder";
    std::set<std::string> seen;
    std::set<std::string> traces;
    for (size_t i = 0; i < ports.size(); ++i) {
        if (!seen.insert(identities[i]).second)
            return "the port " + PrintableText(ports[i].Port()) + " is given twice";
        if (!traces.insert(ports[i].TracePath()).second)
            return "two ports would share the trace file " + PrintableText(ports[i].TracePath());
    }
    const std::vector<std::string> tracePaths(traces.begin(), traces.end());
    if (std::string clash = RunOutputsClash(settings.file, settings.logFile, tracePaths); !clash.empty())
        return clash;
    // Each pass checks its trace again; a place no pass could use ends the station at once.
    if (UpdateFileMayHoldXsvf(settings.file)) {
        for (const std::string& trace : tracePaths) {
            if (!TracePlaceProblem(trace, IdentifyFile(settings.file)).empty())
                return TraceOpenFailureText(trace);
        }
    }
    return {};
}

}  // namespace

std::string PrepareStationPorts(const SStationSettings& settings, const std::vector<std::string>& portNames,
                                const std::string& traceDir, std::vector<CStationPort>& ports)
{
    const SPortPlaces places = SPortPlaces::ForThisProcess();
    std::vector<std::string> identities;
    for (const std::string& port : portNames) {
        const std::string trace = "xsvf_debug-" + ShortPortName(port) + ".txt";
        ports.emplace_back(port, PortDescription(port, places), traceDir.empty() ? trace : traceDir + "/" + trace);
        identities.push_back(PortIdentity(port, places));
    }
    return SetupProblem(settings, traceDir, ports, identities);
}

}  // namespace devupdate::station
