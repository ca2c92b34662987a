#pragma once
// CXsvfWriter: builds XSVF byte streams command by command. Multi-byte
// numbers are written big-endian; data arguments are byte strings in buffer
// order (most significant byte first, bit 0 of the last byte shifted first).
//
// The writer tracks the current XSDRSIZE byte count B (0 until SdrSize) and
// the dataMask of the last SetSdrMasks. Every checked method throws
// std::invalid_argument when a data argument has the wrong length (B for
// data-register commands, (L + 7) / 8 for XSIR/XSIR2, (K + 7) / 8 for each
// XSDRINC group with K = 1 bits in dataMask). Raw() writes anything, for
// malformed streams.

#include "XsvfCommands.h"  // the player's command codes: one definition

#include <cstdint>
#include <string>
#include <vector>

namespace devupdate::xsvfgen {

using Bytes = std::vector<uint8_t>;

class CXsvfWriter {
public:
    // value as `bytes` bytes, big-endian (the low bits of value).
    static Bytes Value(uint64_t value, size_t bytes);

    CXsvfWriter& Complete();
    CXsvfWriter& TdoMask(const Bytes& mask);
    CXsvfWriter& Sir(uint8_t bits, const Bytes& tdi);
    CXsvfWriter& Sdr(const Bytes& tdi);
    CXsvfWriter& RunTest(uint32_t microseconds);
    CXsvfWriter& Repeat(uint8_t times);
    // Also sets B = (bits + 7) / 8 for the following commands.
    CXsvfWriter& SdrSize(uint32_t bits);
    CXsvfWriter& SdrTdo(const Bytes& tdi, const Bytes& expected);
    CXsvfWriter& SetSdrMasks(const Bytes& addressMask, const Bytes& dataMask);
    // Start TDI, then one group of new data bits per increment step.
    CXsvfWriter& SdrInc(const Bytes& tdi, const std::vector<Bytes>& steps);
    CXsvfWriter& SdrB(const Bytes& tdi) { return DataCommand(xsvf::XSDRB, tdi); }
    CXsvfWriter& SdrC(const Bytes& tdi) { return DataCommand(xsvf::XSDRC, tdi); }
    CXsvfWriter& SdrE(const Bytes& tdi) { return DataCommand(xsvf::XSDRE, tdi); }
    CXsvfWriter& SdrTdoB(const Bytes& tdi, const Bytes& expected) { return DataPair(xsvf::XSDRTDOB, tdi, expected); }
    CXsvfWriter& SdrTdoC(const Bytes& tdi, const Bytes& expected) { return DataPair(xsvf::XSDRTDOC, tdi, expected); }
    CXsvfWriter& SdrTdoE(const Bytes& tdi, const Bytes& expected) { return DataPair(xsvf::XSDRTDOE, tdi, expected); }
    CXsvfWriter& State(uint8_t tapState);
    CXsvfWriter& EndIr(uint8_t pause);
    CXsvfWriter& EndDr(uint8_t pause);
    CXsvfWriter& Sir2(uint16_t bits, const Bytes& tdi);
    // The text and its terminating zero byte; the text must hold no zero byte.
    CXsvfWriter& Comment(const std::string& text);
    CXsvfWriter& Wait(uint8_t waitState, uint8_t endState, uint32_t microseconds);
    CXsvfWriter& Raw(const Bytes& bytes);

    // Convenience: a number as B bytes.
    CXsvfWriter& Sdr(uint64_t tdi) { return Sdr(Value(tdi, m_sdrBytes)); }
    CXsvfWriter& SdrTdo(uint64_t tdi, uint64_t expected)
    {
        return SdrTdo(Value(tdi, m_sdrBytes), Value(expected, m_sdrBytes));
    }
    CXsvfWriter& TdoMask(uint64_t mask) { return TdoMask(Value(mask, m_sdrBytes)); }

    const Bytes& Stream() const { return m_stream; }
    // Drops the bytes written so far (a caller that passes them on as it
    // goes); the XSDRSIZE and mask state stay.
    void ClearStream() { m_stream.clear(); }

private:
    CXsvfWriter& DataCommand(uint8_t command, const Bytes& data);
    CXsvfWriter& DataPair(uint8_t command, const Bytes& first, const Bytes& second);
    void CheckSdr(const Bytes& data, const char* what) const;
    void Put(uint8_t byte) { m_stream.push_back(byte); }
    void Put(const Bytes& bytes) { m_stream.insert(m_stream.end(), bytes.begin(), bytes.end()); }

    Bytes m_stream;
    size_t m_sdrBytes = 0;
    Bytes m_dataMask;
};

}  // namespace devupdate::xsvfgen
