// What the station window's tiles and totals say, from a port's events and
// the passes' ends.

#include "FileCheck.h"
#include "RunOutcome.h"
#include "ShiftFigures.h"
#include "TileState.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

using namespace devupdate;
using namespace devupdate::update;
using namespace devupdate::station;

using namespace std::chrono_literals;
using station::CStationPort;

namespace {

void Feed(CStationPort& port, const std::vector<std::string>& lines)
{
    for (const std::string& line : lines)
        port.Apply(nlohmann::json::parse(line));
}

const std::vector<std::string> HEADER = {
    R"({"event":"message","text":"Connect device, switch device off then on"})",
    R"({"event":"progress","target":1,"name":"Logic","percent":0,"status":""})",
    R"({"event":"progress","target":2,"name":"Main","percent":0,"status":""})",
};

TEST(TileStateTest, EachStageOfAPortSaysWhatTheOperatorNeeds)
{
    const std::vector<double> estimates = {1.0, 3.0};
    CStationPort port("Com1", "Com1 -> /dev/ttyUSB0", "xsvf_debug-Com1.txt");
    EXPECT_EQ(DescribeTile(port, {}, estimates).big, "Ready");

    port.BeginPass();
    Feed(port, HEADER);
    STileText text = DescribeTile(port, {}, estimates);
    EXPECT_EQ(text.state, ETileState::Waiting);
    EXPECT_EQ(text.detail, "Connect device, switch device off then on");

    Feed(port, {R"({"event":"answered"})", R"({"event":"progress","target":1,"name":"Logic","percent":100,"status":""})",
                R"({"event":"progress","target":2,"name":"Main","percent":50,"status":""})"});
    text = DescribeTile(port, {}, estimates);
    EXPECT_EQ(text.big, "Updating 2 of 2");
    EXPECT_EQ(text.percent, 62);  // 1 s of 1 and 1.5 s of 3 done
    EXPECT_EQ(text.detail, "2 s left");

    Feed(port, {R"({"event":"end","exit_status":1,"message":"1 of 2 targets updated successfully."})"});
    const int status = port.EndPass(1, false);
    const SLastPass failed{true, true, status, port.Message()};
    text = DescribeTile(port, failed, estimates);
    EXPECT_EQ(text.state, ETileState::Failed);
    EXPECT_EQ(text.detail, "1 of 2 targets updated successfully.");

    // The failed device stays on the tile until the next one answers.
    port.BeginPass();
    Feed(port, HEADER);
    text = DescribeTile(port, failed, estimates);
    EXPECT_EQ(text.big, "Failed");
    EXPECT_EQ(text.detail, "Next device: switch it on");

    // Stopped while it waited: the last device is still named.
    Feed(port, {R"({"event":"end","exit_status":3,"message":"Update cancelled."})"});
    (void)port.EndPass(EXIT_CANCELLED, true);
    port.Close();
    text = DescribeTile(port, failed, estimates);
    EXPECT_EQ(text.big, "Stopped");
    EXPECT_EQ(text.detail, "Last device: Failed - 1 of 2 targets updated successfully.");
}

TEST(TileStateTest, APortErrorShowsTheReasonLine)
{
    CStationPort port("Com2", "Com2", "xsvf_debug-Com2.txt");
    port.BeginPass();
    Feed(port, {R"({"event":"end","exit_status":2,"message":"Error: Com2 in use or does not exist.\n/dev/ttyS1: no such device.\n"})"});
    (void)port.EndPass(2, false);
    port.Close();
    const STileText text = DescribeTile(port, {}, {});
    EXPECT_EQ(text.state, ETileState::PortError);
    EXPECT_EQ(text.detail, "/dev/ttyS1: no such device.");
}

TEST(ShiftFiguresTest, TotalsYieldRateAndTenMinuteBuckets)
{
    const CShiftFigures::Clock::time_point start{};
    CShiftFigures figures(start);
    EXPECT_LT(figures.YieldPercent(), 0);
    figures.Add(start + 1min, true);
    figures.Add(start + 9min, true);
    figures.Add(start + 10min, false);
    figures.Add(start + 25min, true);
    EXPECT_EQ(figures.Passes(), 3u);
    EXPECT_EQ(figures.Failures(), 1u);
    EXPECT_DOUBLE_EQ(figures.YieldPercent(), 75.0);
    EXPECT_DOUBLE_EQ(figures.DevicesPerHour(start + 30min), 8.0);
    EXPECT_DOUBLE_EQ(figures.DevicesPerHour(start + 30s), 0.0);
    const std::vector<CShiftFigures::SBucket> buckets = figures.Buckets(start + 41min);
    ASSERT_EQ(buckets.size(), 5u);
    const unsigned expected[][2] = {{2, 0}, {0, 1}, {1, 0}, {0, 0}, {0, 0}};
    for (size_t i = 0; i < buckets.size(); ++i) {
        EXPECT_EQ(buckets[i].passes, expected[i][0]) << i;
        EXPECT_EQ(buckets[i].failures, expected[i][1]) << i;
    }
}

TEST(FileCheckTest, EstimatesAreReadFromTheCheckInTargetOrder)
{
    EXPECT_EQ(EstimatesOf("Version: V1.01\n1: Controller, stored 3040 bytes, estimated 0.7 s at 57600 baud\n"
                          "2: Logic, stored 2166 bytes, estimated 15 s at 57600 baud\n"),
              (std::vector<double>{0.7, 15.0}));
    EXPECT_TRUE(EstimatesOf("Error: the file is empty.").empty());
}

}  // namespace
