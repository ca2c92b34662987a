// What runs leave behind, in the quick suite: back-to-back runs with
// different endings, and a port someone else holds.

#include "ComPort.h"
#include "RunHygiene.h"
#include "UpdateRunFixture.h"
#include "XsvfWriter.h"

#include <unistd.h>

using namespace devupdate;
using namespace devupdate::link;
using namespace devupdate::xsvf;
using namespace devupdate::update;
using namespace devupdate::devsim;
using namespace devupdate::svf;
using namespace devupdate::mkupd;
using namespace devupdate::xsvfgen;

namespace {

using namespace std::chrono_literals;

class ResourceHygieneTest : public UpdateRunFixture {
protected:
    void SetUp() override
    {
        ASSERT_NE(getcwd(m_previousDir, sizeof m_previousDir), nullptr);
        ASSERT_EQ(chdir(m_folder.Path().c_str()), 0);
        StartDevice();  // its thread also starts any sanitizer helper thread
        m_descriptors = OpenDescriptorCount();
        m_threads = ThreadCount();
    }
    void TearDown() override { EXPECT_EQ(chdir(m_previousDir), 0); }

    // After every run: nothing more open, no thread more, the port free.
    void ExpectReleased()
    {
        EXPECT_EQ(OpenDescriptorCount(), m_descriptors);
        EXPECT_EQ(SettledThreadCount(m_threads), m_threads);
        CComPort again;
        EXPECT_TRUE(again.Open(m_device->SlavePath(), 57600, 150)) << again.LastError();
    }

    char m_previousDir[4096] = {};
    size_t m_descriptors = 0;
    size_t m_threads = 0;
};

TEST_F(ResourceHygieneTest, RunsWithEveryKindOfEndingReleaseTheirResourcesAndNeverWriteTheFile)
{
    CXsvfWriter unsupported;
    unsupported.Raw({0x05});  // a reserved command: the player stops with 4
    const std::string path = WriteUpdateFile(
        {mkupd::FileVersion::V1_01, {Firmware(1, mkupd::MakeFirmwareBlocks({1, 2, 3, 4}, 2, false)),
                                   Xsvf(2, unsupported.Stream())}});
    const SFileSnapshot before = SFileSnapshot::Of(path);

    RunUpdate(path);  // the XSVF target fails
    EXPECT_EQ(m_run.Message(), "Unsupported XSVF command");
    ExpectReleased();

    // Rules count units over the device's life: this run's second block is
    // answered late, and the cancel comes while the worker waits for it.
    const unsigned blocksBefore = m_device->Count(EPhase::Block);
    m_device->SetFaults({{EPhase::Block, blocksBefore + 2, 1, EFaultAction::Late, {}, 1000}});
    m_device->PowerCycle();
    bool cancelled = false;
    RunUpdate(path, 5s, [&] {
        if (!cancelled && m_device->Count(EPhase::Block) >= blocksBefore + 2) {
            cancelled = true;
            m_run.ConfirmCancel();
        }
    });
    EXPECT_EQ(m_endState, RunEnded);
    ExpectReleased();

    // The next block on.
    m_device->SetFaults({{EPhase::Block, m_device->Count(EPhase::Block) + 1, 4, EFaultAction::Reject, {}, 0}});
    m_device->PowerCycle();
    RunUpdate(path);
    EXPECT_EQ(m_run.Message(), "CRC error. File possibly damaged.");
    ExpectReleased();

    EXPECT_TRUE(SFileSnapshot::Of(path) == before);
}

TEST_F(ResourceHygieneTest, APortHeldElsewhereLeavesNothingOpen)
{
    CComPort holder;
    ASSERT_TRUE(holder.Open(m_device->SlavePath(), 57600, 150));
    const size_t withHolder = OpenDescriptorCount();
    m_run.SetFileName(WriteUpdateFile({mkupd::FileVersion::V1_01, {Firmware(1, {0x00, 0x01, 0x42})}}));

    EXPECT_FALSE(m_run.PrepareRun({m_device->SlavePath(), "held"}));
    EXPECT_EQ(m_run.FinishRun().ending, ERunEnding::NotStarted);
    EXPECT_EQ(OpenDescriptorCount(), withHolder);
    holder.Close();
    ExpectReleased();
}

}  // namespace
