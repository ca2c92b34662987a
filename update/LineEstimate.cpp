#include "LineEstimate.h"

#include "ComPort.h"
#include "JtagLink.h"
#include "JtagTransport.h"
#include "UpdateFileBody.h"
#include "XsvfHost.h"
#include "XsvfPlayer.h"

#include <deque>
#include <string>

using namespace devupdate::link;
using namespace devupdate::xsvf;

namespace devupdate::update {

namespace {

// Bytes around a target's data: CMD_SELECT, number, complement.
constexpr uint64_t SELECT_BYTES = 3;
constexpr uint64_t XSVF_TYPE_BYTES = 2;

// The stream as the player reads it; nobody cancels, comments go nowhere.
class CStreamHost final : public CXsvfHost {
public:
    explicit CStreamHost(const std::function<bool(uint8_t&)>& next) : m_next(next) {}
    bool ReadDataByte(uint8_t& out) override { return m_next(out); }
    void UpdateProgress() override {}
    bool IsCancelRequested() const override { return false; }
    CComPort& ComPort() override { return m_port; }
    void ShowMessageBox(const std::string&) override {}
    void OnXsvfComment(const SXsvfCommentPiece&) override {}

private:
    const std::function<bool(uint8_t&)>& m_next;
    CComPort m_port;  // never opened: the link below carries the frames
};

// A device that takes every frame and answers it at once: 0x11, or 0x44 to
// the finish frame. Counts the bytes both ways and the waits asked for.
class CCountingLink final : public CJtagLink {
public:
    bool Write(const uint8_t* data, size_t n) override
    {
        m_sent += n;
        // The transport writes a frame whole.
        if (const std::optional<xsvf::SFrameRequest> request = xsvf::ReadFrameRequest(data, n)) {
            m_waitMicroseconds += request->waitMicroseconds;
            m_answers.push_back(request->command == xsvf::CMD_FINISH ? xsvf::JTAG_FINISHED : xsvf::JTAG_ACK);
        }
        return true;
    }
    bool Read(uint8_t* data, size_t n) override
    {
        for (size_t i = 0; i < n; ++i) {
            if (m_answers.empty())
                return false;
            data[i] = m_answers.front();
            m_answers.pop_front();
            ++m_received;
        }
        return true;
    }
    bool IsCancelRequested() const override { return false; }

    uint64_t LineBytes() const { return m_sent + m_received; }
    uint64_t RoundTrips() const { return m_received; }
    double WaitSeconds() const { return static_cast<double>(m_waitMicroseconds) / 1e6; }

private:
    std::deque<uint8_t> m_answers;
    uint64_t m_sent = 0;
    uint64_t m_received = 0;
    uint64_t m_waitMicroseconds = 0;
};

}  // namespace

double LineSeconds(uint64_t bytes)
{
    return static_cast<double>(bytes) * ESTIMATE_BITS_PER_BYTE / ESTIMATE_BAUD;
}

double SLineEstimate::Seconds() const
{
    return LineSeconds(lineBytes) + static_cast<double>(roundTrips) * ROUND_TRIP_SECONDS + waitSeconds;
}

std::optional<SLineEstimate> EstimateFirmware(const std::vector<uint8_t>& blocks)
{
    const int count = CountFirmwareBlocks(blocks);
    if (count < 0)
        return std::nullopt;
    return EstimateFirmware(blocks.size(), static_cast<uint64_t>(count));
}

SLineEstimate EstimateFirmware(uint64_t dataBytes, uint64_t blocks)
{
    SLineEstimate estimate;
    estimate.roundTrips = 1 + blocks;
    estimate.lineBytes = SELECT_BYTES + dataBytes + estimate.roundTrips;
    return estimate;
}

std::optional<SLineEstimate> EstimateXsvf(const std::vector<uint8_t>& stream)
{
    size_t at = 0;
    const std::function<bool(uint8_t&)> next = [&](uint8_t& byte) {
        if (at >= stream.size())
            return false;
        byte = stream[at++];
        return true;
    };
    return EstimateXsvf(next);
}

std::optional<SLineEstimate> EstimateXsvf(const std::function<bool(uint8_t&)>& next)
{
    CStreamHost host(next);
    CCountingLink link;
    CJtagTransport transport;
    if (PlayXsvfUntraced(host, transport, link) != XSVF_SUCCESS)
        return std::nullopt;
    SLineEstimate estimate;
    estimate.roundTrips = 2 + link.RoundTrips();
    estimate.lineBytes = SELECT_BYTES + XSVF_TYPE_BYTES + 2 + link.LineBytes();
    estimate.waitSeconds = link.WaitSeconds();
    return estimate;
}

std::optional<SLineEstimate> EstimateTarget(unsigned type, const std::vector<uint8_t>& data)
{
    if (type == TARGET_FIRMWARE)
        return EstimateFirmware(data);
    if (type == TARGET_XSVF)
        return EstimateXsvf(data);
    return std::nullopt;
}

}  // namespace devupdate::update
