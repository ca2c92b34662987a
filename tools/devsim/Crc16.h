#pragma once
// The frame check of the JTAG frames and of checked firmware blocks:
// CRC-16, polynomial 0x8005, initial value 0, no reflection, no final XOR.
// Its value for the ASCII digits "123456789" is 0xFEE8.

#include <cstddef>
#include <cstdint>

// CRC of n bytes at data (n may be 0: the result is then 0).
uint16_t Crc16(const uint8_t* data, size_t n);
