#include "JtagTransport.h"

#include "ComErrException.h"
#include "Crc16.h"
#include "JtagLink.h"
#include "XsvfPlayer.h"

#include <algorithm>
#include <cstring>

using namespace devupdate::link;

namespace devupdate::xsvf {

namespace {

void PutBigEndian16(std::vector<uint8_t>& out, unsigned value)
{
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

// The delay frame's payload: the command, then the wait (4 bytes, big-endian).
constexpr size_t DELAY_PAYLOAD_BYTES = 5;

std::array<uint8_t, DELAY_PAYLOAD_BYTES> DelayPayload(uint32_t microseconds)
{
    return {CMD_DELAY, static_cast<uint8_t>(microseconds >> 24), static_cast<uint8_t>(microseconds >> 16),
            static_cast<uint8_t>(microseconds >> 8), static_cast<uint8_t>(microseconds)};
}

}  // namespace

std::optional<SFrameRequest> ReadFrameRequest(const uint8_t* frame, size_t n)
{
    if (n < FRAME_LENGTH_BYTES + 1 + FRAME_CHECK_BYTES || ((size_t{frame[0]} << 8) | frame[1]) != n - FRAME_LENGTH_BYTES)
        return std::nullopt;
    const uint8_t* payload = frame + FRAME_LENGTH_BYTES;
    SFrameRequest request{payload[0], 0};
    if (request.command == CMD_DELAY && n == FRAME_LENGTH_BYTES + DELAY_PAYLOAD_BYTES + FRAME_CHECK_BYTES) {
        for (size_t i = 1; i < DELAY_PAYLOAD_BYTES; ++i)
            request.waitMicroseconds = (request.waitMicroseconds << 8) | payload[i];
    }
    return request;
}

void CJtagTransport::BeginRun(CJtagLink& link)
{
    m_link = &link;
    m_pinCount = 1;
    for (auto& slot : m_slots)
        slot.fill(0);
    m_lastBits = 0;
}

void CJtagTransport::EndRun()
{
    m_link = nullptr;
    m_pinCount = 1;
}

uint8_t CJtagTransport::SendFrame(const uint8_t* payload, size_t length)
{
    m_frame.clear();
    PutBigEndian16(m_frame, static_cast<unsigned>(length + FRAME_CHECK_BYTES));
    m_frame.insert(m_frame.end(), payload, payload + length);
    PutBigEndian16(m_frame, Crc16(payload, length));

    int resends = FRAME_RESENDS;
    for (;;) {
        if (m_link == nullptr || !m_link->Write(m_frame.data(), m_frame.size()))
            throw CComErrException(XSVF_ERROR_WRITE);
        uint8_t answer = 0;
        for (;;) {
            if (!m_link->Read(&answer, 1))
                throw CComErrException(XSVF_ERROR_NOANSWER);
            if (answer != JTAG_WAIT)
                break;
            if (m_link->IsCancelRequested()) {
                // The device leaves the JTAG exchange on 0xA2 and answers no
                // further frame: end the run here instead of running into
                // time-outs that would read as a dead target.
                const uint8_t end = CMD_END_BYTE;
                (void)m_link->Write(&end, 1);
                throw CComErrException(XSVF_CANCELLED);
            }
        }
        if (answer != JTAG_RETRY)
            return answer;
        if (resends == 0)
            throw CComErrException(XSVF_ERROR_MULTIPLECRC);
        --resends;
    }
}

bool CJtagTransport::SetPin(uint8_t pin, uint8_t level, bool sendNow)
{
    if (m_pinCount < m_pinFrame.size())
        m_pinFrame[m_pinCount++] = static_cast<uint8_t>(pin | (level << 4));
    if (!sendNow)
        return true;
    const size_t count = m_pinCount;
    m_pinCount = 1;  // empty before sending: a failing send leaves it empty too
    return SendFrame(m_pinFrame.data(), count) == JTAG_ACK;
}

void CJtagTransport::ClockTms(uint8_t level)
{
    SetPin(PIN_TMS, level, false);
    SetPin(PIN_TCK, 0, false);
    SetPin(PIN_TCK, 1, true);
}

bool CJtagTransport::ShiftData(long bitCount, const ShiftBuffer& tdi,
                               const ShiftBuffer* expected, const ShiftBuffer* mask,
                               ShiftBuffer* captured, bool exitShift)
{
    if (bitCount < 0 || bitCount > MAX_SHIFT_BITS)
        return false;  // callers check lengths first; never leave the stores
    if (captured != nullptr) {
        captured->length = tdi.length;
    } else {
        expected = nullptr;
        mask = nullptr;
    }
    // Every buffer is cut at the same byte positions as TDI, from its end.
    int end = BytesForBits(bitCount);
    long remaining = bitCount;
    bool mismatch = false;
    while (remaining > 0) {
        const int bits = static_cast<int>(std::min<long>(remaining, MAX_CHUNK_BITS));
        const int n = BytesForBits(bits);
        end -= n;
        remaining -= bits;
        const uint8_t* expectedChunk = expected ? expected->bytes + end : nullptr;
        const uint8_t* maskChunk = mask ? mask->bytes + end : nullptr;
        const uint8_t answer = WriteTdiBitsequenz(bits, tdi.bytes + end, expectedChunk,
                                                  maskChunk, exitShift && remaining == 0);
        if (answer == JTAG_ACK) {
            if (captured != nullptr && expectedChunk != nullptr)
                std::memcpy(captured->bytes + end, expectedChunk, static_cast<size_t>(n));
        } else if (answer == JTAG_MISMATCH) {
            if (captured != nullptr)
                ReadTdoBitsequenz(bits, captured->bytes + end);
            mismatch = true;
        } else {
            return false;
        }
    }
    return !mismatch;
}

void CJtagTransport::AppendSection(int slot, int bits, const uint8_t* chunk, size_t n,
                                   uint8_t flag, uint8_t& flags)
{
    if (chunk == nullptr || n == 0)
        return;
    auto& held = m_slots[static_cast<size_t>(slot)];
    if (bits == m_lastBits && std::memcmp(held.data(), chunk, n) == 0)
        return;  // the device still holds these bytes
    flags |= flag;
    std::memcpy(held.data(), chunk, n);
    EncodeSection(chunk, n, m_payload);
}

uint8_t CJtagTransport::WriteTdiBitsequenz(int bits, const uint8_t* tdiChunk,
                                           const uint8_t* expectedChunk,
                                           const uint8_t* maskChunk, bool exitNow)
{
    bits = std::clamp(bits, 0, MAX_CHUNK_BITS);
    const size_t n = static_cast<size_t>(BytesForBits(bits));
    uint8_t flags = 0;
    if (expectedChunk != nullptr) {
        flags |= SHIFT_COMPARE;
        if (maskChunk != nullptr)
            flags |= SHIFT_MASKED;
    }
    if (exitNow)
        flags |= SHIFT_EXIT;

    m_payload.clear();
    m_payload.push_back(CMD_SHIFT);
    m_payload.push_back(0);  // flags, completed below
    PutBigEndian16(m_payload, static_cast<unsigned>(bits));
    AppendSection(0, bits, tdiChunk, n, SHIFT_HAS_TDI, flags);
    AppendSection(1, bits, expectedChunk, n, SHIFT_HAS_EXPECTED, flags);
    AppendSection(2, bits, maskChunk, n, SHIFT_HAS_MASK, flags);
    m_lastBits = bits;
    m_payload[1] = flags;
    return SendFrame(m_payload.data(), m_payload.size());
}

bool CJtagTransport::ReadTdoBitsequenz(int bits, uint8_t* capturedChunk)
{
    bits = std::clamp(bits, 0, MAX_CHUNK_BITS);
    const uint8_t request[3] = {CMD_READ_TDO, static_cast<uint8_t>(bits >> 8),
                                static_cast<uint8_t>(bits)};
    if (SendFrame(request, sizeof request) != JTAG_ACK)
        return false;

    const size_t n = static_cast<size_t>(BytesForBits(bits));
    std::array<uint8_t, 2 * MAX_SECTION_BYTES + 5> reply{};
    const size_t replyLength = 2 * n + 5;
    if (!m_link->Read(reply.data(), replyLength))
        throw CComErrException(XSVF_ERROR_NOANSWER);
    const size_t declared = static_cast<size_t>(reply[0]) << 8 | reply[1];
    if (declared != 2 * n + 3 || reply[2] != CMD_READ_TDO)
        throw CComErrException(XSVF_ERROR_READTDO);
    for (size_t i = 0; i < n; ++i)
        capturedChunk[i] = static_cast<uint8_t>(reply[3 + 2 * i] * 16 + reply[4 + 2 * i]);
    // Over echo byte, nibbles and the CRC itself the register ends at 0.
    if (Crc16Register(reply.data() + 2, replyLength - 2) != 0)
        throw CComErrException(XSVF_ERROR_READTDO);
    return true;
}

bool CJtagTransport::RemoteWait(uint32_t microseconds)
{
    const std::array<uint8_t, DELAY_PAYLOAD_BYTES> payload = DelayPayload(microseconds);
    return SendFrame(payload.data(), payload.size()) == JTAG_ACK;
}

bool CJtagTransport::FinishXsvf()
{
    const uint8_t payload[1] = {CMD_FINISH};
    return SendFrame(payload, sizeof payload) == JTAG_FINISHED;
}

}  // namespace devupdate::xsvf
