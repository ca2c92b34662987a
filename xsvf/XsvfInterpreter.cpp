#include "XsvfInterpreter.h"

#include "ComErrException.h"
#include "JtagTransport.h"
#include "TapState.h"
#include "XsvfCommands.h"
#include "XsvfHost.h"
#include "XsvfPlayer.h"
#include "XsvfTrace.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <string>

using namespace devupdate::link;

namespace devupdate::xsvf {

int CountOneBits(const ShiftBuffer& buffer)
{
    const int length = std::clamp<int>(buffer.length, 0, MAX_LEN);
    int count = 0;
    for (int i = 0; i < length; ++i)
        count += std::popcount(buffer.bytes[i]);
    return count;
}

void XsdrIncStep(ShiftBuffer& tdi, const ShiftBuffer& addressMask, const ShiftBuffer& dataMask,
                 const ShiftBuffer& nextData)
{
    unsigned carry = 0;
    for (int i = std::clamp<int>(tdi.length, 0, MAX_LEN) - 1; i >= 0; --i) {
        const unsigned sum = tdi.bytes[i] + addressMask.bytes[i] + carry;
        tdi.bytes[i] = static_cast<uint8_t>(sum);
        carry = sum > 0xFF ? 1 : 0;
    }

    int dataIndex = std::clamp<int>(nextData.length, 0, MAX_LEN) - 1;
    int dataBit = 0;
    for (int i = std::clamp<int>(dataMask.length, 0, MAX_LEN) - 1; i >= 0; --i) {
        for (int bit = 0; bit < 8; ++bit) {
            if ((dataMask.bytes[i] >> bit & 1) == 0)
                continue;
            if (dataIndex < 0)
                return;  // fewer data bits than mask bits: the rest keep their value
            const uint8_t value = nextData.bytes[dataIndex] >> dataBit & 1;
            tdi.bytes[i] = static_cast<uint8_t>((tdi.bytes[i] & ~(1u << bit)) | value << bit);
            if (++dataBit == 8) {
                dataBit = 0;
                --dataIndex;
            }
        }
    }
}

// ---- reading the stream -----------------------------------------------------

uint8_t CXsvfInterpreter::ReadByte()
{
    uint8_t byte = 0;
    if (!m_host.ReadDataByte(byte))
        throw CComErrException(XSVF_ERROR_FILEREAD);
    return byte;
}

int32_t CXsvfInterpreter::ReadValue(int bytes)
{
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value = value << 8 | ReadByte();
    return static_cast<int32_t>(value);
}

void CXsvfInterpreter::ReadBuffer(ShiftBuffer& buffer, int n)
{
    // Lengths are checked against MAX_LEN where they are read; the clamp only
    // guards the store.
    n = std::clamp(n, 0, MAX_LEN);
    buffer.length = static_cast<int16_t>(n);
    for (int i = 0; i < n; ++i)
        buffer.bytes[i] = ReadByte();
}

// ---- the command loop -------------------------------------------------------

int CXsvfInterpreter::RunXsvfCommand()
{
    if (m_info.errorCode != 0 || m_info.complete != 0)
        return m_info.errorCode;
    m_info.command = ReadByte();
    ++m_info.commandCount;
    int result;
    if (m_info.command >= XSVF_COMMAND_COUNT) {
        result = Unsupported();
    } else {
        m_trace.Write(2, "  %s\n", XsvfCommandName(m_info.command));
        result = Execute(m_info.command);
    }
    if (result != 0)
        m_info.errorCode = result;
    return m_info.errorCode;
}

int CXsvfInterpreter::Execute(uint8_t command)
{
    switch (command) {
    case XCOMPLETE: m_info.complete = 1; return 0;
    case XTDOMASK: return DoTdoMask();
    case XSIR: return DoSir1();
    case XSDR: return DoSdr();
    case XRUNTEST: return DoRunTest();
    case XREPEAT: return DoRepeat();
    case XSDRSIZE: return DoSdrSize();
    case XSDRTDO: return DoSdrTdo();
    case XSETSDRMASKS: return DoSetSdrMasks();
    case XSDRINC: return DoSdrInc();
    case XSDRB: return DoSdrNoCheck(false);
    case XSDRC: return DoSdrNoCheck(false);
    case XSDRE: return DoSdrNoCheck(true);
    case XSDRTDOB: return DoSdrTdoNoMask(false);
    case XSDRTDOC: return DoSdrTdoNoMask(false);
    case XSDRTDOE: return DoSdrTdoNoMask(true);
    case XSTATE: return DoState();
    case XENDIR: return DoEndIr();
    case XENDDR: return DoEndDr();
    case XSIR2: return DoSir2();
    case XCOMMENT: return DoComment();
    case XWAIT: return DoWait();
    default: return Unsupported();  // Reserved5, Reserved6
    }
}

int CXsvfInterpreter::Unsupported()
{
    m_trace.Write(0, "ERROR:  Encountered unsupported command #%d (%s)\n", m_info.command,
                  XsvfCommandName(m_info.command));
    return XSVF_ERROR_ILLEGALCMD;
}

int CXsvfInterpreter::Move(uint8_t target)
{
    return MoveToTapState(m_transport, m_trace, m_info.tapState, target);
}

// ---- the commands -----------------------------------------------------------

int CXsvfInterpreter::DoTdoMask()
{
    ReadBuffer(m_info.tdoMask, m_info.shiftLengthBytes);
    m_trace.DumpLine(4, "    TDO Mask     = ", &m_info.tdoMask);
    return 0;
}

int CXsvfInterpreter::DoSir1()
{
    const long bitCount = ReadByte();
    m_trace.Write(3, "   XSIR length = %d\n", static_cast<int>(bitCount));
    return DoSir(bitCount);
}

int CXsvfInterpreter::DoSir(long bitCount)
{
    if (BytesForBits(bitCount) > MAX_LEN)
        return XSVF_ERROR_DATAOVERFLOW;
    ReadBuffer(m_info.tdi, BytesForBits(bitCount));
    return ShiftAndVerify(TAP_IRSHIFT, bitCount, m_info.tdi, nullptr, nullptr, nullptr,
                          m_info.endIrState, m_info.runTestTime, 0);
}

int CXsvfInterpreter::ShiftDataRegister()
{
    return ShiftAndVerify(TAP_DRSHIFT, m_info.shiftLengthBits, m_info.tdi, &m_info.tdoCaptured,
                          &m_info.tdoExpected, &m_info.tdoMask, m_info.endDrState,
                          m_info.runTestTime, m_info.maxRepeat);
}

int CXsvfInterpreter::DoSdr()
{
    ReadBuffer(m_info.tdi, m_info.shiftLengthBytes);
    return ShiftDataRegister();
}

int CXsvfInterpreter::DoRunTest()
{
    m_info.runTestTime = ReadValue(4);
    m_trace.Write(3, "   XRUNTEST = %ld\n", static_cast<long>(m_info.runTestTime));
    return 0;
}

int CXsvfInterpreter::DoRepeat()
{
    m_info.maxRepeat = ReadByte();
    m_trace.Write(3, "   XREPEAT = %d\n", m_info.maxRepeat);
    return 0;
}

int CXsvfInterpreter::DoSdrSize()
{
    const int32_t bits = ReadValue(4);
    m_trace.Write(3, "   XSDRSIZE = %ld\n", static_cast<long>(bits));
    // Judged on the full 32-bit value, before anything is narrowed.
    if (bits < 0 || bits > MAX_SHIFT_BITS)
        return XSVF_ERROR_DATAOVERFLOW;
    m_info.shiftLengthBits = bits;
    m_info.shiftLengthBytes = static_cast<int16_t>(BytesForBits(bits));
    return 0;
}

int CXsvfInterpreter::DoSdrTdo()
{
    ReadBuffer(m_info.tdi, m_info.shiftLengthBytes);
    ReadBuffer(m_info.tdoExpected, m_info.shiftLengthBytes);
    return ShiftDataRegister();
}

int CXsvfInterpreter::DoSetSdrMasks()
{
    ReadBuffer(m_info.addressMask, m_info.shiftLengthBytes);
    ReadBuffer(m_info.dataMask, m_info.shiftLengthBytes);
    m_trace.DumpLine(4, "    Address Mask = ", &m_info.addressMask);
    m_trace.DumpLine(4, "    Data Mask    = ", &m_info.dataMask);
    return 0;
}

int CXsvfInterpreter::DoSdrInc()
{
    ReadBuffer(m_info.tdi, m_info.shiftLengthBytes);
    int result = ShiftDataRegister();
    if (result != 0)
        return result;
    const int dataBytes = BytesForBits(CountOneBits(m_info.dataMask));
    const int steps = ReadByte();
    for (int step = 0; step < steps; ++step) {
        ReadBuffer(m_info.nextData, dataBytes);
        XsdrIncStep(m_info.tdi, m_info.addressMask, m_info.dataMask, m_info.nextData);
        result = ShiftDataRegister();
        if (result != 0)
            return result;
    }
    return 0;
}

int CXsvfInterpreter::DoSdrNoCheck(bool leaveShift)
{
    ReadBuffer(m_info.tdi, m_info.shiftLengthBytes);
    return ShiftAndVerify(TAP_DRSHIFT, m_info.shiftLengthBits, m_info.tdi, nullptr, nullptr,
                          nullptr, leaveShift ? m_info.endDrState : TAP_DRSHIFT, 0, 0);
}

int CXsvfInterpreter::DoSdrTdoNoMask(bool leaveShift)
{
    ReadBuffer(m_info.tdi, m_info.shiftLengthBytes);
    ReadBuffer(m_info.tdoExpected, m_info.shiftLengthBytes);
    return ShiftAndVerify(TAP_DRSHIFT, m_info.shiftLengthBits, m_info.tdi, &m_info.tdoCaptured,
                          &m_info.tdoExpected, nullptr,
                          leaveShift ? m_info.endDrState : TAP_DRSHIFT, 0, 0);
}

int CXsvfInterpreter::DoState()
{
    return Move(ReadByte());  // a code above 15 gives 5 with nothing sent
}

int CXsvfInterpreter::DoEndIr()
{
    const uint8_t value = ReadByte();
    if (value > 1)
        return XSVF_ERROR_ILLEGALSTATE;
    m_info.endIrState = value == 0 ? TAP_IDLE : TAP_IRPAUSE;
    m_trace.Write(3, "   ENDIR State = %s\n", TapStateName(m_info.endIrState));
    return 0;
}

int CXsvfInterpreter::DoEndDr()
{
    const uint8_t value = ReadByte();
    if (value > 1)
        return XSVF_ERROR_ILLEGALSTATE;
    m_info.endDrState = value == 0 ? TAP_IDLE : TAP_DRPAUSE;
    m_trace.Write(3, "   ENDDR State = %s\n", TapStateName(m_info.endDrState));
    return 0;
}

int CXsvfInterpreter::DoSir2()
{
    const long bitCount = static_cast<uint16_t>(ReadValue(2));
    m_trace.Write(3, "   XSIR2 length = %d\n", static_cast<int>(bitCount));
    return DoSir(bitCount);  // an overflow reads no data bytes
}

int CXsvfInterpreter::DoComment()
{
    // Echoed for whoever watches the console; the trace does not get it.
    // Passed on in pieces as it is read: a comment may be any length.
    constexpr size_t PIECE_BYTES = 4096;
    std::string piece;
    bool started = false;
    auto pass = [&](bool ends) {
        if (CXsvfTrace::TRACE_LEVEL > 0)
            m_host.OnXsvfComment({piece, !started, ends});
        started = true;
        piece.clear();
    };
    try {
        for (uint8_t byte = ReadByte(); byte != 0; byte = ReadByte()) {
            piece.push_back(static_cast<char>(byte));
            if (piece.size() == PIECE_BYTES)
                pass(false);
        }
    } catch (const CComErrException&) {
        // A stream that ends inside a long comment still ends its line.
        if (started)
            pass(true);
        throw;
    }
    pass(true);
    return 0;
}

int CXsvfInterpreter::DoWait()
{
    const uint8_t waitState = ReadByte();
    const uint8_t endState = ReadByte();
    const int32_t time = ReadValue(4);
    m_trace.Write(3, "   XWAIT:  state = %s; time = %ld\n", TapStateName(waitState),
                  static_cast<long>(time));
    if (waitState > TAP_LAST_STATE || endState > TAP_LAST_STATE)
        return XSVF_ERROR_ILLEGALSTATE;  // no move and no wait
    if (m_info.tapState != waitState)
        (void)Move(waitState);
    (void)m_transport.RemoteWait(static_cast<uint32_t>(time));
    if (m_info.tapState != endState)
        (void)Move(endState);
    return 0;
}

// ---- shift and verify -------------------------------------------------------

namespace {

// A quarter longer on each retry. Many retries would pass what the wait
// field holds: the wait stays at its largest value instead of turning negative.
int32_t LongerRetryWait(int32_t wait)
{
    const int64_t longer = static_cast<int64_t>(wait) + (wait >> 2);
    return static_cast<int32_t>(std::min<int64_t>(longer, INT32_MAX));
}

}  // namespace

void CXsvfInterpreter::TraceShiftEnd(const char* indent, const ShiftBuffer* captured,
                                     const ShiftBuffer* expected, const ShiftBuffer* mask,
                                     int level)
{
    const std::string prefix = indent;
    m_trace.DumpLine(level, (prefix + "TDO Expected = ").c_str(), expected);
    m_trace.DumpLine(level, (prefix + "TDO Captured = ").c_str(), captured);
    m_trace.DumpLine(level, (prefix + "TDO Mask     = ").c_str(), mask);
}

int CXsvfInterpreter::ShiftAndVerify(uint8_t startState, long bitCount, const ShiftBuffer& tdi,
                                     ShiftBuffer* captured, const ShiftBuffer* expected,
                                     const ShiftBuffer* mask, uint8_t endState, int32_t wait,
                                     uint8_t maxRepeat)
{
    const bool exitShift = startState != endState;
    m_trace.Write(3, "   Shift Length = %ld\n", bitCount);
    m_trace.DumpLine(4, "    TDI          = ", &tdi);
    m_trace.DumpLine(4, "    TDO Expected = ", expected);

    if (bitCount == 0) {
        if (wait != 0) {
            (void)Move(TAP_IDLE);
            m_trace.Write(3, "   Wait = %ld usec\n", static_cast<long>(wait));
            (void)m_transport.RemoteWait(static_cast<uint32_t>(wait));
        }
        return 0;
    }

    int retries = 0;
    for (;;) {
        (void)Move(startState);
        const bool matched =
            m_transport.ShiftData(bitCount, tdi, expected, mask, captured, exitShift);
        if (exitShift) {
            ++m_info.tapState;  // the last bit went out with TMS high: Shift -> Exit1
            m_trace.Write(3, "   TAP State = %s\n", TapStateName(m_info.tapState));
            if (!matched && wait != 0 && retries < maxRepeat) {
                TraceShiftEnd("    ", captured, expected, mask, 4);
                m_trace.Write(3, "   Retry #%d\n", retries + 1);
                (void)Move(TAP_DRPAUSE);
                (void)Move(TAP_DRSHIFT);
                wait = LongerRetryWait(wait);
            } else {
                (void)Move(endState);
            }
            if (wait != 0) {
                (void)Move(TAP_IDLE);
                m_trace.Write(3, "   Wait = %ld usec\n", static_cast<long>(wait));
                (void)m_transport.RemoteWait(static_cast<uint32_t>(wait));
            }
        }
        if (matched)
            return 0;
        if (retries >= maxRepeat)
            break;
        ++retries;
    }
    TraceShiftEnd(" ", captured, expected, mask, 1);
    return maxRepeat != 0 ? XSVF_ERROR_MAXRETRIES : XSVF_ERROR_TDOMISMATCH;
}

}  // namespace devupdate::xsvf
