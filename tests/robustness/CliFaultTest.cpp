// update-cli under a representative set of the fault table's cells: its exit
// status, its last line, the port and the update file afterwards.

#include "ChildProcess.h"
#include "ComPort.h"
#include "Devsim.h"
#include "FaultScenario.h"
#include "RunHygiene.h"
#include "UpdateFileFixture.h"

#include <gtest/gtest.h>

#include <csignal>
#include <thread>
#include <unistd.h>

using namespace devupdate;
using namespace devupdate::link;
using namespace devupdate::update;
using namespace devupdate::devsim;
using namespace devupdate::svf;
using namespace devupdate::mkupd;

namespace {

using namespace std::chrono_literals;

struct SCliCell {
    const char* name;
    EStage stage;
    std::vector<SFaultRule> (*rules)(EStage);
    bool cancel;  // SIGTERM once the device has the cell's unit
    int exitStatus;
    const char* lastLine;
    std::chrono::milliseconds limit;  // to the child's end
};

std::vector<SFaultRule> NoFault(EStage) { return {}; }
std::vector<SFaultRule> Silence(EStage s) { return FaultRulesFor(s, EFault::Silence); }
std::vector<SFaultRule> CrcBeyond(EStage s) { return FaultRulesFor(s, EFault::CrcBeyondLimit); }
std::vector<SFaultRule> Vanish(EStage s) { return FaultRulesFor(s, EFault::Vanish); }
std::vector<SFaultRule> Late(EStage s) { return FaultRulesFor(s, EFault::Cancel); }

// An unplugged adapter ends the run at once, not after twenty read time-outs.
const SCliCell kCliCells[] = {
    {"AllUpdated", EStage::FirstBlock, NoFault, false, 0, "1 of 1 targets updated successfully.", 3s},
    {"SilentDevice", EStage::Wakeup, Silence, false, 4, "No answer from the device within 1 second.", 4s},
    {"CancelBeforeTheDeviceAnswered", EStage::Wakeup, Silence, true, 3, "Connect device, switch device off then on", 3s},
    {"SelectionCrcErrors", EStage::Selection, CrcBeyond, false, 1, "CRC error. File possibly damaged.", 3s},
    {"UnpluggedDuringABlock", EStage::MiddleBlock, Vanish, false, 1, "Failed: Target is not responding", 3s},
    {"CancelDuringABlock", EStage::FirstBlock, Late, true, 3, "Update cancelled by user", 3s},
    {"CancelTooLateToMatter", EStage::LastBlock, Late, true, 0, "1 of 1 targets updated successfully.", 3s},
    {"UnpluggedDuringAShift", EStage::ShiftFrame, Vanish, false, 1, "Failed: Target is not responding", 3s},
    {"ReadBackCrcErrors", EStage::ReadBack, CrcBeyond, false, 1, "multiple crc error", 3s},
};

class CliFaultTest : public ::testing::TestWithParam<SCliCell> {
protected:
    void SetUp() override
    {
        // The child inherits the folder: its XSVF trace lands there.
        ASSERT_NE(getcwd(m_previousDir, sizeof m_previousDir), nullptr);
        ASSERT_EQ(chdir(m_folder.Path().c_str()), 0);
    }
    void TearDown() override { EXPECT_EQ(chdir(m_previousDir), 0); }

    CTempFolder m_folder;
    char m_previousDir[4096] = {};
};

TEST_P(CliFaultTest, ExitStatusAndLastLineMatchTheOutcome)
{
    const SCliCell& cell = GetParam();
    SDevsimConfig config;
    config.faults = cell.rules(cell.stage);
    CDevsim device(config);
    device.Start();
    const std::string path = m_folder.Write("cli.upd", mkupd::WriteUpdateFile(UpdateFileFor(cell.stage)));
    const SFileSnapshot fileBefore = SFileSnapshot::Of(path);

    const auto start = std::chrono::steady_clock::now();
    CChildProcess child("update-cli", {"--port", device.SlavePath(), "--wakeup-timeout", "1", "--quiet", path});
    if (cell.cancel) {
        // The device's own count says when it has the unit; the cancel then
        // meets the device at work (its answer comes late).
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (device.Count(TriggerPhase(cell.stage)) < TriggerCount(cell.stage) &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(1ms);
        child.Signal(SIGTERM);
    }
    const int status = child.Wait(20000);
    EXPECT_LT(std::chrono::steady_clock::now() - start, cell.limit);
    EXPECT_EQ(status, cell.exitStatus) << child.Stdout() << child.Stderr();
    EXPECT_EQ(LastLine(child.Stdout()), cell.lastLine);
    EXPECT_TRUE(SFileSnapshot::Of(path) == fileBefore) << "the update file was written";
    if (!device.IsVanished()) {
        CComPort again;
        EXPECT_TRUE(again.Open(device.SlavePath(), 57600, 150)) << "the port stayed locked";
    }
}

INSTANTIATE_TEST_SUITE_P(Cells, CliFaultTest, ::testing::ValuesIn(kCliCells),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
