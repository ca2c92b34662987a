#include "JtagEngine.h"

#include "Crc16.h"

using namespace devupdate::xsvf;
using namespace devupdate::svf;

namespace devupdate::devsim {

namespace {

constexpr uint8_t ACK = 0x11;
constexpr uint8_t MISMATCH = 0x99;
constexpr uint8_t REFUSE = 0x44;

constexpr uint8_t FLAG_COMPARE = 0x01;
constexpr uint8_t FLAG_MASK = 0x02;
constexpr uint8_t FLAG_EXIT = 0x04;
constexpr uint8_t FLAG_SECTION_TDI = 0x08;

SJtagResult Accepted(std::vector<uint8_t> answer)
{
    SJtagResult r;
    r.accepted = true;
    r.answer = std::move(answer);
    return r;
}

bool GetBit(const uint8_t* bytes, size_t n, int i)
{
    return (bytes[n - 1 - static_cast<size_t>(i / 8)] >> (i % 8)) & 1;
}

}  // namespace

void CJtagEngine::ExpectSvf(std::vector<SSvfScan> scans)
{
    m_svf = std::make_unique<CSvfTarget>(std::move(scans));
    m_tap.SetPart(*m_svf);
}

void CJtagEngine::ClearSections()
{
    for (auto& s : m_sections)
        s.fill(0);
}

SJtagResult CJtagEngine::Execute(const uint8_t* payload, size_t n)
{
    if (n == 0)
        return {};
    switch (payload[0]) {
    case FRAME_PINS: return Pins(payload, n);
    case FRAME_SHIFT: return Shift(payload, n);
    case FRAME_READ_TDO: return ReadTdo(payload, n);
    case FRAME_DELAY: {
        if (n != 5)
            return {};
        SJtagResult r = Accepted({ACK});
        r.delayMicroseconds = static_cast<uint32_t>(payload[1]) << 24 |
                              static_cast<uint32_t>(payload[2]) << 16 |
                              static_cast<uint32_t>(payload[3]) << 8 | payload[4];
        return r;
    }
    case FRAME_FINISH: {
        if (n != 1)
            return {};
        SJtagResult r = Accepted({REFUSE});
        r.finished = true;
        return r;
    }
    default: return {};
    }
}

SJtagResult CJtagEngine::Pins(const uint8_t* payload, size_t n)
{
    if (n < 2)
        return {};
    for (size_t i = 1; i < n; ++i) {
        const uint8_t pin = payload[i] & 0x0F;
        const bool level = (payload[i] >> 4) != 0;
        if (pin == 0)
            m_tap.SetTms(level);
        else if (pin == 1)
            m_tap.SetTck(level);
        // Other pin numbers drive nothing on this board.
    }
    return Accepted({ACK});
}

bool CJtagEngine::DecodeSection(const uint8_t* data, size_t size, size_t& pos, size_t n,
                                uint8_t* out)
{
    size_t filled = 0;
    while (filled < n) {
        if (pos >= size)
            return false;
        const uint8_t header = data[pos++];
        if (header < 0x80) {
            if (header < 1 || header > 64 || filled + header > n || pos + header > size)
                return false;
            for (int i = 0; i < header; ++i)
                out[filled++] = data[pos++];
        } else {
            const size_t repeat = header & 0x7F;
            if (repeat < 4 || repeat > 64 || filled + repeat > n || pos >= size)
                return false;
            const uint8_t value = data[pos++];
            for (size_t i = 0; i < repeat; ++i)
                out[filled++] = value;
        }
    }
    return true;
}

SJtagResult CJtagEngine::Shift(const uint8_t* payload, size_t n)
{
    if (n < 4)
        return {};
    const uint8_t flags = payload[1];
    const int bits = payload[2] << 8 | payload[3];
    if ((flags & 0xC0) != 0 || bits < 1 || bits > MAX_CHUNK_BITS)
        return {};
    const size_t bytes = static_cast<size_t>(bits + 7) / 8;

    // Decode into copies first: a malformed frame must leave the stores as they were.
    auto sections = m_sections;
    size_t pos = 4;
    for (int s = 0; s < 3; ++s) {
        if ((flags & (FLAG_SECTION_TDI << s)) == 0)
            continue;
        if (!DecodeSection(payload, n, pos, bytes, sections[static_cast<size_t>(s)].data()))
            return {};
    }
    if (pos != n)
        return {};
    m_sections = sections;

    const std::vector<uint8_t> tdo = ShiftBits(m_sections[0].data(), bits, (flags & FLAG_EXIT) != 0);
    m_lastTdo = tdo;

    bool match = true;
    if (flags & FLAG_COMPARE) {
        const uint8_t* expected = m_sections[1].data();
        const uint8_t* mask = m_sections[2].data();
        for (int i = 0; i < bits; ++i) {
            const bool care = (flags & FLAG_MASK) == 0 || GetBit(mask, bytes, i);
            if (care && GetBit(tdo.data(), bytes, i) != GetBit(expected, bytes, i))
                match = false;
        }
    }
    return Accepted({match ? ACK : MISMATCH});
}

std::vector<uint8_t> CJtagEngine::ShiftBits(const uint8_t* tdi, int bits, bool exitShift)
{
    const size_t bytes = static_cast<size_t>(bits + 7) / 8;
    std::vector<uint8_t> tdo(bytes, 0);
    for (int i = 0; i < bits; ++i) {
        m_tap.SetTck(false);
        m_tap.SetTdi(GetBit(tdi, bytes, i));
        m_tap.SetTms(exitShift && i == bits - 1);
        if (m_tap.Tdo())
            tdo[bytes - 1 - static_cast<size_t>(i / 8)] |= static_cast<uint8_t>(1 << (i % 8));
        m_tap.SetTck(true);
    }
    return tdo;
}

SJtagResult CJtagEngine::ReadTdo(const uint8_t* payload, size_t n)
{
    if (n != 3)
        return {};
    const int bits = payload[1] << 8 | payload[2];
    if (bits < 1 || bits > MAX_CHUNK_BITS)
        return {};
    const size_t bytes = static_cast<size_t>(bits + 7) / 8;
    std::vector<uint8_t> tdo(bytes, 0);
    for (size_t i = 0; i < bytes && i < m_lastTdo.size(); ++i)
        tdo[bytes - 1 - i] = m_lastTdo[m_lastTdo.size() - 1 - i];
    std::vector<uint8_t> answer{ACK};
    const std::vector<uint8_t> frame = ReadBackFrame(tdo);
    answer.insert(answer.end(), frame.begin(), frame.end());
    return Accepted(std::move(answer));
}

std::vector<uint8_t> CJtagEngine::ReadBackFrame(const std::vector<uint8_t>& tdo)
{
    const size_t m = 2 * tdo.size() + 3;
    std::vector<uint8_t> frame{static_cast<uint8_t>(m >> 8), static_cast<uint8_t>(m), FRAME_READ_TDO};
    for (uint8_t b : tdo) {
        frame.push_back(static_cast<uint8_t>(b >> 4));
        frame.push_back(static_cast<uint8_t>(b & 0x0F));
    }
    const uint16_t crc = Crc16(frame.data() + 2, frame.size() - 2);
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    frame.push_back(static_cast<uint8_t>(crc));
    return frame;
}

}  // namespace devupdate::devsim
