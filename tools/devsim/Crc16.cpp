#include "Crc16.h"

uint16_t Crc16(const uint8_t* data, size_t n)
{
    // Direct (non-augmented) form; gives the same value as feeding the
    // message and then 16 zero bits through the shift register.
    uint16_t crc = 0;
    for (size_t i = 0; i < n; ++i) {
        crc = static_cast<uint16_t>(crc ^ (data[i] << 8));
        for (int bit = 0; bit < 8; ++bit) {
            const bool top = (crc & 0x8000) != 0;
            crc = static_cast<uint16_t>(crc << 1);
            if (top)
                crc ^= 0x8005;
        }
    }
    return crc;
}
