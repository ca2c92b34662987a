#pragma once
// Scripted misbehaviour of the simulated device. A rule names a phase of the
// exchange and which of its answered units it hits: the nth one (counted
// from 1 over the device's whole life, resends included) and the `times`
// units after it (0: every unit from the nth on).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace devupdate::devsim {

// The unit the device answers. Every complete unit that the device takes in
// counts once in its phase; JTAG frames also count in AnyFrame. Frames with
// a bad CRC or a malformed layout are answered 0x22 without counting.
enum class EPhase : uint8_t {
    Wakeup,    // one 0xA4 after power-on
    Start,     // 0xA3 (answer: the extra 0x11s and 0x88)
    Select,    // target number and complement
    Type,      // the two type bytes FF 00 of an XSVF target
    Block,     // one firmware block (count and payload)
    Pins,      // JTAG pin frame
    Shift,     // JTAG shift frame
    ReadTdo,   // JTAG read-TDO frame (answer: 0x11 and the read-back frame)
    Delay,     // JTAG delay frame (answer: the busy bytes and 0x11)
    Finish,    // JTAG finish frame
    AnyFrame,  // any JTAG frame, counted across all frame kinds
};

enum class EFaultAction : uint8_t {
    Reject,   // the unit is not carried out; answer 0x22 (as for a bad CRC)
    Replace,  // carried out; the answer is `bytes` instead (e.g. 0x99: a mismatch)
    Silent,   // carried out; no answer at all
    Garbage,  // carried out; `count` bytes that are no protocol answer instead
    Busy,     // carried out; `count` busy bytes 0x33 before the usual answer
    Late,     // carried out; the usual answer `count` milliseconds later
    Corrupt,  // carried out; the last byte of the usual answer inverted
              // (for ReadTdo: a read-back frame with a wrong CRC)
    Drop,     // not carried out, no answer: as if the bytes were lost
    Vanish,   // the master side closes at once, as if the adapter were unplugged
};

struct SFaultRule {
    EPhase phase = EPhase::Wakeup;
    unsigned nth = 1;
    unsigned times = 1;
    EFaultAction action = EFaultAction::Silent;
    std::vector<uint8_t> bytes;  // Replace
    unsigned count = 0;          // Garbage, Busy: bytes; Late: milliseconds
};

// Parses "PHASE:NTH[:TIMES]:ACTION[=ARG]", e.g. "shift:3:replace=99",
// "block:2:3:reject", "frame:10:0:silent", "delay:1:busy=40",
// "readtdo:1:corrupt", "pins:2:late=500", "block:5:vanish".
// Phases: wakeup start select type block pins shift readtdo delay finish frame.
// Replace takes hex bytes ("99" or "11,22"); garbage, busy and late a decimal
// number. Returns nothing for a malformed text.
std::optional<SFaultRule> ParseFaultRule(const std::string& text);

const char* PhaseName(EPhase phase);

}  // namespace devupdate::devsim
