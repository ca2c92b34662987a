#pragma once
// Why a port could not be opened, for the line after "Error: COMn in use or
// does not exist.": the device's path, the reason and what to do. Reads
// sysfs, /dev and /proc only; never opens the port.

#include "PortName.h"

#include <string>
#include <sys/types.h>
#include <vector>

namespace devupdate::link {

// error: the errno of the failed open or lock (CComPort::LastErrno).
//   ENOENT, ENODEV, ENXIO, EIO  "<path>: no such device."
//   EACCES, EPERM               "<path>: permission denied ..." with the
//                               device's group and the command to join it
//   EWOULDBLOCK, EBUSY          "<path>: busy ..." with the holding process's
//                               pid and name where /proc shows it, and a
//                               udev rule when the holder is ModemManager
//   else                        "<path>: <strerror>."
// Ends in a line end; may hold more than one line.
std::string ExplainPortOpenFailure(const std::string& portName, int error, const SPortPlaces& places);
std::string ExplainPortOpenFailure(const std::string& portName, int error);

struct SPortHolder {
    pid_t pid = 0;
    std::string name;  // /proc/<pid>/comm
};

// The processes with an open descriptor on the device, as far as /proc lets
// this user see them.
std::vector<SPortHolder> FindPortHolders(const std::string& device, const SPortPlaces& places);

// The name of the user running this program (for "usermod ... USER").
std::string CurrentUserName();

}  // namespace devupdate::link
