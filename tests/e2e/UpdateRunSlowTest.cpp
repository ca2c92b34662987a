// Timing-heavy end-to-end cases: read time-outs of 300 ms add up here.

#include "UpdateRunFixture.h"

using namespace devupdate;
using namespace devupdate::link;
using namespace devupdate::xsvf;
using namespace devupdate::update;
using namespace devupdate::devsim;
using namespace devupdate::svf;
using namespace devupdate::mkupd;

namespace {

using namespace std::chrono_literals;

const std::vector<uint8_t> kOneBlock = MakeBytes({0x00, 0x06, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06});

using UpdateRunSlowTest = UpdateRunFixture;

TEST_F(UpdateRunSlowTest, SilentDeviceAfterStartIsGivenUpAfterTwentyTimeouts)
{
    StartDevice();
    m_device->SetFaults({{EPhase::Start, 1, 1, EFaultAction::Silent, {}, 0}});
    RunUpdate(WriteUpdateFile({mkupd::FileVersion::V1_01, {Firmware(1, kOneBlock)}}), 30s);
    EXPECT_EQ(m_endState, RunEndedWithMessage);
    EXPECT_EQ(m_run.Message(), "Failed: Target is not responding");
    EXPECT_EQ(m_run.State().TargetRowText(0), "0% unsuccessful");
    // 20 reads of at most 300 ms each.
    EXPECT_GT(m_elapsed, 5s);
    EXPECT_LT(m_elapsed, 12s);
}

TEST_F(UpdateRunSlowTest, CancelWhileTheDeviceIsSilentAfterABlockTakesAtMostOneReadTimeout)
{
    StartDevice();
    m_device->SetFaults({{EPhase::Block, 1, 1, EFaultAction::Silent, {}, 0}});
    std::chrono::steady_clock::time_point cancelledAt{};
    RunUpdate(WriteUpdateFile({mkupd::FileVersion::V1_01, {Firmware(1, kOneBlock)}}), 30s, [&] {
        if (cancelledAt == std::chrono::steady_clock::time_point{} && m_device->Count(EPhase::Block) >= 1) {
            std::this_thread::sleep_for(500ms);
            m_run.ConfirmCancel();
            cancelledAt = std::chrono::steady_clock::now();
        }
    });
    EXPECT_EQ(m_endState, RunEnded);
    EXPECT_EQ(m_run.Message(), "Update cancelled by user");
    EXPECT_LT(std::chrono::steady_clock::now() - cancelledAt, 1s);
}

}  // namespace
