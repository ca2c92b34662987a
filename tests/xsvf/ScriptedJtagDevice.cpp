#include "ScriptedJtagDevice.h"

#include "JtagFrame.h"
#include "Crc16.h"
#include "JtagTransport.h"
#include "TempDir.h"
#include "VectorXsvfHost.h"
#include "XsvfPlayer.h"

#include <poll.h>
#include <unistd.h>

using namespace devupdate::link;
using namespace devupdate::xsvf;

Bytes MakeFrame(const Bytes& payload)
{
    return MakeJtagFrame(payload);
}

Bytes MakeReadBackFrame(const Bytes& tdo)
{
    Bytes body{CMD_READ_TDO};
    for (const uint8_t byte : tdo) {
        body.push_back(byte >> 4);
        body.push_back(byte & 0x0F);
    }
    return MakeFrame(body);  // length 2n + 3: the echo byte, nibbles and CRC
}

Bytes DefaultAnswer(const Bytes& payload)
{
    if (payload.empty())
        return {JTAG_RETRY};
    if (payload[0] == CMD_FINISH)
        return {JTAG_FINISHED};
    if (payload[0] == CMD_READ_TDO && payload.size() == 3) {
        const int bits = payload[1] << 8 | payload[2];
        Bytes answer{JTAG_ACK};
        const Bytes readBack = MakeReadBackFrame(Bytes(static_cast<size_t>((bits + 7) / 8), 0));
        answer.insert(answer.end(), readBack.begin(), readBack.end());
        return answer;
    }
    return {JTAG_ACK};
}

namespace {

Bytes PayloadOf(const Bytes& frame)
{
    if (frame.size() < 4)
        return {};
    const size_t n = static_cast<size_t>(frame[0] << 8 | frame[1]);
    if (n + 2 != frame.size())
        return {};
    Bytes payload(frame.begin() + 2, frame.end() - 2);
    const uint16_t crc = Crc16(payload.data(), payload.size());
    if (frame[frame.size() - 2] != (crc >> 8) || frame.back() != (crc & 0xFF))
        return {};
    return payload;
}

}  // namespace

Bytes CJtagFrameScript::OnWrite(const Bytes& written)
{
    size_t index;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_writes.push_back(written);
        if (written.size() == 1 && written[0] == CMD_END_BYTE)
            return {};  // the device leaves the exchange: no answer
        index = m_frames++;
    }
    const Bytes payload = PayloadOf(written);
    return answer ? answer(payload, index) : DefaultAnswer(payload);
}

std::vector<Bytes> CJtagFrameScript::Writes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_writes;
}

std::vector<Bytes> CJtagFrameScript::Payloads() const
{
    std::vector<Bytes> payloads;
    for (const Bytes& write : Writes()) {
        if (!(write.size() == 1 && write[0] == CMD_END_BYTE))
            payloads.push_back(PayloadOf(write));
    }
    return payloads;
}

Bytes CJtagFrameScript::Wire() const
{
    Bytes wire;
    for (const Bytes& write : Writes())
        wire.insert(wire.end(), write.begin(), write.end());
    return wire;
}

bool CScriptedJtagDevice::Write(const uint8_t* data, size_t n)
{
    if (failWrites)
        return false;
    const Bytes answer = OnWrite(Bytes(data, data + n));
    m_pending.insert(m_pending.end(), answer.begin(), answer.end());
    return true;
}

bool CScriptedJtagDevice::Read(uint8_t* data, size_t n)
{
    if (m_pending.size() < n) {
        m_pending.clear();  // what came is consumed; the read timed out
        return false;
    }
    for (size_t i = 0; i < n; ++i) {
        data[i] = m_pending.front();
        m_pending.pop_front();
    }
    return true;
}

CPtyJtagDevice::CPtyJtagDevice(CPtyPair& pty, CJtagFrameScript& script)
    : m_pty(pty), m_script(script), m_thread([this] { Serve(); })
{
}

CPtyJtagDevice::~CPtyJtagDevice()
{
    m_stop = true;
    m_thread.join();
}

bool CPtyJtagDevice::ReadExactly(Bytes& out, size_t n)
{
    // Short polls so that the destructor's stop request is seen; what the
    // tool wrote before the stop is still taken in, so no frame is lost.
    while (out.size() < n) {
        const Bytes got = m_pty.ReadMaster(n - out.size(), 20);
        if (got.empty() && m_stop)
            return false;
        out.insert(out.end(), got.begin(), got.end());
    }
    return true;
}

void CPtyJtagDevice::Serve()
{
    for (;;) {
        Bytes written;
        if (!ReadExactly(written, 1))
            return;
        if (written[0] != CMD_END_BYTE) {
            if (!ReadExactly(written, 2))
                return;
            const size_t n = static_cast<size_t>(written[0] << 8 | written[1]);
            if (!ReadExactly(written, 2 + n))
                return;
        }
        const Bytes answer = m_script.OnWrite(written);
        if (!answer.empty() && !m_pty.WriteMaster(answer))
            return;
    }
}

SReplay ReplayXsvf(const Bytes& stream, std::function<Bytes(const Bytes&, size_t)> answer)
{
    CTempDir dir;
    CScriptedJtagDevice device;
    device.answer = std::move(answer);
    CJtagTransport transport;
    CVectorXsvfHost host(stream);
    const int result = PlayXsvf(host, transport, device, dir.Path());
    return {result, dir.Read("xsvf_debug.txt"), device.Wire()};
}
