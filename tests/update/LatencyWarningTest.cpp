// The latency timer warning: when it is given, what it says, and the round
// trips of a file it is based on.

#include "LatencyWarning.h"
#include "UpdateFileFixture.h"
#include "UpdateFileWriter.h"
#include "../xsvf/XsvfBuilder.h"

#include <gtest/gtest.h>

using namespace devupdate;
using namespace devupdate::link;
using namespace devupdate::update;
using namespace devupdate::mkupd;

namespace {

TEST(LatencyWarningTest, OnlyForATimerAboveOneMillisecond)
{
    const std::string fix = "Fix: echo 1 | sudo tee /sys/bus/usb-serial/devices/ttyUSB0/latency_timer (or a udev "
                            "rule, see the README).";
    const struct {
        std::optional<unsigned> timer;
        std::optional<uint64_t> trips;
        std::string warning;
    } cases[] = {
        {16, 3000, "Warning: the latency timer of /dev/ttyUSB0 is 16 ms: this file makes at least 3000 round trips, "
                   "up to 48.0 s longer. " + fix},
        {16, std::nullopt, "Warning: the latency timer of /dev/ttyUSB0 is 16 ms: every answer may wait up to 16 ms. " + fix},
        {2, 50, "Warning: the latency timer of /dev/ttyUSB0 is 2 ms: this file makes at least 50 round trips, up to "
                "0.1 s longer. " + fix},
        {1, 3000, ""},
        {std::nullopt, 3000, ""},  // no timer: not such an adapter
    };
    for (const auto& c : cases) {
        SPortInfo port;
        port.name = "ttyUSB0";
        port.device = "/dev/ttyUSB0";
        port.latencyTimerMs = c.timer;
        EXPECT_EQ(LatencyWarning(port, c.trips), c.warning);
    }
}

TEST(LatencyWarningTest, CountsSelectionsBlocksAndFrameSendingXsvfCommands)
{
    CTempFolder folder;
    mkupd::SUpdateTarget firmware;
    firmware.number = 1;
    firmware.name = "Controller";
    firmware.packed = true;
    firmware.data = mkupd::MakeFirmwareBlocks(std::vector<uint8_t>(2500, 0x5A), 998, false);  // 3 blocks
    mkupd::SUpdateTarget logic;
    logic.number = 2;
    logic.name = "Logic";
    logic.type = mkupd::TYPE_XSVF;
    // XSIR, XSDR and XSTATE send frames; XSDRSIZE, XRUNTEST, a comment (long
    // enough to reach the listing in pieces) and XCOMPLETE do not.
    logic.data = CXsvfBuilder()
                     .SdrSize(8)
                     .Sir(8, {0x01})
                     .Comment(std::string(5000, 'c'))
                     .RunTest(0)
                     .Sdr({0x00})
                     .State(1)
                     .Complete()
                     .Stream();
    const std::string path = folder.Write("two.upd", mkupd::WriteUpdateFile({mkupd::FileVersion::V1_01, {firmware, logic}}));
    // start and end, selection + 3 blocks, selection + type + 3 frames
    EXPECT_EQ(CountRoundTrips(path), std::optional<uint64_t>(2 + 4 + 5));
    EXPECT_EQ(CountRoundTrips(folder.Path() + "/missing.upd"), std::nullopt);
}

}  // namespace
