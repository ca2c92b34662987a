#include "Crc16.h"

namespace devupdate::xsvf {

namespace {

constexpr uint16_t POLY = 0x8005;

uint16_t FeedBit(uint16_t reg, unsigned bit)
{
    const bool out = (reg & 0x8000u) != 0;
    reg = static_cast<uint16_t>((reg << 1) | bit);
    return out ? static_cast<uint16_t>(reg ^ POLY) : reg;
}

uint16_t FeedByte(uint16_t reg, uint8_t byte)
{
    for (int i = 7; i >= 0; --i)
        reg = FeedBit(reg, (byte >> i) & 1u);
    return reg;
}

}  // namespace

uint16_t Crc16Register(const uint8_t* data, size_t n)
{
    uint16_t reg = 0;
    for (size_t i = 0; i < n; ++i)
        reg = FeedByte(reg, data[i]);
    return reg;
}

uint16_t Crc16(const uint8_t* data, size_t n)
{
    // Augmented form: the 16 zero bits push the last data bits through.
    uint16_t reg = Crc16Register(data, n);
    reg = FeedByte(reg, 0);
    return FeedByte(reg, 0);
}

}  // namespace devupdate::xsvf
