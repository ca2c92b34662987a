#include "SvfBits.h"

#include <algorithm>

namespace devupdate::svf {

void SvfBits::Set(size_t i, bool value)
{
    const auto bit = static_cast<uint8_t>(1u << (i & 7));
    if (value)
        m_bytes[i >> 3] |= bit;
    else
        m_bytes[i >> 3] &= static_cast<uint8_t>(~bit);
}

void SvfBits::push_back(bool value)
{
    if ((m_size & 7) == 0)
        m_bytes.push_back(0);
    ++m_size;
    Set(m_size - 1, value);
}

void SvfBits::assign(size_t count, bool value)
{
    m_size = count;
    m_bytes.assign((count + 7) / 8, value ? 0xFF : 0x00);
    if (value && (count & 7) != 0)
        m_bytes.back() = static_cast<uint8_t>((1u << (count & 7)) - 1);
}

void SvfBits::AppendBytes(const uint8_t* bytes, size_t count)
{
    const size_t shift = m_size & 7;
    m_bytes.reserve((m_size + count + 7) / 8);
    if (shift == 0) {
        m_bytes.insert(m_bytes.end(), bytes, bytes + (count + 7) / 8);
    } else {
        for (size_t k = 0; k < (count + 7) / 8; ++k) {
            m_bytes.back() |= static_cast<uint8_t>(bytes[k] << shift);
            m_bytes.push_back(static_cast<uint8_t>(bytes[k] >> (8 - shift)));
        }
    }
    m_size += count;
    m_bytes.resize((m_size + 7) / 8);
    if ((m_size & 7) != 0)
        m_bytes.back() &= static_cast<uint8_t>((1u << (m_size & 7)) - 1);
}

void SvfBits::Append(const SvfBits& other)
{
    AppendBytes(other.m_bytes.data(), other.m_size);
}

uint8_t SvfBits::ByteAt(size_t from) const
{
    const size_t index = from >> 3;
    const size_t shift = from & 7;
    unsigned value = m_bytes[index] >> shift;
    if (shift != 0 && index + 1 < m_bytes.size())
        value |= static_cast<unsigned>(m_bytes[index + 1]) << (8 - shift);
    return static_cast<uint8_t>(value);
}

bool SvfBits::All(size_t from, size_t count, bool value) const
{
    const uint8_t want = value ? 0xFF : 0x00;
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        if (ByteAt(from + i) != want)
            return false;
    }
    for (; i < count; ++i) {
        if ((*this)[from + i] != value)
            return false;
    }
    return true;
}

bool SvfBits::Any() const
{
    return std::any_of(m_bytes.begin(), m_bytes.end(), [](uint8_t b) { return b != 0; });
}

std::vector<uint8_t> SvfBits::ToBuffer(size_t from, size_t count) const
{
    const size_t bytes = (count + 7) / 8;
    std::vector<uint8_t> out(bytes, 0);
    if ((from & 7) == 0) {
        const uint8_t* source = m_bytes.data() + (from >> 3);
        for (size_t k = 0; k < bytes; ++k)
            out[bytes - 1 - k] = source[k];
    } else {
        for (size_t k = 0; k < bytes; ++k)
            out[bytes - 1 - k] = ByteAt(from + 8 * k);
    }
    if ((count & 7) != 0)
        out[0] &= static_cast<uint8_t>((1u << (count & 7)) - 1);
    return out;
}

SvfBits SvfBits::And(const SvfBits& other) const
{
    SvfBits result = *this;
    for (size_t k = 0; k < result.m_bytes.size() && k < other.m_bytes.size(); ++k)
        result.m_bytes[k] &= other.m_bytes[k];
    return result;
}

}  // namespace devupdate::svf
