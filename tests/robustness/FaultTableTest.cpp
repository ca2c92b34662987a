// Every phase of a run crossed with every fault: the worker against the
// simulated device, checked for the outcome the user sees, the time to the
// end, and what the run leaves behind (port, descriptors, threads, the
// update file, the XSVF trace).

#include "ComPort.h"
#include "FaultScenario.h"
#include "RunHygiene.h"
#include "UpdateRunFixture.h"
#include "XsvfPlayer.h"

#include <fstream>
#include <unistd.h>

using namespace devupdate::link;
using namespace devupdate::xsvf;
using namespace devupdate::update;
using namespace devupdate::devsim;
using namespace devupdate::svf;
using namespace devupdate::mkupd;

namespace {

using namespace std::chrono_literals;

// The front end gives up on a device that never answers after this long, as
// update-cli --wakeup-timeout does.
constexpr auto WAKEUP_TIMEOUT = 3s;

struct SCell {
    EStage stage;
    EFault fault;
    int endState;
    ERunEnding ending;
    std::string message;
    std::string row;  // "%d%% %s" of the one target
    std::chrono::seconds limit;
};

const std::string kAllUpdated = "1 of 1 targets updated successfully.";
const std::string kNoneUpdated = "0 of 1 targets updated successfully.";
const std::string kNotResponding = "Failed: Target is not responding";
const std::string kWrongAnswer = "Wrong answer. Update cancelled.";
const std::string kCrcError = "CRC error. File possibly damaged.";
const std::string kCancelled = "Update cancelled by user";
const std::string kSwitchOn = "Connect device, switch device off then on";
const std::string kNoAnswer = XsvfErrorText(XSVF_ERROR_NOANSWER);
const std::string kMultipleCrc = XsvfErrorText(XSVF_ERROR_MULTIPLECRC);
const std::string kReadTdo = XsvfErrorText(XSVF_ERROR_READTDO);
const std::string kTdoMismatch = XsvfErrorText(XSVF_ERROR_TDOMISMATCH);

constexpr int Quiet = RunEnded;
constexpr int Box = RunEndedWithMessage;

constexpr ERunEnding All = ERunEnding::AllUpdated;
constexpr ERunEnding Some = ERunEnding::SomeNotUpdated;
constexpr ERunEnding Fail = ERunEnding::Failed;
constexpr ERunEnding Silent = ERunEnding::NotResponding;
constexpr ERunEnding Cancel = ERunEnding::Cancelled;
constexpr ERunEnding NoWakeup = ERunEnding::WakeupTimeout;

// update-cli's exit status of each ending.
int ExpectedExitStatus(ERunEnding ending)
{
    switch (ending) {
    case All: return 0;
    case Cancel: return 3;
    case NoWakeup: return 4;
    default: return 1;
    }
}

// The one record's result: a run that ends before the selection never
// reached it; any other ending but success leaves it cancelled or failed.
ERecordResult ExpectedRecordResult(EStage stage, ERunEnding ending)
{
    if (ending == All)
        return ERecordResult::Updated;
    if (stage == EStage::Wakeup || stage == EStage::Start)
        return ERecordResult::NotReached;
    return ending == Cancel ? ERecordResult::Cancelled : ERecordResult::Failed;
}

// Twenty read time-outs in a row take 20 x 300 ms; the wake-up time-out 3 s.
constexpr auto kShort = 5s;
constexpr auto kTimeouts = 10s;

using S = EStage;
using F = EFault;

const SCell kCells[] = {
    // Wake-up: the series of five 0x11 starts over after anything else.
    {S::Wakeup, F::Silence, Quiet, NoWakeup, "No answer from the device within 3 seconds.", "0% ", kShort},
    {S::Wakeup, F::Garbage, Box, All, kAllUpdated, "100% ", kShort},
    {S::Wakeup, F::CrcWithinLimit, Box, All, kAllUpdated, "100% ", kShort},
    {S::Wakeup, F::CrcBeyondLimit, Box, All, kAllUpdated, "100% ", kShort},
    {S::Wakeup, F::BusyStorm, Box, All, kAllUpdated, "100% ", kShort},
    {S::Wakeup, F::Vanish, Box, Silent, kNotResponding, "0% unsuccessful", kShort},
    {S::Wakeup, F::Cancel, Quiet, Cancel, kSwitchOn, "0% ", kShort},
    {S::Wakeup, F::CancelWhileBusy, Quiet, Cancel, kSwitchOn, "0% ", kShort},
    // Start: 0xA3 is sent once; everything before 0x88 is read past.
    {S::Start, F::Silence, Box, Silent, kNotResponding, "0% unsuccessful", kTimeouts},
    {S::Start, F::Garbage, Box, Fail, kWrongAnswer, "0% ", kShort},
    {S::Start, F::CrcWithinLimit, Box, Silent, kNotResponding, "0% unsuccessful", kTimeouts},
    {S::Start, F::CrcBeyondLimit, Box, Silent, kNotResponding, "0% unsuccessful", kTimeouts},
    {S::Start, F::BusyStorm, Box, All, kAllUpdated, "100% ", kShort},
    {S::Start, F::Vanish, Box, Silent, kNotResponding, "0% unsuccessful", kShort},
    {S::Start, F::Cancel, Quiet, Cancel, kCancelled, "0% cancelled", kShort},
    {S::Start, F::CancelWhileBusy, Quiet, Cancel, kCancelled, "0% cancelled", kShort},
    // Selection: any answer but 0x11, 0x22 and 0x44 fails the target.
    {S::Selection, F::Silence, Box, Some, kNoneUpdated, "0% unsuccessful", kShort},
    {S::Selection, F::Garbage, Box, Fail, kWrongAnswer, "0% ", kShort},
    {S::Selection, F::CrcWithinLimit, Box, All, kAllUpdated, "100% ", kShort},
    {S::Selection, F::CrcBeyondLimit, Box, Fail, kCrcError, "0% ", kShort},
    {S::Selection, F::BusyStorm, Box, Some, kNoneUpdated, "0% unsuccessful", kShort},
    {S::Selection, F::Vanish, Box, Silent, kNotResponding, "0% unsuccessful", kShort},
    {S::Selection, F::Cancel, Quiet, Cancel, kCancelled, "0% cancelled", kShort},
    // Firmware blocks: three of them; the percent follows the data read.
    {S::FirstBlock, F::Silence, Box, Silent, kNotResponding, "33% unsuccessful", kTimeouts},
    {S::FirstBlock, F::Garbage, Box, Fail, kWrongAnswer, "33% ", kShort},
    {S::FirstBlock, F::CrcWithinLimit, Box, All, kAllUpdated, "100% ", kShort},
    {S::FirstBlock, F::CrcBeyondLimit, Box, Fail, kCrcError, "33% ", kShort},
    {S::FirstBlock, F::BusyStorm, Box, All, kAllUpdated, "100% ", kShort},
    {S::FirstBlock, F::Vanish, Box, Silent, kNotResponding, "33% unsuccessful", kShort},
    {S::FirstBlock, F::Cancel, Quiet, Cancel, kCancelled, "33% cancelled", kShort},
    {S::FirstBlock, F::CancelWhileBusy, Quiet, Cancel, kCancelled, "33% cancelled", kShort},
    {S::MiddleBlock, F::Silence, Box, Silent, kNotResponding, "66% unsuccessful", kTimeouts},
    {S::MiddleBlock, F::Garbage, Box, Fail, kWrongAnswer, "66% ", kShort},
    {S::MiddleBlock, F::CrcWithinLimit, Box, All, kAllUpdated, "100% ", kShort},
    {S::MiddleBlock, F::CrcBeyondLimit, Box, Fail, kCrcError, "66% ", kShort},
    {S::MiddleBlock, F::BusyStorm, Box, All, kAllUpdated, "100% ", kShort},
    {S::MiddleBlock, F::Vanish, Box, Silent, kNotResponding, "66% unsuccessful", kShort},
    {S::MiddleBlock, F::Cancel, Quiet, Cancel, kCancelled, "66% cancelled", kShort},
    {S::MiddleBlock, F::CancelWhileBusy, Quiet, Cancel, kCancelled, "66% cancelled", kShort},
    {S::LastBlock, F::Silence, Box, Silent, kNotResponding, "100% unsuccessful", kTimeouts},
    {S::LastBlock, F::Garbage, Box, Fail, kWrongAnswer, "100% ", kShort},
    {S::LastBlock, F::CrcWithinLimit, Box, All, kAllUpdated, "100% ", kShort},
    {S::LastBlock, F::CrcBeyondLimit, Box, Fail, kCrcError, "100% ", kShort},
    {S::LastBlock, F::BusyStorm, Box, All, kAllUpdated, "100% ", kShort},
    {S::LastBlock, F::Vanish, Box, Silent, kNotResponding, "100% unsuccessful", kShort},
    // Confirmed after the device took the last block: the run completes, and
    // the cancel that came too late leaves no trace in the rows.
    {S::LastBlock, F::Cancel, Box, All, kAllUpdated, "100% ", kShort},
    {S::LastBlock, F::CancelWhileBusy, Quiet, Cancel, kCancelled, "100% cancelled", kShort},
    // XSVF frames: the first pin frame (TMS high), the first shift (XSIR),
    // the read-back after a mismatching shift, the first wait, the finish.
    // The percent is the share of the stream read when the run ended.
    {S::PinFrame, F::Silence, Box, Silent, kNoAnswer, "0% unsuccessful", kShort},
    {S::PinFrame, F::Garbage, Box, All, kAllUpdated, "100% ", kShort},
    {S::PinFrame, F::CrcWithinLimit, Box, All, kAllUpdated, "100% ", kShort},
    {S::PinFrame, F::CrcBeyondLimit, Box, Fail, kMultipleCrc, "0% unsuccessful", kShort},
    {S::PinFrame, F::BusyStorm, Box, All, kAllUpdated, "100% ", kShort},
    {S::PinFrame, F::Vanish, Box, Silent, kNoAnswer, "0% unsuccessful", kShort},
    {S::PinFrame, F::Cancel, Quiet, Cancel, kCancelled, "6% cancelled", kShort},
    {S::PinFrame, F::CancelWhileBusy, Quiet, Cancel, kCancelled, "0% cancelled", kShort},
    {S::ShiftFrame, F::Silence, Box, Silent, kNoAnswer, "23% unsuccessful", kShort},
    // Any answer but 0x11 to a shift counts as a mismatch; XSIR has no retry.
    {S::ShiftFrame, F::Garbage, Box, Fail, kTdoMismatch, "33% unsuccessful", kShort},
    {S::ShiftFrame, F::CrcWithinLimit, Box, All, kAllUpdated, "100% ", kShort},
    {S::ShiftFrame, F::CrcBeyondLimit, Box, Fail, kMultipleCrc, "23% unsuccessful", kShort},
    {S::ShiftFrame, F::BusyStorm, Box, All, kAllUpdated, "100% ", kShort},
    {S::ShiftFrame, F::Vanish, Box, Silent, kNoAnswer, "23% unsuccessful", kShort},
    {S::ShiftFrame, F::Cancel, Quiet, Cancel, kCancelled, "33% cancelled", kShort},
    {S::ShiftFrame, F::CancelWhileBusy, Quiet, Cancel, kCancelled, "23% cancelled", kShort},
    {S::ReadBack, F::Silence, Box, Silent, kNoAnswer, "66% unsuccessful", kShort},
    {S::ReadBack, F::Garbage, Box, All, kAllUpdated, "100% ", kShort},
    {S::ReadBack, F::CrcWithinLimit, Box, All, kAllUpdated, "100% ", kShort},
    {S::ReadBack, F::CrcBeyondLimit, Box, Fail, kMultipleCrc, "66% unsuccessful", kShort},
    {S::ReadBack, F::BusyStorm, Box, All, kAllUpdated, "100% ", kShort},
    {S::ReadBack, F::Vanish, Box, Silent, kNoAnswer, "66% unsuccessful", kShort},
    {S::ReadBack, F::Cancel, Quiet, Cancel, kCancelled, "96% cancelled", kShort},
    {S::ReadBack, F::CancelWhileBusy, Quiet, Cancel, kCancelled, "66% cancelled", kShort},
    {S::ReadBack, F::WrongReadBackCrc, Box, Fail, kReadTdo, "66% unsuccessful", kShort},
    {S::Wait, F::Silence, Box, Silent, kNoAnswer, "23% unsuccessful", kShort},
    {S::Wait, F::Garbage, Box, All, kAllUpdated, "100% ", kShort},
    {S::Wait, F::CrcWithinLimit, Box, All, kAllUpdated, "100% ", kShort},
    {S::Wait, F::CrcBeyondLimit, Box, Fail, kMultipleCrc, "23% unsuccessful", kShort},
    {S::Wait, F::BusyStorm, Box, All, kAllUpdated, "100% ", kShort},
    {S::Wait, F::Vanish, Box, Silent, kNoAnswer, "23% unsuccessful", kShort},
    {S::Wait, F::Cancel, Quiet, Cancel, kCancelled, "33% cancelled", kShort},
    {S::Wait, F::CancelWhileBusy, Quiet, Cancel, kCancelled, "23% cancelled", kShort},
    // The finish frame's answer does not change a decided outcome.
    {S::Finish, F::Silence, Box, All, kAllUpdated, "100% ", kShort},
    {S::Finish, F::Garbage, Box, All, kAllUpdated, "100% ", kShort},
    {S::Finish, F::CrcWithinLimit, Box, All, kAllUpdated, "100% ", kShort},
    {S::Finish, F::CrcBeyondLimit, Box, All, kAllUpdated, "100% ", kShort},
    {S::Finish, F::BusyStorm, Box, All, kAllUpdated, "100% ", kShort},
    {S::Finish, F::Vanish, Box, All, kAllUpdated, "100% ", kShort},
    {S::Finish, F::Cancel, Box, All, kAllUpdated, "100% ", kShort},
    {S::Finish, F::CancelWhileBusy, Box, All, kAllUpdated, "100% ", kShort},
};

void PrintTo(const SCell& cell, std::ostream* out)
{
    *out << StageName(cell.stage) << " x " << FaultName(cell.fault);
}

class FaultTableTest : public UpdateRunFixture, public ::testing::WithParamInterface<SCell> {
protected:
    void SetUp() override
    {
        ASSERT_NE(getcwd(m_previousDir, sizeof m_previousDir), nullptr);
        ASSERT_EQ(chdir(m_folder.Path().c_str()), 0);
        StartHelperThreadsBeforeCounting();
        m_threadsBefore = ThreadCount();
        m_descriptorsBefore = OpenDescriptorCount();
    }
    void TearDown() override
    {
        m_device.reset();
        EXPECT_EQ(SettledThreadCount(m_threadsBefore), m_threadsBefore) << "a thread outlived the run";
        EXPECT_EQ(OpenDescriptorCount(), m_descriptorsBefore) << "a descriptor outlived the run";
        EXPECT_EQ(chdir(m_previousDir), 0);
    }

