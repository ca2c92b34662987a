// The XSVF player through the real JTAG transport over the fake line: every
// frame the tool writes must be well formed, whatever the stream and the
// device do.

#include "ComPort.h"
#include "Crc16.h"
#include "FakeSerialLine.h"
#include "FuzzCheck.h"
#include "FuzzHarnesses.h"
#include "FuzzWorkDir.h"
#include "JtagLink.h"
#include "JtagTransport.h"
#include "XsvfHost.h"
#include "XsvfPlayer.h"

#include <atomic>
#include <cstdio>
#include <vector>

using namespace devupdate::link;
using namespace devupdate::xsvf;

namespace {

class CStreamHost final : public CXsvfHost {
public:
    CStreamHost(const uint8_t* stream, size_t size) : m_stream(stream), m_size(size) {}

    bool ReadDataByte(uint8_t& out) override
    {
        if (m_position >= m_size)
            return false;
        out = m_stream[m_position++];
        return true;
    }
    void UpdateProgress() override {}
    bool IsCancelRequested() const override { return cancel; }
    CComPort& ComPort() override { return port; }
    void ShowMessageBox(const std::string&) override {}

    CComPort port;
    std::atomic<bool> cancel{false};

private:
    const uint8_t* m_stream;
    size_t m_size;
    size_t m_position = 0;
};

// One run-length encoded section of a shift frame; false when it does not
// decode to exactly n bytes.
bool SkipSection(const std::vector<uint8_t>& payload, size_t& at, size_t n)
{
    size_t decoded = 0;
    while (decoded < n) {
        if (at >= payload.size())
            return false;
        const uint8_t header = payload[at++];
        if (header < 0x80) {
            if (header < 1 || header > 64)
                return false;
            decoded += header;
            at += header;
        } else {
            const unsigned repeat = header & 0x7Fu;
            if (repeat < 4 || repeat > 64)
                return false;
            decoded += repeat;
            at += 1;
        }
    }
    return decoded == n && at <= payload.size();
}

void CheckShiftPayload(const std::vector<uint8_t>& payload)
{
    FUZZ_CHECK(payload.size() >= 4);
    const uint8_t flags = payload[1];
    const unsigned bits = unsigned{payload[2]} << 8 | payload[3];
    FUZZ_CHECK((flags & 0xC0) == 0);
    FUZZ_CHECK((flags & SHIFT_MASKED) == 0 || (flags & SHIFT_COMPARE) != 0);
    FUZZ_CHECK(bits >= 1 && bits <= MAX_CHUNK_BITS);
    size_t at = 4;
    for (const uint8_t section : {SHIFT_HAS_TDI, SHIFT_HAS_EXPECTED, SHIFT_HAS_MASK}) {
        if (flags & section)
            FUZZ_CHECK(SkipSection(payload, at, (bits + 7) / 8));
    }
    FUZZ_CHECK(at == payload.size());
}

void CheckPayload(const std::vector<uint8_t>& payload)
{
    FUZZ_CHECK(!payload.empty());
    switch (payload[0]) {
    case CMD_PINS:
        FUZZ_CHECK(payload.size() >= 2 && payload.size() <= 4);
        for (size_t i = 1; i < payload.size(); ++i)
            FUZZ_CHECK((payload[i] & 0xEE) == 0);
        break;
    case CMD_SHIFT:
        CheckShiftPayload(payload);
        break;
    case CMD_READ_TDO: {
        FUZZ_CHECK(payload.size() == 3);
        const unsigned bits = unsigned{payload[1]} << 8 | payload[2];
        FUZZ_CHECK(bits >= 1 && bits <= MAX_CHUNK_BITS);
        break;
    }
    case CMD_DELAY:
        FUZZ_CHECK(payload.size() == 5);
        break;
    case CMD_FINISH:
        FUZZ_CHECK(payload.size() == 1);
        break;
    default:
        FUZZ_CHECK(!"unknown frame command");
    }
}

// Each write is one frame: length, payload, CRC. The only unframed byte is
// the end byte after a cancel met a busy device, and nothing follows it.
void CheckWrites(const std::vector<std::vector<uint8_t>>& writes, bool cancelled)
{
    for (size_t w = 0; w < writes.size(); ++w) {
        const std::vector<uint8_t>& frame = writes[w];
        if (frame.size() == 1 && frame[0] == CMD_END_BYTE) {
            FUZZ_CHECK(cancelled);
            FUZZ_CHECK(w + 1 == writes.size());
            continue;
        }
        FUZZ_CHECK(frame.size() >= 5);
        const size_t declared = size_t{frame[0]} << 8 | frame[1];
        FUZZ_CHECK(declared == frame.size() - 2);
        const std::vector<uint8_t> payload(frame.begin() + 2, frame.end() - 2);
        const uint16_t crc = Crc16(payload.data(), payload.size());
        FUZZ_CHECK(frame[frame.size() - 2] == (crc >> 8) && frame.back() == (crc & 0xFF));
        CheckPayload(payload);
    }
}

}  // namespace

int FuzzXsvfPlayer(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    size_t streamLength = size_t{data[0]} << 8 | data[1];
    if (streamLength > size - 2)
        streamLength = size - 2;
    const uint8_t* stream = data + 2;
    const uint8_t* script = stream + streamLength;
    const size_t scriptLength = size - 2 - streamLength;

    CScopedWorkDir folder;
    CFakeSerialLine line(script, scriptLength);
    CScopedSysCalls seam(line);
    CStreamHost host(stream, streamLength);
    line.OnCancel = [&host] { host.cancel = true; };
    FUZZ_CHECK(host.port.Open("/dev/fuzz-line", 57600, 150));

    CHostJtagLink link(host);
    CJtagTransport transport;
    const int result = PlayXsvf(host, transport, link, FuzzWorkDir());
    FUZZ_CHECK(result >= XSVF_SUCCESS && result <= XSVF_ERROR_READTDO);
    FUZZ_CHECK(result != XSVF_ERROR_DEBUGFILE);
    if (result == XSVF_CANCELLED)
        FUZZ_CHECK(host.cancel);
    CheckWrites(line.Writes(), host.cancel);

    host.port.Close();
    FUZZ_CHECK(!line.IsOpen());
    return 0;
}
