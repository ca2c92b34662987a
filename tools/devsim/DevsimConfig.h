#pragma once
// How the simulated device behaves. Defaults: powered on at once, no extra
// 0x11 after 0xA3, no busy bytes, no block check, no pacing, every target
// present, no faults.

#include "FaultRule.h"
#include "SvfReader.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace devupdate::devsim {

struct SDevsimConfig {
    // Silent until both hold: this long since start (or the last session end
    // or PowerCycle), and more than powerOnAfterWakeups 0xA4 bytes received.
    std::chrono::milliseconds powerOnDelay{0};
    unsigned powerOnAfterWakeups = 0;
    // 0x11 bytes sent after 0xA3 before the 0x88.
    unsigned extraAcks = 0;
    // Busy bytes 0x33 before the 0x11 that acknowledges a firmware block.
    unsigned busyPerBlock = 0;
    // The last 2 payload bytes of each block are the big-endian CRC-16 of the
    // others; a mismatch (or a block shorter than 2 bytes) is answered 0x22.
    // Stored images then leave the CRC bytes out.
    bool blockCrc = false;
    // Line rate in baud, 10 bits a byte in both directions; 0: no pacing.
    unsigned baud = 0;
    // Delay frames really wait: a busy byte every 100 ms, 0x11 at the end.
    // Otherwise the busy bytes and the 0x11 go out at once.
    bool realDelays = false;
    // Target numbers answered 0x44 at selection.
    std::set<uint8_t> refusedTargets;
    std::vector<SFaultRule> faults;
    // SVF expectation mode: the JTAG target answers and checks these scans
    // (see CSvfTarget) instead of being the model part.
    std::shared_ptr<const std::vector<svf::SSvfScan>> svfScans;
    // Optional symbolic link to the slave side (its folder is created when
    // missing); removed again on Stop and on Vanish.
    std::string linkPath;
};

}  // namespace devupdate::devsim