    // The front end's part while the run goes on: the wake-up time-out, and
    // the user's cancel once the device has the cell's unit in hand.
    void FrontEnd(const SCell& cell, std::chrono::steady_clock::time_point start)
    {
        if (m_run.State().m_deviceAnswered == 0 && std::chrono::steady_clock::now() - start > WAKEUP_TIMEOUT) {
            m_run.GiveUpWaking(std::chrono::duration<double>(WAKEUP_TIMEOUT).count());
            return;
        }
        if (!IsCancel(cell.fault) || m_cancelled)
            return;
        if (m_device->Count(TriggerPhase(cell.stage)) < TriggerCount(cell.stage))
            return;
        m_cancelled = true;
        if (m_run.State().m_deviceAnswered == 0)
            m_run.RequestCancel();
        else
            m_run.ConfirmCancel();
    }

    // A front end's run: check, open, start, follow until the worker ends
    // (or the cell's limit passes: then cancel and fail), release.
    void RunCell(const SCell& cell, const std::string& path)
    {
        m_run.SetFileName(path);
        const std::string device = m_device->SlavePath();
        ASSERT_TRUE(m_run.PrepareRun({device, device}));
        ASSERT_TRUE(m_run.StartRun());
        const auto start = std::chrono::steady_clock::now();
        bool overdue = false;
        while (m_run.IsRunActive()) {
            if (!overdue && std::chrono::steady_clock::now() - start > cell.limit) {
                overdue = true;
                m_run.RequestCancel();
                ADD_FAILURE() << "the run did not end within " << cell.limit.count() << " s";
            }
            FrontEnd(cell, start);
            std::this_thread::sleep_for(2ms);  // the window's timer, in short
        }
        m_elapsed = std::chrono::steady_clock::now() - start;
        m_endState = m_run.State().m_runState;
        m_outcome = m_run.FinishRun();
    }

