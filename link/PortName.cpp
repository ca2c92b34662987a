#include "PortName.h"

#include "SysCalls.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <climits>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace devupdate::link {

namespace {

// A port's device name begins with it: "\\.\COM3".
const char* const DEVICE_PREFIX = "\\\\.\\";

bool EntryExists(const std::string& path)
{
    struct stat info {};
    return Sys().LStat(path.c_str(), &info) == 0;
}

}  // namespace

SPortPlaces SPortPlaces::ForThisProcess()
{
    SPortPlaces places;
    const std::string programDir = ProgramDirectory();
    if (!programDir.empty())
        places.programPortsDir = programDir + "ports/";
    const std::string userDir = UserConfigDirectory();
    if (!userDir.empty())
        places.userPortsDir = userDir + "ports/";
    return places;
}

unsigned ComNumber(const std::string& name, unsigned highest)
{
    if (name.size() < 4 || name[3] == '0')
        return 0;
    for (size_t i = 0; i < 3; ++i)
        if (std::tolower(static_cast<unsigned char>(name[i])) != "com"[i])
            return 0;
    unsigned number = 0;
    for (size_t i = 3; i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i])))
            return 0;
        number = number * 10 + static_cast<unsigned>(name[i] - '0');
        if (number > highest)
            return 0;
    }
    return number;
}

unsigned ComNameNumber(const std::string& name)
{
    const bool device = name.rfind(DEVICE_PREFIX, 0) == 0;
    return ComNumber(device ? name.substr(std::strlen(DEVICE_PREFIX)) : name, MAX_COM_NAME_NUMBER);
}

std::string ComDeviceName(unsigned number)
{
    return DEVICE_PREFIX + ComShortName(number);
}

std::string ComShortName(unsigned number)
{
    return "COM" + std::to_string(number);
}

SPortTarget RoutePortName(const std::string& name, const SPortPlaces& places)
{
    if (!name.empty() && name[0] == '/')
        return {name, EPortRoute::DevicePath};
    const unsigned number = ComNameNumber(name);
    if (number == 0)
        return {name, EPortRoute::NotAPort};
    const std::string linkName = "com" + std::to_string(number);
    if (!places.programPortsDir.empty() && EntryExists(places.programPortsDir + linkName))
        return {places.programPortsDir + linkName, EPortRoute::ProgramLink};
    if (!places.userPortsDir.empty() && EntryExists(places.userPortsDir + linkName))
        return {places.userPortsDir + linkName, EPortRoute::UserLink};
    return {places.devRoot + "/ttyS" + std::to_string(number - 1), EPortRoute::Default};
}

std::string ResolvePortName(const std::string& name, const SPortPlaces& places)
{
    return RoutePortName(name, places).path;
}

std::string ResolvePortName(const std::string& name)
{
    return ResolvePortName(name, SPortPlaces::ForThisProcess());
}

std::string CanonicalPath(const std::string& path)
{
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : std::string();
}

std::string LinkText(const std::string& path)
{
    char text[PATH_MAX];
    const ssize_t len = readlink(path.c_str(), text, sizeof text - 1);
    return len > 0 ? std::string(text, static_cast<size_t>(len)) : std::string();
}

std::string ShownPortPath(const SPortTarget& target)
{
    if (target.route != EPortRoute::ProgramLink && target.route != EPortRoute::UserLink)
        return target.path;
    const std::string linked = LinkText(target.path);
    return linked.empty() ? target.path : target.path + " -> " + linked;
}

std::string ProgramDirectory()
{
    std::vector<char> path(PATH_MAX);
    for (;;) {
        const ssize_t len = Sys().ReadLink("/proc/self/exe", path.data(), path.size());
        if (len < 0)
            return {};
        if (static_cast<size_t>(len) < path.size()) {
            const std::string exe(path.data(), static_cast<size_t>(len));
            const size_t slash = exe.rfind('/');
            return slash == std::string::npos ? std::string() : exe.substr(0, slash + 1);
        }
        path.resize(path.size() * 2);  // truncated: try a bigger buffer
    }
}

std::string UserConfigDirectory()
{
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/')
        return std::string(config) + "/update/";
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') {
        const struct passwd* user = getpwuid(geteuid());
        home = user != nullptr ? user->pw_dir : nullptr;
    }
    if (home == nullptr || home[0] != '/')
        return {};
    return std::string(home) + "/.config/update/";
}

bool MakePrivateFolders(const std::string& path, std::string& error)
{
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        const std::string folder = path.substr(0, slash);
        if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
            error = "mkdir " + folder + ": " + std::strerror(errno);
            return false;
        }
    }
    if (path.size() > 1 && path.back() != '/' && mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        error = "mkdir " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace devupdate::link
