#pragma once
// The device's side of the update protocol, as a state machine fed one byte
// at a time; no I/O of its own. Answers are handed back with the earliest
// time each byte may go out (line pacing is the caller's).
//
//   off:  silent until power-on (see SDevsimConfig)
//   0xA4 -> 0x11;  0xA3 -> extra 0x11s, 0x88;  0xA2 -> session ends, device off
//   0xA0, n, ~n -> 0x11 (target selected) | 0x44 (refused) | 0x22 (bad complement;
//                  the device then expects n, ~n again)
//   selected: FF 00 -> 0x11 and JTAG frames until the finish frame (other type
//             bytes: 0x44); or blocks "N high, N low, N bytes" (N <= 0x3FF)
//             -> busy bytes, 0x11 (0x22 on a failed block check)
//   JTAG: frame = N (2 bytes, 3..1024) payload CRC; bad CRC or layout -> 0x22;
//         0xA2 in place of a frame ends the session (the tool's cancel) and
//         drops busy bytes not yet sent; 0xA0 starts a selection.
// Not thread-safe; the device serialises access.

#include "DevsimConfig.h"
#include "FaultSchedule.h"
#include "JtagEngine.h"
#include "TrafficLog.h"

#include <cstdint>
#include <map>
#include <vector>

namespace devupdate::devsim {

struct SOutByte {
    uint8_t byte = 0;
    DevClock::time_point notBefore;
    size_t exchange = CTrafficLog::NO_EXCHANGE;
};

struct SDeviceOutput {
    std::vector<SOutByte> bytes;
    bool vanish = false;        // close the line now
    bool dropPending = false;   // drop answer bytes not yet sent
    bool sessionEnded = false;
};

class CDeviceProtocol {
public:
    CDeviceProtocol(const SDevsimConfig& config, CTrafficLog& log, DevClock::time_point now);

    // Back to the silent state; the power-on delay counts from now.
    void PowerOff(DevClock::time_point now);
    // One byte from the tool: read at readTime, fully arrived at arrival.
    void Feed(uint8_t byte, DevClock::time_point readTime, DevClock::time_point arrival,
              SDeviceOutput& out);
    void SetFaults(std::vector<SFaultRule> rules) { m_faults.SetRules(std::move(rules)); }

    bool InJtag() const;
    unsigned SessionsEnded() const { return m_sessionsEnded; }
    // Images per selected target: the payload bytes of all its blocks, in
    // order (empty for an XSVF target). A new selection starts a target afresh.
    const std::map<uint8_t, std::vector<uint8_t>>& Images() const { return m_images; }
    CJtagEngine& Jtag() { return m_jtag; }
    const CJtagEngine& Jtag() const { return m_jtag; }
    const CFaultSchedule& Faults() const { return m_faults; }
    // Sum of the waits the device really spent (delay frames with realDelays).
    DevClock::duration BusyTime() const { return m_busyTime; }

private:
    enum class EState {
        Off, Awake, SelectNumber, SelectComplement, Selected, TypeLow,
        BlockCountLow, BlockData, FrameLenHigh, FrameLenLow, FrameBody,
    };
    struct STimed {
        uint8_t byte;
        DevClock::duration offset;
    };
    using Answer = std::vector<STimed>;

    void FeedPowered(uint8_t byte, DevClock::time_point arrival, SDeviceOutput& out);
    void BeginUnit(DevClock::time_point readTime);
    // Completes the open unit: applies the fault rule, carries it out
    // (unless rejected or dropped) and queues the answer.
    template <typename CarryOut>
    void Complete(EPhase phase, bool jtagFrame, DevClock::time_point arrival, SDeviceOutput& out,
                  CarryOut carryOut);
    void Queue(const Answer& answer, DevClock::time_point arrival, size_t exchange,
               SDeviceOutput& out);
    void EndSession(DevClock::time_point arrival, SDeviceOutput& out);
    // An immediate answer outside the counted units (malformed frames).
    void AnswerMalformed(DevClock::time_point arrival, SDeviceOutput& out);

    Answer SelectTarget();
    Answer AcceptType();
    Answer AcceptBlock();
    Answer CarryOutFrame(EPhase phase);
    Answer Garbage(unsigned count);

    const SDevsimConfig& m_config;
    CTrafficLog& m_log;
    CFaultSchedule m_faults;
    CJtagEngine m_jtag;
    EState m_state = EState::Off;
    DevClock::time_point m_powerReference;
    unsigned m_offWakeups = 0;
    unsigned m_sessionsEnded = 0;
    std::map<uint8_t, std::vector<uint8_t>> m_images;
    DevClock::duration m_busyTime{0};
    uint32_t m_garbageSeed = 0x1234567;

    // The unit in progress.
    bool m_unitOpen = false;
    DevClock::time_point m_unitFirstRx;
    DevClock::time_point m_lastRx;
    uint8_t m_number = 0;       // selection in progress / selected target
    uint8_t m_scratch = 0;      // the complement, or the type's low byte
    size_t m_expected = 0;      // bytes of the block or frame still to come
    std::vector<uint8_t> m_buffer;
};

}  // namespace devupdate::devsim
