#pragma once
// SvfBits: a bit string in shift order, eight bits to a byte (bit i is bit
// i % 8 of byte i / 8), so that scans of millions of bits are parsed,
// joined and turned into player buffers a byte at a time. Bits past size()
// in the last byte are always zero.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace devupdate::svf {

class SvfBits {
public:
    SvfBits() = default;
    SvfBits(size_t count, bool value) { assign(count, value); }

    size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    bool operator[](size_t i) const { return (m_bytes[i >> 3] >> (i & 7) & 1) != 0; }
    void Set(size_t i, bool value);
    void push_back(bool value);
    void clear() { assign(0, false); }
    void assign(size_t count, bool value);
    void Append(const SvfBits& other);
    // Appends the bits of `bytes` (bit i in byte i / 8); `count` <= 8 * bytes.size().
    void AppendBytes(const uint8_t* bytes, size_t count);

    // Whether bits [from, from + count) all have `value`.
    bool All(size_t from, size_t count, bool value) const;
    bool Any() const;
    // Bits [from, from + count) as a player buffer: most significant byte
    // first, bit 0 of the last byte shifted first.
    std::vector<uint8_t> ToBuffer(size_t from, size_t count) const;
    // Bit by bit AND of two strings of the same size.
    SvfBits And(const SvfBits& other) const;

    friend bool operator==(const SvfBits& a, const SvfBits& b) { return a.m_size == b.m_size && a.m_bytes == b.m_bytes; }

private:
    uint8_t ByteAt(size_t from) const;  // the 8 bits from bit `from` on

    std::vector<uint8_t> m_bytes;
    size_t m_size = 0;
};

}  // namespace devupdate::svf
