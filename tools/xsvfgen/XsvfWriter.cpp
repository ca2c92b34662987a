#include "XsvfWriter.h"

#include <bit>
#include <stdexcept>

using namespace devupdate::xsvf;

namespace devupdate::xsvfgen {

Bytes CXsvfWriter::Value(uint64_t value, size_t bytes)
{
    Bytes out(bytes, 0);
    for (size_t i = 0; i < bytes && i < 8; ++i)
        out[bytes - 1 - i] = static_cast<uint8_t>(value >> (8 * i));
    return out;
}

void CXsvfWriter::CheckSdr(const Bytes& data, const char* what) const
{
    if (data.size() != m_sdrBytes)
        throw std::invalid_argument(std::string("XSVF: ") + what + " must have XSDRSIZE bytes");
}

CXsvfWriter& CXsvfWriter::DataCommand(uint8_t command, const Bytes& data)
{
    CheckSdr(data, "data");
    Put(command);
    Put(data);
    return *this;
}

CXsvfWriter& CXsvfWriter::DataPair(uint8_t command, const Bytes& first, const Bytes& second)
{
    CheckSdr(first, "TDI");
    CheckSdr(second, "second operand");
    Put(command);
    Put(first);
    Put(second);
    return *this;
}

CXsvfWriter& CXsvfWriter::Complete()
{
    Put(XCOMPLETE);
    return *this;
}

CXsvfWriter& CXsvfWriter::TdoMask(const Bytes& mask)
{
    return DataCommand(XTDOMASK, mask);
}

CXsvfWriter& CXsvfWriter::Sir(uint8_t bits, const Bytes& tdi)
{
    if (tdi.size() != (bits + 7u) / 8)
        throw std::invalid_argument("XSVF: XSIR needs (bits + 7) / 8 bytes");
    Put(XSIR);
    Put(bits);
    Put(tdi);
    return *this;
}

CXsvfWriter& CXsvfWriter::Sdr(const Bytes& tdi)
{
    return DataCommand(XSDR, tdi);
}

CXsvfWriter& CXsvfWriter::RunTest(uint32_t microseconds)
{
    Put(XRUNTEST);
    Put(Value(microseconds, 4));
    return *this;
}

CXsvfWriter& CXsvfWriter::Repeat(uint8_t times)
{
    Put(XREPEAT);
    Put(times);
    return *this;
}

CXsvfWriter& CXsvfWriter::SdrSize(uint32_t bits)
{
    Put(XSDRSIZE);
    Put(Value(bits, 4));
    m_sdrBytes = (static_cast<size_t>(bits) + 7) / 8;
    return *this;
}

CXsvfWriter& CXsvfWriter::SdrTdo(const Bytes& tdi, const Bytes& expected)
{
    return DataPair(XSDRTDO, tdi, expected);
}

CXsvfWriter& CXsvfWriter::SetSdrMasks(const Bytes& addressMask, const Bytes& dataMask)
{
    DataPair(XSETSDRMASKS, addressMask, dataMask);
    m_dataMask = dataMask;
    return *this;
}

CXsvfWriter& CXsvfWriter::SdrInc(const Bytes& tdi, const std::vector<Bytes>& steps)
{
    CheckSdr(tdi, "TDI");
    if (steps.size() > 255)
        throw std::invalid_argument("XSVF: XSDRINC takes at most 255 steps");
    size_t k = 0;
    for (uint8_t b : m_dataMask)
        k += static_cast<size_t>(std::popcount(b));
    for (const Bytes& step : steps)
        if (step.size() != (k + 7) / 8)
            throw std::invalid_argument("XSVF: XSDRINC step needs (K + 7) / 8 bytes");
    Put(XSDRINC);
    Put(tdi);
    Put(static_cast<uint8_t>(steps.size()));
    for (const Bytes& step : steps)
        Put(step);
    return *this;
}

CXsvfWriter& CXsvfWriter::State(uint8_t tapState)
{
    Put(XSTATE);
    Put(tapState);
    return *this;
}

CXsvfWriter& CXsvfWriter::EndIr(uint8_t pause)
{
    Put(XENDIR);
    Put(pause);
    return *this;
}

CXsvfWriter& CXsvfWriter::EndDr(uint8_t pause)
{
    Put(XENDDR);
    Put(pause);
    return *this;
}

CXsvfWriter& CXsvfWriter::Sir2(uint16_t bits, const Bytes& tdi)
{
    if (tdi.size() != (bits + 7u) / 8)
        throw std::invalid_argument("XSVF: XSIR2 needs (bits + 7) / 8 bytes");
    Put(XSIR2);
    Put(Value(bits, 2));
    Put(tdi);
    return *this;
}

CXsvfWriter& CXsvfWriter::Comment(const std::string& text)
{
    if (text.find('\0') != std::string::npos)
        throw std::invalid_argument("XSVF: a comment cannot hold a zero byte");
    Put(XCOMMENT);
    Put(Bytes(text.begin(), text.end()));
    Put(0);
    return *this;
}

CXsvfWriter& CXsvfWriter::Wait(uint8_t waitState, uint8_t endState, uint32_t microseconds)
{
    Put(XWAIT);
    Put(waitState);
    Put(endState);
    Put(Value(microseconds, 4));
    return *this;
}

CXsvfWriter& CXsvfWriter::Raw(const Bytes& bytes)
{
    Put(bytes);
    return *this;
}

}  // namespace devupdate::xsvfgen
