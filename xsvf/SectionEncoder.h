#pragma once
// Run-length encoding of the data sections of a shift frame.
//
// Blocks: a header below 0x80 is a count L (1..64) of literal bytes that
// follow; 0x80 | R (R = 4..64) is followed by one byte standing for R copies.
// The splitting is fixed (the device firmware and the traffic tests rely on
// it): literal bytes run up to the first stretch of 4 or more equal bytes;
// a trailing stretch of 2 or 3 equal bytes ends the literal block with its
// first byte and sends each further byte as a one-byte block.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace devupdate::xsvf {

constexpr size_t MAX_SECTION_BYTES = 64;  // one chunk of 512 bits

// Appends the encoding of n bytes (n <= MAX_SECTION_BYTES) at p to out.
void EncodeSection(const uint8_t* p, size_t n, std::vector<uint8_t>& out);

}  // namespace devupdate::xsvf
