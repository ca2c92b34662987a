#pragma once
// The benchmark's workloads: an update file each and the simulated device's
// behaviour for it, paced as a real UART at 57600 baud.

#include "DevsimConfig.h"

#include <cstdint>
#include <string>
#include <vector>

constexpr unsigned LINE_BAUD = 57600;

struct SWorkload {
    std::string name;
    std::string description;
    devupdate::devsim::SDevsimConfig device;
    std::vector<uint8_t> updateFile;
};

// A firmware target of `imageBytes` bytes in blocks of 998 bytes, answered
// with one busy byte before every acknowledge.
SWorkload FirmwareWorkload(size_t imageBytes);
// An XSVF target that checks the model part's IDCODE, erases it (a 200 ms
// wait the device spends busy), programs and verifies its whole flash.
SWorkload ModelPartWorkload();
// An XSVF target of `pairs` short XSIR/XSDR pairs: mostly TMS clocks.
SWorkload TapMovesWorkload(unsigned pairs);
// The SVF file converted to XSVF, against a device whose JTAG target checks
// every scan the file asks for. Throws std::runtime_error when the file
// cannot be read or converted.
SWorkload SvfWorkload(const std::string& svfPath);
// A device that never powers on (the wake-up bytes go unanswered).
devupdate::devsim::SDevsimConfig SilentDevice();
// A device that wakes up and starts, then never answers again from the
// first firmware block on.
devupdate::devsim::SDevsimConfig SilentAfterStartDevice();
