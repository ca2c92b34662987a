#pragma once
// The frame check value of the JTAG frames: CRC-16, polynomial 0x8005,
// initial value 0, no reflection, no final XOR ("123456789" gives 0xFEE8).

#include <cstddef>
#include <cstdint>

namespace devupdate::xsvf {

// The CRC of n bytes.
uint16_t Crc16(const uint8_t* data, size_t n);

// The raw register run over n bytes without the 16 trailing zero bits. Run
// over a payload followed by its two CRC bytes (big-endian) it gives 0.
uint16_t Crc16Register(const uint8_t* data, size_t n);

}  // namespace devupdate::xsvf
