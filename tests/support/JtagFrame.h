#pragma once
// A JTAG frame as the tool sends it, for tests: the length field (payload
// length + 2, big-endian), the payload, and its CRC-16 (big-endian).

#include "Crc16.h"

#include <algorithm>
#include <cstdint>
#include <vector>

inline std::vector<uint8_t> MakeJtagFrame(const std::vector<uint8_t>& payload)
{
    // Sized once and filled in place (gcc 12 warns falsely on growing a
    // two-byte vector by insert).
    const size_t n = payload.size() + 2;
    std::vector<uint8_t> frame(n + 2);
    frame[0] = static_cast<uint8_t>(n >> 8);
    frame[1] = static_cast<uint8_t>(n);
    std::copy(payload.begin(), payload.end(), frame.begin() + 2);
    const uint16_t crc = devupdate::xsvf::Crc16(payload.data(), payload.size());
    frame[n] = static_cast<uint8_t>(crc >> 8);
    frame[n + 1] = static_cast<uint8_t>(crc);
    return frame;
}
