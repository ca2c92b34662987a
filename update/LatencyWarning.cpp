#include "LatencyWarning.h"

#include "StringTable.h"
#include "UpdateFileReader.h"
#include "UpdateRunState.h"
#include "XsvfListing.h"

#include <set>
#include <sstream>
#include <vector>

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

uint64_t XsvfFrames(const std::vector<uint8_t>& stream)
{
    // One command a line, "N: NAME args": the listing is the one reader of
    // the command layout.
    std::istringstream listing(ListXsvf(stream));
    uint64_t frames = 0;
    std::string line;
    while (std::getline(listing, line)) {
        const size_t colon = line.find(": ");
        if (colon == std::string::npos || line.compare(0, 3, "-- ") == 0)
            continue;
        const size_t end = line.find(' ', colon + 2);
        frames += SendsFrame(line.substr(colon + 2, end == std::string::npos ? end : end - colon - 2)) ? 1 : 0;
    }
    return frames;
}

uint64_t FirmwareBlocks(const std::vector<uint8_t>& data)
{
    uint64_t blocks = 0;
    for (size_t offset = 0; offset + 2 <= data.size(); ++blocks)
        offset += 2 + ((size_t{data[offset]} << 8) | data[offset + 1]);
    return blocks;
}

}  // namespace

std::optional<uint64_t> CountRoundTrips(const std::string& fileName)
{
    CUpdateRunState run;
    run.m_fileName = fileName;
    if (!run.CheckUpdateFileHeader().ok)
        return std::nullopt;
    uint64_t trips = 2;  // the start and the end
    for (;;) {
        unsigned number = 0;
        if (!ReadHexField(run.m_updateFile, 2, number)) {
            run.CloseUpdateFile();
            return std::nullopt;
        }
        if (number == 0)
            break;
        unsigned flags = 0;
        unsigned type = TARGET_FIRMWARE;
        unsigned length = 0;
        if ((run.m_fileVersion == 1 &&
             (!ReadHexField(run.m_updateFile, 4, flags) || !ReadHexField(run.m_updateFile, 4, type))) ||
            !ReadHexField(run.m_updateFile, 8, length)) {
            run.CloseUpdateFile();
            return std::nullopt;
        }
        run.BeginRecordData(flags, type, length);
        ++trips;  // the selection
        std::vector<uint8_t> data;
        uint8_t byte = 0;
        const bool known = type == TARGET_FIRMWARE || type == TARGET_XSVF;
        while (known && run.ReadDataByte(byte))
            data.push_back(byte);
        if (type == TARGET_FIRMWARE)
            trips += FirmwareBlocks(data);
        else if (type == TARGET_XSVF)
            trips += 1 + XsvfFrames(data);
        else if (!run.SkipTargetRest())
            break;
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