    // The trace of the XSVF run ends with its outcome and is closed.
    void ExpectTraceComplete()
    {
        const std::string trace = m_folder.Path() + "/xsvf_debug.txt";
        EXPECT_FALSE(IsOpenHere(trace));
        std::ifstream in(trace, std::ios::binary);
        ASSERT_TRUE(in.good()) << "no trace file";
        std::string line;
        std::string last;
        std::string beforeLast;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            beforeLast = last;
            last = line;
        }
        const bool success = last == "SUCCESS - Completed XSVF execution.";
        const bool error = last.rfind("ERROR at or near XSVF command #", 0) == 0 && !beforeLast.empty();
        EXPECT_TRUE(success || error) << "the trace ends with: " << last;
    }

    char m_previousDir[4096] = {};
    size_t m_threadsBefore = 0;
    size_t m_descriptorsBefore = 0;
    bool m_cancelled = false;
};

TEST_P(FaultTableTest, EndsAsTheFailureTablesSayAndReleasesEverything)
{
    const SCell& cell = GetParam();
    SDevsimConfig config;
    if (NeedsPacedLine(cell.fault))
        config.baud = 57600;
    config.faults = FaultRulesFor(cell.stage, cell.fault);
    StartDevice(config);
    const std::string path = WriteUpdateFile(UpdateFileFor(cell.stage));
    const SFileSnapshot fileBefore = SFileSnapshot::Of(path);
    // The device keeps a descriptor of the line's tool side open itself.
    const dev_t line = TerminalDevice(m_device->SlavePath());
    const size_t deviceOwn = DescriptorsOnTerminal(line);

    RunCell(cell, path);

    EXPECT_EQ(m_endState, cell.endState);
    EXPECT_EQ(m_run.Message(), cell.message);
    EXPECT_EQ(Row(0), cell.row);
    EXPECT_EQ(m_outcome.ending, cell.ending);
    EXPECT_EQ(ExitStatusOf(m_outcome), ExpectedExitStatus(cell.ending));
    EXPECT_EQ(m_outcome.message, cell.message);
    ASSERT_EQ(m_outcome.records.size(), 1u) << "the file holds one record";
    EXPECT_EQ(m_outcome.records[0].result, ExpectedRecordResult(cell.stage, cell.ending));
    EXPECT_EQ(m_outcome.targetsUpdated, cell.ending == All ? 1 : 0);
    EXPECT_LT(m_elapsed, cell.limit) << "no hang";
    EXPECT_TRUE(m_heard.Boxes().empty()) << "the worker's own message box: " << m_heard.Boxes().front();
    EXPECT_EQ(DescriptorsOnTerminal(line), deviceOwn) << "the port is still open";
    EXPECT_FALSE(IsOpenHere(path)) << "the update file is still open";
    EXPECT_TRUE(SFileSnapshot::Of(path) == fileBefore) << "the update file was written";
    if (!m_device->IsVanished()) {
        CComPort again;
        EXPECT_TRUE(again.Open(m_device->SlavePath(), 57600, 150)) << "the port stayed locked";
    }
    if (IsXsvfStage(cell.stage) && m_run.State().m_deviceAnswered != 0)
        ExpectTraceComplete();
}

std::string CellName(const ::testing::TestParamInfo<SCell>& info)
{
    return std::string(StageName(info.param.stage)) + "_" + FaultName(info.param.fault);
}

INSTANTIATE_TEST_SUITE_P(Cells, FaultTableTest, ::testing::ValuesIn(kCells), CellName);

}  // namespace
