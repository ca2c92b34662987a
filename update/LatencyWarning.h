#pragma once
// USB serial adapters with a latency timer hold a short answer back until
// the timer runs out (16 ms by default), on every request/answer round trip
// of a run. The tool asks the driver for low latency but cannot set the
// timer without root: it tells the user what it costs and how to fix it.

#include "PortInfo.h"

#include <cstdint>
#include <optional>
#include <string>

namespace devupdate::update {

// At least this many round trips does a run of the file make: the start,
// one per target selection, one per firmware block, an XSVF target's type
// and one per XSVF command that sends the device a frame. Empty when the
// file cannot be read through.
std::optional<uint64_t> CountRoundTrips(const std::string& fileName);

// The one-line warning for an adapter whose latency timer is above 1 ms,
// with the time it costs roundTrips (when known) and the fix; empty for
// every other port. Never writes sysfs.
std::string LatencyWarning(const link::SPortInfo& port, std::optional<uint64_t> roundTrips);
// The same for the port a name leads to and the update file of the run
// (read through for its round trips only when there is something to warn).
std::string LatencyWarning(const std::string& portName, const std::string& fileName);

}  // namespace devupdate::update
