// The estimate of a target's time on the line against the bytes a real run
// of the same target puts on the line (the simulated device's own count):
// the selection, the data or frames, and the device's answers.

#include "LineEstimate.h"
#include "ModelPart.h"
#include "ModelPartProgram.h"
#include "UpdateRunFixture.h"

using namespace devupdate;
using namespace devupdate::link;
using namespace devupdate::xsvf;
using namespace devupdate::update;
using namespace devupdate::devsim;
using namespace devupdate::svf;
using namespace devupdate::mkupd;
using namespace devupdate::xsvfgen;

namespace {

struct SEstimateCase {
    const char* name;
    mkupd::SUpdateTarget (*target)();
};

mkupd::SUpdateTarget FirmwareTarget()
{
    mkupd::SUpdateTarget target;
    target.name = "Board";
    target.data = mkupd::MakeFirmwareBlocks(std::vector<uint8_t>(5000, 0x3C), 998, false);
    return target;
}

// The model part's program: IDCODE, erase, program and verify its flash.
mkupd::SUpdateTarget ModelPartTarget()
{
    mkupd::SUpdateTarget target;
    target.name = "Logic";
    target.type = mkupd::TYPE_XSVF;
    target.data = MakeModelPartProgram(Bytes(2 * MODEL_FLASH_WORDS, 0x5A));
    return target;
}

const SEstimateCase kCases[] = {{"Firmware", FirmwareTarget}, {"ModelPartXsvf", ModelPartTarget}};

class LineEstimateTest : public UpdateRunInFolderFixture, public ::testing::WithParamInterface<SEstimateCase> {};

// Line bytes from the device's 0x88 (ready) to the tool's end byte, both
// ways, but the busy bytes the device sends while it waits (the wait counts).
size_t TargetLineBytes(const std::vector<STrafficByte>& traffic)
{
    size_t count = 0;
    bool counting = false;
    for (const STrafficByte& byte : traffic) {
        if (!byte.fromTool && byte.byte == ANS_READY && !counting) {
            counting = true;
            continue;
        }
        if (counting && byte.fromTool && byte.byte == CMD_END)
            counting = false;
        count += counting && !(!byte.fromTool && byte.byte == ANS_WAIT) ? 1 : 0;
    }
    return count;
}

TEST_P(LineEstimateTest, MatchesTheBytesARealRunPutsOnTheLine)
{
    const mkupd::SUpdateTarget target = GetParam().target();
    SDevsimConfig config;
    config.realDelays = true;  // the waits take their time and are counted
    StartDevice(config);
    RunUpdate(WriteUpdateFile({mkupd::FileVersion::V1_01, {target}}));
    ASSERT_EQ(m_outcome.ending, ERunEnding::AllUpdated) << m_outcome.message;

    const std::optional<SLineEstimate> estimate = EstimateTarget(target.type, target.data);
    ASSERT_TRUE(estimate.has_value());
    EXPECT_EQ(estimate->lineBytes, TargetLineBytes(m_device->Traffic()));
    EXPECT_NEAR(estimate->waitSeconds, std::chrono::duration<double>(m_device->BusyTime()).count(), 1e-6);
    if (target.type == mkupd::TYPE_XSVF) {
        EXPECT_GE(estimate->waitSeconds, 0.2) << "the erase waits 200 ms";
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, LineEstimateTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
