#pragma once
// Carries out the payloads of JTAG frames on the TAP controller and the
// model part. The frame's length field and CRC are checked by the caller.
//
// Shift frames: bit 0 of the last byte is shifted first and TDO is captured
// into the same positions; with flag 0x04 TMS is high with the last bit.
// Sections (run-length coded: a header below 0x80 is a count 1..64 of
// literal bytes, 0x80|R with R 4..64 repeats the next byte R times) must
// decode to exactly (bits + 7) / 8 bytes; omitted sections are taken from
// the last ones received (the first n bytes of 64-byte stores, zero after
// ClearSections). The compare takes only the shifted bits into account.
// Read-TDO returns the TDO of the last shift frame, right-aligned: the last
// n bytes when it was longer, leading zero bytes when it was shorter.

#include "ModelPart.h"
#include "SvfTarget.h"
#include "TapController.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace devupdate::devsim {

// The device's own reading of the frame protocol, kept apart from the
// tool's on purpose: it checks the tool instead of echoing it.

constexpr uint8_t FRAME_PINS = 0x42;
constexpr uint8_t FRAME_SHIFT = 0x53;
constexpr uint8_t FRAME_READ_TDO = 0x52;
constexpr uint8_t FRAME_DELAY = 0x54;
constexpr uint8_t FRAME_FINISH = 0x46;
constexpr int MAX_CHUNK_BITS = 512;
constexpr size_t SECTION_BYTES = 64;

struct SJtagResult {
    bool accepted = false;      // false: malformed payload; answer 0x22, nothing done
    std::vector<uint8_t> answer;  // for a delay: only the final 0x11
    uint32_t delayMicroseconds = 0;
    bool finished = false;      // the finish frame: the device leaves the JTAG exchange
};

class CJtagEngine {
public:
    CJtagEngine() : m_tap(m_part) {}

    // Forgets the sections received so far (a new XSVF target begins).
    void ClearSections();
    // Carries out one payload (command byte first).
    SJtagResult Execute(const uint8_t* payload, size_t n);

    // The read-back frame for the given captured bytes (buffer order).
    static std::vector<uint8_t> ReadBackFrame(const std::vector<uint8_t>& tdo);
    // Decodes run-length coded sections from data[pos...] into n bytes;
    // false when malformed. pos moves past the section.
    static bool DecodeSection(const uint8_t* data, size_t size, size_t& pos, size_t n,
                              uint8_t* out);

    // SVF expectation mode: from now on the TAP controller talks to a target
    // that answers and checks these scans instead of the model part.
    void ExpectSvf(std::vector<svf::SSvfScan> scans);
    // The SVF target; null unless ExpectSvf was called.
    const CSvfTarget* Svf() const { return m_svf.get(); }

    CModelPart& Part() { return m_part; }
    const CModelPart& Part() const { return m_part; }
    CTapController& Tap() { return m_tap; }
    const CTapController& Tap() const { return m_tap; }
    const std::vector<uint8_t>& LastTdo() const { return m_lastTdo; }

private:
    SJtagResult Pins(const uint8_t* payload, size_t n);
    SJtagResult Shift(const uint8_t* payload, size_t n);
    SJtagResult ReadTdo(const uint8_t* payload, size_t n);
    // Clocks `bits` bits through the controller; returns the captured TDO.
    std::vector<uint8_t> ShiftBits(const uint8_t* tdi, int bits, bool exitShift);

    CModelPart m_part;
    std::unique_ptr<CSvfTarget> m_svf;
    CTapController m_tap;
    std::array<std::array<uint8_t, devsim::SECTION_BYTES>, 3> m_sections{};  // TDI, expected, mask
    std::vector<uint8_t> m_lastTdo;
};

}  // namespace devupdate::devsim
