#pragma once
// SHA-256 (FIPS 180-4), for the run log's record of which file was sent.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

class CSha256 {
public:
    CSha256();
    void Update(const uint8_t* data, size_t size);
    // The digest as 64 lower-case hexadecimal digits; ends the hashing.
    std::string HexDigest();

private:
    void Block(const uint8_t* block);

    std::array<uint32_t, 8> m_state;
    std::array<uint8_t, 64> m_buffer{};
    size_t m_buffered = 0;
    uint64_t m_totalBytes = 0;
};
