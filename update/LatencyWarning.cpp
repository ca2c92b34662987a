#include "LatencyWarning.h"

#include "FirmwareBlockCounter.h"
#include "StringTable.h"
#include "UpdateFileReader.h"
#include "UpdateRunState.h"
#include "XsvfListing.h"

#include <algorithm>
#include <set>
#include <string_view>

using namespace devupdate::link;
using namespace devupdate::xsvf;
using namespace devupdate::res;

namespace devupdate::update {

namespace {

// XSVF commands that send the device a frame; the others only set the
// player's state.
bool SendsFrame(const std::string& command)
{
    static const std::set<std::string> SENDING = {"XSIR", "XSIR2", "XSDR", "XSDRTDO", "XSDRB", "XSDRC",
                                                  "XSDRE", "XSDRTDOB", "XSDRTDOC", "XSDRTDOE", "XSDRINC",
                                                  "XSTATE", "XWAIT", "XWAITSTATE"};
    return SENDING.count(command) != 0;
}

// Reads the listing's text as it streams by and judges each line
// ("N: NAME args") by its command name; only a line's head is kept, so a
// long comment costs nothing.
class CXsvfFrameCounter {
public:
    void Feed(std::string_view text)
    {
        for (char c : text) {
            if (c == '\n') {
                Judge();
                m_head.clear();
                m_judged = false;
            } else if (!m_judged) {
                m_head += c;
                if (m_head.size() >= HEAD_CHARS)
                    Judge();
            }
        }
    }
    uint64_t Frames() const { return m_frames; }

private:
    // A line number and the longest command name fit well within this.
    static constexpr size_t HEAD_CHARS = 40;

    void Judge()
    {
        if (m_judged)
            return;
        m_judged = true;
        const size_t colon = m_head.find(": ");
        if (colon == std::string::npos || m_head.compare(0, 3, "-- ") == 0)
            return;
        const size_t end = m_head.find(' ', colon + 2);
        m_frames += SendsFrame(m_head.substr(colon + 2, end == std::string::npos ? end : end - colon - 2)) ? 1 : 0;
    }

    std::string m_head;
    bool m_judged = false;
    uint64_t m_frames = 0;
};

}  // namespace

std::optional<uint64_t> CountRoundTrips(const std::string& fileName)
{
    CUpdateRunState run;
    run.m_fileName = fileName;
    if (!run.CheckUpdateFileHeader().ok)
        return std::nullopt;
    uint64_t trips = 2;  // the start and the end
    for (;;) {
        SRecordHeader header;
        if (!ReadRecordNumber(run.m_updateFile, header.number)) {
            run.CloseUpdateFile();
            return std::nullopt;
        }
        if (header.number == 0)
            break;
        if (!run.LoadRecordHeader(header)) {
            run.CloseUpdateFile();
            return std::nullopt;
        }
        const unsigned type = header.type;
        ++trips;  // the selection
        uint8_t byte = 0;
        if (type == TARGET_FIRMWARE) {
            CFirmwareBlockCounter blocks;
            while (run.ReadDataByte(byte))
                blocks.Add(byte);
            trips += static_cast<uint64_t>(std::max(blocks.Blocks(), 0));
        } else if (type == TARGET_XSVF) {
            // The listing is the one reader of the command layout.
            CXsvfFrameCounter frames;
            ListXsvf([&run](uint8_t& next) { return run.ReadDataByte(next); },
                     [&frames](std::string_view text) { frames.Feed(text); });
            while (run.ReadDataByte(byte)) {  // what a listing that stopped early left
            }
            trips += 1 + frames.Frames();
        } else if (!run.SkipTargetRest()) {
            break;
        }
    }
    run.CloseUpdateFile();
    return trips;
}

std::string LatencyWarning(const SPortInfo& port, std::optional<uint64_t> roundTrips)
{
    if (!port.latencyTimerMs || *port.latencyTimerMs <= 1)
        return {};
    const unsigned timer = *port.latencyTimerMs;
    std::string cost = "every answer may wait up to " + std::to_string(timer) + " ms";
    if (roundTrips)
        cost = res::Format("this file makes at least %llu round trips, up to %.1f s longer",
                           static_cast<unsigned long long>(*roundTrips), double(*roundTrips) * timer / 1000.0);
    return "Warning: the latency timer of " + port.device + " is " + std::to_string(timer) + " ms: " + cost +
           ". Fix: " + LatencyTimerFix(port) + " (or a udev rule, see the README).";
}

std::string LatencyWarning(const std::string& portName, const std::string& fileName)
{
    const SPortPlaces places = SPortPlaces::ForThisProcess();
    const std::optional<SPortInfo> port = FindSerialPort(ResolvePortName(portName, places), places);
    if (!port || LatencyWarning(*port, std::nullopt).empty())
        return {};
    return LatencyWarning(*port, CountRoundTrips(fileName));
}

}  // namespace devupdate::update
