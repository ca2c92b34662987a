#pragma once
// The command loop's engine: reads XSVF commands from the host's stream and
// executes them through the transport, tracing as it goes.
//
// Stream and link failures travel as CComErrException (9 stream ended or
// unreadable, 7 and 10..13 from the transport) out of every member.

#include "XsvfInfo.h"

#include <cstdint>

namespace devupdate::xsvf {

class CJtagTransport;
class CXsvfHost;
class CXsvfTrace;

class CXsvfInterpreter {
public:
    CXsvfInterpreter(CXsvfHost& host, CJtagTransport& transport, CXsvfTrace& trace,
                     SXsvfInfo& info)
        : m_host(host), m_transport(transport), m_trace(trace), m_info(info)
    {
    }

    // Reads and executes one command unless the run has ended; returns the
    // run's errorCode.
    int RunXsvfCommand();

    // One XSVF shift from startState (DRSHIFT or IRSHIFT) to endState, then
    // the wait in Run-Test/Idle; a failing check is attempted maxRepeat + 1
    // times with the wait growing by a quarter per retry. captured, expected
    // and mask may be null (expected and mask count only with captured).
    // bitCount must be 0..MAX_SHIFT_BITS. Returns 0, 2 (mismatch, maxRepeat
    // 0) or 3 (mismatch after retries).
    int ShiftAndVerify(uint8_t startState, long bitCount, const ShiftBuffer& tdi,
                       ShiftBuffer* captured, const ShiftBuffer* expected,
                       const ShiftBuffer* mask, uint8_t endState, int32_t wait,
                       uint8_t maxRepeat);

private:
    int Execute(uint8_t command);
    int Unsupported();
    int DoTdoMask();
    int DoSir1();
    int DoSir(long bitCount);
    int DoSdr();
    int DoRunTest();
    int DoRepeat();
    int DoSdrSize();
    int DoSdrTdo();
    int DoSetSdrMasks();
    int DoSdrInc();
    int DoSdrNoCheck(bool leaveShift);
    int DoSdrTdoNoMask(bool leaveShift);
    int DoState();
    int DoEndIr();
    int DoEndDr();
    int DoSir2();
    int DoComment();
    int DoWait();

    int ShiftDataRegister();
    int Move(uint8_t target);
    uint8_t ReadByte();
    int32_t ReadValue(int bytes);
    void ReadBuffer(ShiftBuffer& buffer, int n);
    void TraceShiftEnd(const char* indent, const ShiftBuffer* captured,
                       const ShiftBuffer* expected, const ShiftBuffer* mask, int level);

    CXsvfHost& m_host;
    CJtagTransport& m_transport;
    CXsvfTrace& m_trace;
    SXsvfInfo& m_info;
};

// Adds addressMask to tdi (over tdi's length, carry from the last byte up),
// then scatters nextData's bits, from bit 0 of its last byte on, into the tdi
// bits where dataMask has a 1 (from bit 0 of its last byte on).
void XsdrIncStep(ShiftBuffer& tdi, const ShiftBuffer& addressMask,
                 const ShiftBuffer& dataMask, const ShiftBuffer& nextData);

// Number of 1 bits in the buffer's current length.
int CountOneBits(const ShiftBuffer& buffer);

}  // namespace devupdate::xsvf
