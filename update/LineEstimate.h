#pragma once
// How long a target takes on the line at 57600 baud (10 bits a byte, both
// directions), known before any port is opened: a firmware target from its
// blocks, an XSVF target by playing its stream against a link that answers
// every frame at once and counting the frames' bytes and the waits they ask
// the device for. The device's own busy time beyond those waits is not
// known and not counted.

#include "ComPort.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace devupdate::update {

constexpr double ESTIMATE_BAUD = link::DEVICE_BAUD;
constexpr double ESTIMATE_BITS_PER_BYTE = 10;

// Each exchange of a command and its answer costs a turnaround on both
// sides beyond the bytes' own time: the tool's (reading the answer, writing
// the next frame) and the device's. Measured against the paced simulated
// device over a pseudo-terminal (README, Performance) at about 0.15 ms.
constexpr double ROUND_TRIP_SECONDS = 0.00015;

struct SLineEstimate {
    uint64_t lineBytes = 0;   // both directions
    uint64_t roundTrips = 0;  // commands answered
    double waitSeconds = 0;   // waits the device is asked for
    double Seconds() const;
};

// Seconds on the line for `bytes` bytes.
double LineSeconds(uint64_t bytes);

// A firmware target: the selection (3 bytes, 1 answer), every block and its
// answer. Nothing when the data are no blocks.
std::optional<SLineEstimate> EstimateFirmware(const std::vector<uint8_t>& blocks);
// The same from the data's size and its number of blocks, counted elsewhere.
SLineEstimate EstimateFirmware(uint64_t dataBytes, uint64_t blocks);

// An XSVF target: the selection with the type bytes (5 bytes, 2 answers),
// then every frame and answer the player exchanges, and the waits of its
// delay frames. Nothing when the stream does not play to its end.
std::optional<SLineEstimate> EstimateXsvf(const std::vector<uint8_t>& stream);
// The same from a stream read byte by byte (false at its end); the player
// reads only up to XCOMPLETE.
std::optional<SLineEstimate> EstimateXsvf(const std::function<bool(uint8_t&)>& next);

// Either, by target type; nothing for a type that is not updated.
std::optional<SLineEstimate> EstimateTarget(unsigned type, const std::vector<uint8_t>& data);

}  // namespace devupdate::update
