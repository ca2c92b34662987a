#pragma once
// What the machine's serial devices are, read from sysfs and /dev only:
// nothing here opens, probes or locks a port, so it is safe while another
// program (or a run of this one) uses it.
//
// A serial device is a tty in <sys>/class/tty that has a device behind it
// (virtual consoles and the pty multiplexer have none) or an rfcomm tty;
// a ttyS whose UART type is 0 ("unknown": no chip at that address) is left
// out.

#include "PortName.h"

#include <optional>
#include <string>
#include <vector>

namespace devupdate::link {

struct SPortInfo {
    std::string name;                 // "ttyUSB0"
    std::string device;               // "<dev>/ttyUSB0"
    std::vector<std::string> byId;    // "<dev>/serial/by-id/..." leading here
    std::vector<std::string> byPath;  // "<dev>/serial/by-path/..."
    std::string driver;               // "ftdi_sio", "cdc_acm", "serial8250" ...
    std::string usbVendor;            // "0403" (USB devices only)
    std::string usbProduct;
    std::string manufacturer;
    std::string product;
    std::string serialNumber;
    bool present = false;             // the /dev node exists
    bool accessible = false;          // this user may read and write it
    std::string group;                // the node's group ("dialout")
    std::vector<unsigned> comNumbers; // ComN (1..10) that lead here
    std::optional<unsigned> latencyTimerMs;  // USB adapters with a latency timer
};

// Every serial device, sorted by name.
std::vector<SPortInfo> ListSerialPorts(const SPortPlaces& places);

// The serial device that path leads to (links followed); empty when it
// leads to none of ListSerialPorts.
std::optional<SPortInfo> FindSerialPort(const std::string& path, const SPortPlaces& places);

// Whether path (links followed) is a serial port's character device: one of
// ListSerialPorts, or a pseudo-terminal slave (the simulated device's line).
// Told from stat and sysfs alone: the node is not opened.
bool IsSerialPortNode(const std::string& path, const SPortPlaces& places);

// The group of a device node, by name (the number when it has none); empty
// when the node does not exist.
std::string NodeGroup(const std::string& path);

// "0403:6001 maker product, serial S" parts that are known, for people.
std::string DescribeAdapter(const SPortInfo& port);

// "read/write", "no access (group G)" or "no device node".
std::string AccessText(const SPortInfo& port);

// "ComN -> where it leads", with the device at the end of the links, or
// "(nothing there)"; --list-ports and the station's port list show it.
std::string ComPortMapping(unsigned number, const SPortPlaces& places);

// The port list's tool tip for ComN: where it leads and what is there, or
// that nothing is there.
std::string ComPortToolTip(unsigned number, const SPortPlaces& places);

// The command that sets the adapter's latency timer to 1 ms until it is
// plugged in again (the README shows the udev rule that makes it stay).
std::string LatencyTimerFix(const SPortInfo& port);

// The driver whose adapters have a latency timer in sysfs.
constexpr char LATENCY_TIMER_DRIVER[] = "ftdi_sio";

}  // namespace devupdate::link
