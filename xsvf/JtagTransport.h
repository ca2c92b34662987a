#pragma once
// The tool's side of the JTAG frame exchange: the device drives the JTAG pins
// of the part being programmed and answers every frame with one byte.
//
// Frame: N (2 bytes, big-endian, = payload length + 2), payload (command and
// parameters), CRC-16 of the payload (Crc16.h, big-endian).
//
// Failures leave as CComErrException: 10 a frame could not be written, 11 no
// answer within the port's read time-out (or an incomplete read-back),
// 12 six sendings of one frame answered "bad CRC", 13 a malformed read-back,
// and 7 when the user cancelled while the device was busy (the device has then
// been told to stop with 0xA2 and answers nothing more).
//
// The object remembers what it last sent in shift frames (the last TDI,
// expected and mask sections and the last bit count) and leaves out sections
// the device still holds. BeginRun forgets that memory: the device is switched
// off and on and selects a new target before every XSVF run, so it cannot be
// trusted to keep sections across runs.
//
// Single thread: each run owns one, and only its worker uses it.

#include "SectionEncoder.h"
#include "XsvfInfo.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace devupdate::xsvf {

class CJtagLink;

// The frame protocol's codes as the tool sends and reads them; the simulated
// device keeps its own in devupdate::devsim, so that it checks these.

// Frame commands.
constexpr uint8_t CMD_PINS = 0x42;
constexpr uint8_t CMD_SHIFT = 0x53;
constexpr uint8_t CMD_READ_TDO = 0x52;
constexpr uint8_t CMD_DELAY = 0x54;
constexpr uint8_t CMD_FINISH = 0x46;
constexpr uint8_t CMD_END_BYTE = 0xA2;  // the update protocol's end byte

// Answers.
constexpr uint8_t JTAG_ACK = 0x11;
constexpr uint8_t JTAG_RETRY = 0x22;
constexpr uint8_t JTAG_WAIT = 0x33;
constexpr uint8_t JTAG_FINISHED = 0x44;
constexpr uint8_t JTAG_MISMATCH = 0x99;

// Pins of a pin byte (low 4 bits pin, high 4 bits level).
constexpr uint8_t PIN_TMS = 0;
constexpr uint8_t PIN_TCK = 1;

// Shift-frame flags.
constexpr uint8_t SHIFT_COMPARE = 0x01;
constexpr uint8_t SHIFT_MASKED = 0x02;
constexpr uint8_t SHIFT_EXIT = 0x04;
constexpr uint8_t SHIFT_HAS_TDI = 0x08;
constexpr uint8_t SHIFT_HAS_EXPECTED = 0x10;
constexpr uint8_t SHIFT_HAS_MASK = 0x20;

constexpr int MAX_CHUNK_BITS = 512;
constexpr int FRAME_RESENDS = 5;  // a frame goes out at most 6 times

// Around the payload: the length before it, the CRC after it.
constexpr size_t FRAME_LENGTH_BYTES = 2;
constexpr size_t FRAME_CHECK_BYTES = 2;

// What a frame the transport wrote asks of the device, for a link that
// counts what it carries: the command and, for a delay frame, the wait.
struct SFrameRequest {
    uint8_t command = 0;
    uint32_t waitMicroseconds = 0;
};
// Nothing when the bytes are no whole frame.
std::optional<SFrameRequest> ReadFrameRequest(const uint8_t* frame, size_t n);

class CJtagTransport {
public:
    // Attaches the run's link, empties the pending pin frame and forgets the
    // sections and bit count sent before.
    void BeginRun(CJtagLink& link);
    // Detaches the link; later frames fail with 10 until the next BeginRun.
    void EndRun();

    // Sends one frame, resending on "bad CRC", reading past busy bytes.
    // Returns the answer byte (anything but 0x33 and 0x22). Throws
    // CComErrException 7, 10, 11 or 12 (see above).
    uint8_t SendFrame(const uint8_t* payload, size_t length);

    // Queues the pin byte pin | level * 16; with sendNow sends the queued pin
    // frame and empties it (also when the sending throws). False when a sent
    // frame was answered with anything but 0x11. Throws as SendFrame.
    bool SetPin(uint8_t pin, uint8_t level, bool sendNow);
    // One TCK cycle with TMS at level: the pin frame 42, level*16, 01, 11.
    void ClockTms(uint8_t level);

    // Shifts bitCount bits (0..MAX_SHIFT_BITS) of tdi in chunks of at most
    // 512 bits, last buffer bytes first. With captured present, the device
    // compares TDO against expected (if present) under mask (if present); the
    // captured buffer gets tdi's length, the expected bytes of a matching
    // chunk and the read-back TDO of a mismatching one. exitShift raises TMS
    // with the very last bit. True when every chunk was answered 0x11; a 0x99
    // chunk is a mismatch but the rest is still sent; any other answer
    // returns false at once. Throws as SendFrame and ReadTdoBitsequenz.
    bool ShiftData(long bitCount, const ShiftBuffer& tdi, const ShiftBuffer* expected,
                   const ShiftBuffer* mask, ShiftBuffer* captured, bool exitShift);

    // One shift frame of 1..512 bits; chunks point at (bits + 7) / 8 bytes
    // (expected and mask may be null). Returns the answer byte.
    uint8_t WriteTdiBitsequenz(int bits, const uint8_t* tdiChunk,
                               const uint8_t* expectedChunk, const uint8_t* maskChunk,
                               bool exitNow);

    // Asks for the TDO of the last shift frame and stores (bits + 7) / 8
    // bytes at capturedChunk. False (nothing read) when the request was not
    // acknowledged. Throws 11 on an incomplete read-back, 13 on a wrong
    // length, echo byte or CRC (the bytes are stored before the CRC check).
    bool ReadTdoBitsequenz(int bits, uint8_t* capturedChunk);

    // The device waits; busy bytes cover waits longer than the time-out.
    // True when answered 0x11.
    bool RemoteWait(uint32_t microseconds);
    // The end-of-run frame; true when answered 0x44.
    bool FinishXsvf();

private:
    static constexpr size_t PIN_FRAME_SIZE = 100;
    static constexpr size_t SECTION_SLOTS = 3;  // TDI, expected, mask

    void AppendSection(int slot, int bits, const uint8_t* chunk, size_t n,
                       uint8_t flag, uint8_t& flags);

    CJtagLink* m_link = nullptr;
    std::array<uint8_t, PIN_FRAME_SIZE> m_pinFrame{xsvf::CMD_PINS};
    size_t m_pinCount = 1;
    std::array<std::array<uint8_t, MAX_SECTION_BYTES>, SECTION_SLOTS> m_slots{};
    int m_lastBits = 0;
    std::vector<uint8_t> m_payload;  // the shift frame being built
    std::vector<uint8_t> m_frame;    // the frame on the wire
};

}  // namespace devupdate::xsvf
