#pragma once
// Builds XSVF streams for tests, command by command (big-endian numbers).

#include <cstdint>
#include <string>
#include <vector>

class CXsvfBuilder {
public:
    using Bytes = std::vector<uint8_t>;

    CXsvfBuilder& Complete() { return Code(0); }
    CXsvfBuilder& TdoMask(const Bytes& mask) { return Code(1).Append(mask); }
    CXsvfBuilder& Sir(uint8_t bits, const Bytes& tdi) { return Code(2).Byte(bits).Append(tdi); }
    CXsvfBuilder& Sdr(const Bytes& tdi) { return Code(3).Append(tdi); }
    CXsvfBuilder& RunTest(uint32_t us) { return Code(4).Value(us, 4); }
    CXsvfBuilder& Repeat(uint8_t n) { return Code(7).Byte(n); }
    CXsvfBuilder& SdrSize(uint32_t bits) { return Code(8).Value(bits, 4); }
    CXsvfBuilder& SdrTdo(const Bytes& tdi, const Bytes& expected)
    {
        return Code(9).Append(tdi).Append(expected);
    }
    CXsvfBuilder& SetSdrMasks(const Bytes& address, const Bytes& data)
    {
        return Code(10).Append(address).Append(data);
    }
    CXsvfBuilder& SdrInc(const Bytes& tdi, const std::vector<Bytes>& steps)
    {
        Code(11).Append(tdi).Byte(static_cast<uint8_t>(steps.size()));
        for (const Bytes& step : steps)
            Append(step);
        return *this;
    }
    CXsvfBuilder& Sdrb(const Bytes& tdi) { return Code(12).Append(tdi); }
    CXsvfBuilder& Sdrc(const Bytes& tdi) { return Code(13).Append(tdi); }
    CXsvfBuilder& Sdre(const Bytes& tdi) { return Code(14).Append(tdi); }
    CXsvfBuilder& SdrTdoB(const Bytes& tdi, const Bytes& expected)
    {
        return Code(15).Append(tdi).Append(expected);
    }
    CXsvfBuilder& SdrTdoE(const Bytes& tdi, const Bytes& expected)
    {
        return Code(17).Append(tdi).Append(expected);
    }
    CXsvfBuilder& State(uint8_t state) { return Code(18).Byte(state); }
    CXsvfBuilder& EndIr(uint8_t value) { return Code(19).Byte(value); }
    CXsvfBuilder& EndDr(uint8_t value) { return Code(20).Byte(value); }
    CXsvfBuilder& Sir2(uint16_t bits, const Bytes& tdi) { return Code(21).Value(bits, 2).Append(tdi); }
    CXsvfBuilder& Comment(const std::string& text)
    {
        Code(22).Append(Bytes(text.begin(), text.end()));
        return Byte(0);
    }
    CXsvfBuilder& Wait(uint8_t waitState, uint8_t endState, uint32_t us)
    {
        return Code(23).Byte(waitState).Byte(endState).Value(us, 4);
    }

    CXsvfBuilder& Code(uint8_t code) { return Byte(code); }
    CXsvfBuilder& Byte(uint8_t byte)
    {
        m_bytes.push_back(byte);
        return *this;
    }
    CXsvfBuilder& Append(const Bytes& bytes)
    {
        m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
        return *this;
    }
    CXsvfBuilder& Value(uint32_t value, int bytes)
    {
        for (int i = bytes - 1; i >= 0; --i)
            m_bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
        return *this;
    }

    const Bytes& Stream() const { return m_bytes; }

private:
    Bytes m_bytes;
};
