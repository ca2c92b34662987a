#include "PortInfo.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <grp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace devupdate::link {

namespace {

bool StartsWith(const std::string& text, const char* prefix)
{
    return text.rfind(prefix, 0) == 0;
}

bool Exists(const std::string& path)
{
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

// The first line of a sysfs attribute, without its line end; empty when
// there is no such attribute.
std::string ReadAttribute(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

// The driver of the nearest device at or above the tty's device. Newer
// kernels put generic serial-core devices ("port", "ctrl") between a UART's
// tty and its driver; those say nothing to the user.
std::string DriverOf(const std::string& classDir, const std::string& sysRoot)
{
    const std::string root = CanonicalPath(sysRoot);
    for (std::string dir = CanonicalPath(classDir + "/device"); dir.size() > root.size() && StartsWith(dir, root.c_str());
         dir.erase(dir.rfind('/'))) {
        const std::string driver = LinkText(dir + "/driver");
        if (!driver.empty() && driver.find("/serial-base/") == std::string::npos)
            return driver.substr(driver.rfind('/') + 1);
    }
    return {};
}

std::vector<std::string> DirectoryEntries(const std::string& dir)
{
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr)
        return names;
    while (const struct dirent* entry = readdir(d)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

// ttyS2 before ttyS10: letters first, then the number's value.
bool NameOrder(const SPortInfo& a, const SPortInfo& b)
{
    auto split = [](const std::string& name) {
        size_t digits = name.size();
        while (digits > 0 && std::isdigit(static_cast<unsigned char>(name[digits - 1])))
            --digits;
        const std::string number = name.substr(digits);
        return std::make_pair(name.substr(0, digits), number.empty() ? 0UL : std::stoul(number));
    };
    return split(a.name) < split(b.name);
}

// A tty with no device behind it is virtual; a ttyS of UART type 0 has no
// chip behind it.
bool IsSerialDevice(const std::string& name, const std::string& classDir)
{
    if (!Exists(classDir + "/device"))
        return StartsWith(name, "rfcomm");
    if (StartsWith(name, "ttyS") && ReadAttribute(classDir + "/type") == "0")
        return false;
    return true;
}

// The USB device is the nearest folder above the tty's device with an idVendor.
void ReadUsbAttributes(const std::string& classDir, const std::string& sysRoot, SPortInfo& port)
{
    const std::string root = CanonicalPath(sysRoot);
    std::string dir = CanonicalPath(classDir + "/device");
    while (!dir.empty() && dir.size() > root.size() && StartsWith(dir, root.c_str())) {
        if (Exists(dir + "/idVendor")) {
            port.usbVendor = ReadAttribute(dir + "/idVendor");
            port.usbProduct = ReadAttribute(dir + "/idProduct");
            port.manufacturer = ReadAttribute(dir + "/manufacturer");
            port.product = ReadAttribute(dir + "/product");
            port.serialNumber = ReadAttribute(dir + "/serial");
            return;
        }
        dir.erase(dir.rfind('/'));
    }
}

std::optional<unsigned> ReadLatencyTimer(const std::string& classDir)
{
    const std::string text = ReadAttribute(classDir + "/device/latency_timer");
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 6)
        return std::nullopt;
    return static_cast<unsigned>(std::stoul(text));
}

void ReadNodeAccess(SPortInfo& port)
{
    struct stat info {};
    port.present = stat(port.device.c_str(), &info) == 0;
    if (!port.present)
        return;
    port.accessible = access(port.device.c_str(), R_OK | W_OK) == 0;
    port.group = NodeGroup(port.device);
}

// The by-id or by-path names whose link leads to the device.
std::vector<std::string> LinksTo(const std::string& folder, const std::string& canonicalDevice)
{
    std::vector<std::string> links;
    for (const std::string& name : DirectoryEntries(folder))
        if (CanonicalPath(folder + "/" + name) == canonicalDevice)
            links.push_back(folder + "/" + name);
    return links;
}

SPortInfo ReadPort(const std::string& name, const std::string& classDir, const SPortPlaces& places)
{
    SPortInfo port;
    port.name = name;
    port.device = places.devRoot + "/" + name;
    port.driver = DriverOf(classDir, places.sysRoot);
    ReadUsbAttributes(classDir, places.sysRoot, port);
    if (port.driver == LATENCY_TIMER_DRIVER)
        port.latencyTimerMs = ReadLatencyTimer(classDir);
    ReadNodeAccess(port);
    const std::string canonical = CanonicalPath(port.device);
    if (canonical.empty())
        return port;
    port.byId = LinksTo(places.devRoot + "/serial/by-id", canonical);
    port.byPath = LinksTo(places.devRoot + "/serial/by-path", canonical);
    for (unsigned n = 1; n <= COM_PORT_COUNT; ++n)
        if (CanonicalPath(ResolvePortName("Com" + std::to_string(n), places)) == canonical)
            port.comNumbers.push_back(n);
    return port;
}

}  // namespace

std::vector<SPortInfo> ListSerialPorts(const SPortPlaces& places)
{
    std::vector<SPortInfo> ports;
    const std::string classRoot = places.sysRoot + "/class/tty";
    for (const std::string& name : DirectoryEntries(classRoot)) {
        const std::string classDir = classRoot + "/" + name;
        if (IsSerialDevice(name, classDir))
            ports.push_back(ReadPort(name, classDir, places));
    }
    std::sort(ports.begin(), ports.end(), NameOrder);
    return ports;
}

std::optional<SPortInfo> FindSerialPort(const std::string& path, const SPortPlaces& places)
{
    const std::string canonical = CanonicalPath(path);
    if (canonical.empty())
        return std::nullopt;
    // The device's own name is the last part of where the path leads.
    const std::string name = canonical.substr(canonical.rfind('/') + 1);
    const std::string classDir = places.sysRoot + "/class/tty/" + name;
    if (!Exists(classDir) || !IsSerialDevice(name, classDir))
        return std::nullopt;
    SPortInfo port = ReadPort(name, classDir, places);
    if (CanonicalPath(port.device) != canonical)
        return std::nullopt;
    return port;
}

bool IsSerialPortNode(const std::string& path, const SPortPlaces& places)
{
    // Pseudo-terminal slaves (/dev/pts/N) have majors 136 to 143 and no
    // entry in sysfs.
    constexpr unsigned PTY_SLAVE_MAJOR_FIRST = 136;
    constexpr unsigned PTY_SLAVE_MAJOR_LAST = 143;
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISCHR(info.st_mode))
        return false;
    const unsigned deviceMajor = major(info.st_rdev);
    if (deviceMajor >= PTY_SLAVE_MAJOR_FIRST && deviceMajor <= PTY_SLAVE_MAJOR_LAST)
        return true;
    return FindSerialPort(path, places).has_value();
}

std::string NodeGroup(const std::string& path)
{
    struct stat info {};
    if (stat(path.c_str(), &info) != 0)
        return {};
    std::vector<char> buffer(4096);
    struct group entry {};
    struct group* found = nullptr;
    while (getgrgid_r(info.st_gid, &entry, buffer.data(), buffer.size(), &found) == ERANGE)
        buffer.resize(buffer.size() * 2);
    return found != nullptr ? found->gr_name : std::to_string(info.st_gid);
}

std::string DescribeAdapter(const SPortInfo& port)
{
    std::string text;
    auto add = [&text](const char* separator, const std::string& part) {
        if (part.empty())
            return;
        if (!text.empty())
            text.append(separator);
        text.append(part);
    };
    add(" ", port.manufacturer);
    add(" ", port.product);
    if (!port.usbVendor.empty())
        add(" ", "(" + port.usbVendor + ":" + port.usbProduct + ")");
    if (!port.serialNumber.empty())
        add(", ", "serial number " + port.serialNumber);
    if (text.empty() && !port.driver.empty())
        add("", "driver " + port.driver);
    return text;
}

std::string AccessText(const SPortInfo& port)
{
    if (!port.present)
        return "no device node";
    return port.accessible ? "read/write" : "no access (group " + port.group + ")";
}

std::string ComPortMapping(unsigned number, const SPortPlaces& places)
{
    const SPortTarget target = RoutePortName("Com" + std::to_string(number), places);
    const std::string shown = ShownPortPath(target);
    const std::string device = CanonicalPath(target.path);
    std::string text = "Com" + std::to_string(number) + " -> " + shown;
    if (device.empty())
        return text + " (nothing there)";
    const std::optional<SPortInfo> port = FindSerialPort(target.path, places);
    if (!port)
        return text + " (no serial device)";
    if (port->device != shown)
        text += " (" + port->device + ")";
    return text;
}

std::string ComPortToolTip(unsigned number, const SPortPlaces& places)
{
    const SPortTarget target = RoutePortName("Com" + std::to_string(number), places);
    const std::string where = ShownPortPath(target);
    const std::string device = CanonicalPath(target.path);
    const std::optional<SPortInfo> port = FindSerialPort(target.path, places);
    // A ttyS without a UART exists in /dev but leads nowhere.
    if (device.empty() || (!port && target.route == EPortRoute::Default))
        return where + ": nothing there";
    std::string text = port ? port->device : device;
    const std::string adapter = port ? DescribeAdapter(*port) : std::string();
    if (!adapter.empty())
        text += "\n" + adapter;
    if (where != target.path || target.path != text.substr(0, text.find('\n')))
        text += "\nvia " + where;
    return text;
}

std::string LatencyTimerFix(const SPortInfo& port)
{
    return "echo 1 | sudo tee /sys/bus/usb-serial/devices/" + port.name + "/latency_timer";
}

}  // namespace devupdate::link
