#pragma once
// Where a port name leads, and the places that decide it.
//
// "\\.\COMn" and "COMn" (any case, n = 1..999 without leading zeros) resolve,
// in this order, to the link ports/comN beside the program (portable use),
// to the user's link $XDG_CONFIG_HOME/update/ports/comN (default
// ~/.config/update/ports/comN; made without root by update-cli --map-port),
// else to /dev/ttyS(n-1). A link counts when the directory entry exists,
// even when it dangles (the open then fails and says where it led).
// An absolute path is returned as it is; anything else unchanged (and will
// fail to open).

#include <string>

namespace devupdate::link {

// The folders the port functions look at. Tests point them at a fake tree.
struct SPortPlaces {
    std::string sysRoot = "/sys";
    std::string devRoot = "/dev";
    std::string procRoot = "/proc";
    std::string programPortsDir;  // ends in '/'; empty: none
    std::string userPortsDir;     // ends in '/'; empty: none

    // The real system: the program's own folder and the user's config folder.
    static SPortPlaces ForThisProcess();
};

enum class EPortRoute { DevicePath, ProgramLink, UserLink, Default, NotAPort };

struct SPortTarget {
    std::string path;  // what is opened
    EPortRoute route = EPortRoute::NotAPort;
};

SPortTarget RoutePortName(const std::string& name, const SPortPlaces& places);
std::string ResolvePortName(const std::string& name, const SPortPlaces& places);
std::string ResolvePortName(const std::string& name);

// Where a path finally leads (links followed); empty when it leads nowhere.
std::string CanonicalPath(const std::string& path);
// The text of a symbolic link; empty when path is none.
std::string LinkText(const std::string& path);
// What the user should read: "link -> where it leads" for a ComN link, else
// the path.
std::string ShownPortPath(const SPortTarget& target);

// The ports the window offers and --list-ports shows: Com1..Com10.
constexpr unsigned COM_PORT_COUNT = 10;
// The highest n a port name "COMn" may carry.
constexpr unsigned MAX_COM_NAME_NUMBER = 999;

// n of "COMn" (any case, no leading zeros, 1..highest); 0 otherwise.
unsigned ComNumber(const std::string& name, unsigned highest);
// n of "\\.\COMn" or "COMn" (1..MAX_COM_NAME_NUMBER); 0 otherwise.
unsigned ComNameNumber(const std::string& name);
// "Com1".."Com10" (any case): the port number of a port the programs take
// by name; 0 for anything else.
inline int ComPortNumber(const std::string& port)
{
    return static_cast<int>(ComNumber(port, COM_PORT_COUNT));
}
// "\\.\COMn", the name a run opens for port n.
std::string ComDeviceName(unsigned number);
// "COMn", the port as the run's texts name it.
std::string ComShortName(unsigned number);

// The directory of the running program, ending in '/': from /proc/self/exe.
// Empty when it cannot be determined (names then resolve relative to the
// current directory).
std::string ProgramDirectory();

// The user's folder of this program, ending in '/': $XDG_CONFIG_HOME/update/
// when XDG_CONFIG_HOME is an absolute path, else $HOME/.config/update/ (HOME
// from the password database when unset). Empty when neither is known.
std::string UserConfigDirectory();

// Creates every missing folder of path with mode 0700 (the user's
// configuration is private). False with error set ("mkdir F: reason").
bool MakePrivateFolders(const std::string& path, std::string& error);

}  // namespace devupdate::link
