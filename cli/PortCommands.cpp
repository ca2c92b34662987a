#include "PortCommands.h"
#include "ProgramStart.h"

#include "CliUpdateRun.h"
#include "JsonEvents.h"
#include "PortInfo.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace devupdate::link;
using namespace devupdate::update;

namespace {

std::string ComNames(const std::vector<unsigned>& numbers)
{
    std::string text;
    for (unsigned n : numbers)
        text += (text.empty() ? "Com" : ",Com") + std::to_string(n);
    return text.empty() ? "-" : text;
}

// The name the link should hold: the by-id name survives re-plugging into
// another socket and the order of plugging; the device as given otherwise.
std::string LinkTargetFor(const std::string& device, const SPortPlaces& places)
{
    const std::optional<SPortInfo> port = FindSerialPort(device, places);
    if (!port || port->byId.empty() || device.rfind(places.devRoot + "/serial/", 0) == 0)
        return device;
    return port->byId.front();
}

bool ReplaceLink(const std::string& link, const std::string& target, std::string& error)
{
    const std::string fresh = link + ".new";
    if (unlink(fresh.c_str()) != 0 && errno != ENOENT) {
        error = "unlink " + fresh + ": " + std::strerror(errno);
        return false;
    }
    if (symlink(target.c_str(), fresh.c_str()) != 0) {
        error = "symlink " + fresh + ": " + std::strerror(errno);
        return false;
    }
    if (rename(fresh.c_str(), link.c_str()) != 0) {
        error = "rename " + fresh + ": " + std::strerror(errno);
        (void)unlink(fresh.c_str());
        return false;
    }
    return true;
}

bool RemoveLink(const std::string& link, std::string& error)
{
    if (unlink(link.c_str()) != 0 && errno != ENOENT) {
        error = "unlink " + link + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

// One "port" line per serial device, then one "com" line per ComN.
void ListPortsAsJson(const std::vector<SPortInfo>& ports, const SPortPlaces& places, std::FILE* out)
{
    using namespace events;
    for (const SPortInfo& port : ports) {
        JsonObject line = JsonEvent(name::PORT);
        line[field::DEVICE] = port.device;
        line[field::BY_ID] = port.byId;
        line[field::BY_PATH] = port.byPath;
        line[field::DRIVER] = port.driver;
        line[field::USB_VENDOR] = port.usbVendor;
        line[field::USB_PRODUCT] = port.usbProduct;
        line[field::MANUFACTURER] = port.manufacturer;
        line[field::PRODUCT] = port.product;
        line[field::SERIAL_NUMBER] = port.serialNumber;
        line[field::PRESENT] = port.present;
        line[field::ACCESSIBLE] = port.accessible;
        line[field::GROUP] = port.group;
        line[field::COM] = port.comNumbers;
        line[field::LATENCY_TIMER_MS] = port.latencyTimerMs ? JsonObject(*port.latencyTimerMs) : JsonObject();
        std::fputs(JsonLine(std::move(line)).c_str(), out);
    }
    for (unsigned n = 1; n <= COM_PORT_COUNT; ++n) {
        const SPortTarget target = RoutePortName("Com" + std::to_string(n), places);
        const std::optional<SPortInfo> port = FindSerialPort(target.path, places);
        JsonObject line = JsonEvent(name::COM);
        line[field::COM] = n;
        line[field::PATH] = target.path;
        line[field::LEADS_TO] = CanonicalPath(target.path);
        line[field::SERIAL_DEVICE] = port ? port->device : "";
        std::fputs(JsonLine(std::move(line)).c_str(), out);
    }
}

}  // namespace

int RunListPorts(const SPortPlaces& places, std::FILE* out, bool json)
{
    const std::vector<SPortInfo> ports = ListSerialPorts(places);
    if (json) {
        ListPortsAsJson(ports, places, out);
        return EXIT_UPDATED;
    }
    if (ports.empty())
        std::fprintf(out, "No serial devices found.\n");
    size_t width = std::string("DEVICE").size();
    for (const SPortInfo& port : ports)
        width = std::max(width, port.device.size());
    if (!ports.empty())
        std::fprintf(out, "%-*s  %-9s %-11s %-24s %s\n", static_cast<int>(width), "DEVICE", "COM", "DRIVER", "ACCESS",
                     "ADAPTER");
    for (const SPortInfo& port : ports) {
        std::fprintf(out, "%-*s  %-9s %-11s %-24s %s\n", static_cast<int>(width), port.device.c_str(),
                     ComNames(port.comNumbers).c_str(), port.driver.c_str(), AccessText(port).c_str(),
                     DescribeAdapter(port).c_str());
        const std::string indent(width + 2, ' ');
        for (const std::string& name : port.byId)
            std::fprintf(out, "%sby-id   %s\n", indent.c_str(), name.c_str());
        for (const std::string& name : port.byPath)
            std::fprintf(out, "%sby-path %s\n", indent.c_str(), name.c_str());
        if (port.latencyTimerMs)
            std::fprintf(out, "%slatency timer %u ms%s\n", indent.c_str(), *port.latencyTimerMs,
                         *port.latencyTimerMs > 1 ? (" (1 ms is best: " + LatencyTimerFix(port) + ")").c_str() : "");
    }
    std::fprintf(out, "\n");
    for (unsigned n = 1; n <= COM_PORT_COUNT; ++n)
        std::fprintf(out, "%s\n", ComPortMapping(n, places).c_str());
    return EXIT_UPDATED;
}

int RunMapPort(const SCliOptions& options, const SPortPlaces& places)
{
    const unsigned number = static_cast<unsigned>(ComPortNumber(options.mapPortName));
    if (places.userPortsDir.empty()) {
        std::fprintf(stderr, "%s: no folder for the user's settings (HOME is not set)\n", ProgramName("update-cli").c_str());
        return EXIT_USAGE_OR_SETUP;
    }
    const std::string link = places.userPortsDir + "com" + std::to_string(number);
    std::string error;
    if (options.mapPortDevice == "-") {
        if (!RemoveLink(link, error)) {
            std::fprintf(stderr, "%s: %s\n", ProgramName("update-cli").c_str(), error.c_str());
            return EXIT_USAGE_OR_SETUP;
        }
    } else {
        std::string device = options.mapPortDevice;
        if (device.empty() || device[0] != '/')
            device = places.devRoot + "/" + device;
        struct stat info {};
        if (stat(device.c_str(), &info) != 0) {
            std::fprintf(stderr, "%s: %s: no such device\n", ProgramName("update-cli").c_str(), device.c_str());
            return EXIT_USAGE_OR_SETUP;
        }
        if (!IsSerialPortNode(device, places)) {
            std::fprintf(stderr, "%s: %s: not a serial port\n", ProgramName("update-cli").c_str(), device.c_str());
            return EXIT_USAGE_OR_SETUP;
        }
        if (!MakePrivateFolders(places.userPortsDir, error) || !ReplaceLink(link, LinkTargetFor(device, places), error)) {
            std::fprintf(stderr, "%s: %s\n", ProgramName("update-cli").c_str(), error.c_str());
            return EXIT_USAGE_OR_SETUP;
        }
    }
    std::printf("%s\n", ComPortMapping(number, places).c_str());
    if (RoutePortName(options.mapPortName, places).route == EPortRoute::ProgramLink)
        std::fprintf(stderr, "Note: the link %scom%u beside the program comes first.\n",
                     places.programPortsDir.c_str(), number);
    return EXIT_UPDATED;
}
