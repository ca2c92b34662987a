#include "PortOpenFailure.h"

#include "PortInfo.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace devupdate::link {

namespace {

constexpr char MODEM_MANAGER[] = "ModemManager";

// Listed in the group database: joined, though maybe not in this login.
bool IsMemberOf(const std::string& user, const std::string& group)
{
    const struct group* entry = getgrnam(group.c_str());
    if (entry == nullptr)
        return false;
    for (char** member = entry->gr_mem; *member != nullptr; ++member)
        if (user == *member)
            return true;
    return false;
}

// Joining the group helps only where the group may read and write.
std::string OctalMode(mode_t mode)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

std::string PermissionAdvice(const std::string& shown, const std::string& device)
{
    struct stat info {};
    const std::string text = shown + ": permission denied";
    if (stat(device.c_str(), &info) != 0)
        return text + ".\n";
    const std::string group = NodeGroup(device);
    if ((info.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP) || info.st_gid == 0)
        return text + " (mode " + OctalMode(info.st_mode) + ", group " + group + ").\n";
    const std::string user = CurrentUserName();
    if (IsMemberOf(user, group))
        return text + "; the device belongs to group " + group + ", which " + user +
               " joined after this login: log in again.\n";
    return text + "; the device belongs to group " + group + ": sudo usermod -aG " + group + " " + user +
           ", then log in again.\n";
}

std::string ModemManagerAdvice(const std::optional<SPortInfo>& port)
{
    std::string match = "SUBSYSTEM==\"tty\", ";
    if (port && !port->usbVendor.empty())
        match += "ATTRS{idVendor}==\"" + port->usbVendor + "\", ATTRS{idProduct}==\"" + port->usbProduct + "\", ";
    else if (port)
        match += "KERNEL==\"" + port->name + "\", ";
    return "ModemManager probes new serial adapters. Keep it off this one with a udev rule in "
           "/etc/udev/rules.d/70-serial-update.rules:\n" +
           match + "ENV{ID_MM_DEVICE_IGNORE}=\"1\"\n" +
           "then run 'sudo udevadm control --reload' and plug the adapter in again.\n";
}

std::string BusyAdvice(const std::string& shown, const std::string& device, const std::optional<SPortInfo>& port,
                       const SPortPlaces& places)
{
    const std::vector<SPortHolder> holders = FindPortHolders(device, places);
    if (holders.empty())
        return shown + ": busy, another program holds it.\n";
    std::string text = shown + ": busy, held by";
    bool modemManager = false;
    for (size_t i = 0; i < holders.size(); ++i) {
        text += (i == 0 ? " " : ", ") + std::string("process ") + std::to_string(holders[i].pid) + " (" +
                holders[i].name + ")";
        modemManager = modemManager || holders[i].name == MODEM_MANAGER;
    }
    text += ".\n";
    return modemManager ? text + ModemManagerAdvice(port) : text;
}

std::string ReadFirstLine(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

}  // namespace

std::string ExplainPortOpenFailure(const std::string& portName, int error, const SPortPlaces& places)
{
    const SPortTarget target = RoutePortName(portName, places);
    const std::string shown = ShownPortPath(target);
    const std::optional<SPortInfo> port = FindSerialPort(target.path, places);
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case EIO:  // a ttyS without a UART behind it
        return shown + ": no such device.\n";
    case EACCES:
    case EPERM:
        return PermissionAdvice(shown, port ? port->device : target.path);
    case EWOULDBLOCK:
    case EBUSY:
        return BusyAdvice(shown, port ? port->device : target.path, port, places);
    default:
        return shown + ": " + std::strerror(error) + ".\n";
    }
}

std::string ExplainPortOpenFailure(const std::string& portName, int error)
{
    return ExplainPortOpenFailure(portName, error, SPortPlaces::ForThisProcess());
}

std::vector<SPortHolder> FindPortHolders(const std::string& device, const SPortPlaces& places)
{
    std::vector<SPortHolder> holders;
    const std::string wanted = CanonicalPath(device);
    if (wanted.empty())
        return holders;
    DIR* proc = opendir(places.procRoot.c_str());
    if (proc == nullptr)
        return holders;
    while (const struct dirent* entry = readdir(proc)) {
        const std::string pid = entry->d_name;
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const std::string fdDir = places.procRoot + "/" + pid + "/fd";
        DIR* fds = opendir(fdDir.c_str());
        if (fds == nullptr)
            continue;  // gone meanwhile, or another user's
        bool holds = false;
        while (const struct dirent* fd = readdir(fds)) {
            if (fd->d_name[0] != '.' && CanonicalPath(fdDir + "/" + fd->d_name) == wanted) {
                holds = true;
                break;
            }
        }
        closedir(fds);
        if (holds)
            holders.push_back({static_cast<pid_t>(std::stol(pid)), ReadFirstLine(places.procRoot + "/" + pid + "/comm")});
    }
    closedir(proc);
    return holders;
}

std::string CurrentUserName()
{
    const struct passwd* user = getpwuid(geteuid());
    if (user != nullptr)
        return user->pw_name;
    const char* name = std::getenv("USER");
    return name != nullptr ? name : "$USER";
}

}  // namespace devupdate::link
