// The update protocol end to end: the worker against the simulated device.

#include "FaultySysCalls.h"
#include "JsonEvents.h"
#include "UpdateRunFixture.h"

#include <cerrno>

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

using UpdateRunTest = UpdateRunInFolderFixture;

TEST_F(UpdateRunTest, TypicalRunSendsExactlyTheProtocolBytes)
{
    SDevsimConfig config;
    config.extraAcks = 2;
    config.busyPerBlock = 3;
    StartDevice(config);
    const std::string path = WriteUpdateFile({mkupd::FileVersion::V1_01, {Firmware(1, kOneBlock), Xsvf(2, {0x00})}});
    RunUpdate(path);

    EXPECT_EQ(m_endState, RunEndedWithMessage);
    EXPECT_EQ(m_run.Message(), "2 of 2 targets updated successfully.");
    EXPECT_EQ(Row(0), "100% ");
    EXPECT_EQ(Row(1), "100% ");
    const std::vector<uint8_t> expected = MakeBytes({
        0xA3,                                            // start
        0xA0, 0x01, 0xFE,                                // select target 1
        0x00, 0x06, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06,  // its one block
        0xA0, 0x02, 0xFD, 0xFF, 0x00,                    // select target 2, type XSVF
        0x00, 0x04, 0x42, 0x10, 0x8C, 0x66,              // TMS high
        0x00, 0x06, 0x42, 0x10, 0x01, 0x11, 0x2F, 0x38,  // reset: one TMS clock ...
        0x00, 0x05, 0x42, 0x01, 0x11, 0x83, 0x4D,        // ... and five more clocks
        0x00, 0x05, 0x42, 0x01, 0x11, 0x83, 0x4D,        //
        0x00, 0x05, 0x42, 0x01, 0x11, 0x83, 0x4D,        //
        0x00, 0x05, 0x42, 0x01, 0x11, 0x83, 0x4D,        //
        0x00, 0x05, 0x42, 0x01, 0x11, 0x83, 0x4D,        //
        0x00, 0x03, 0x46, 0x81, 0x97,                    // finish
        0xA2,                                            // end
    });
    EXPECT_EQ(ToolBytesFromStart(), expected);
    EXPECT_EQ(m_device->Images()[1], MakeBytes({0x01, 0x02, 0x03, 0x04, 0x05, 0x06}));
}

TEST_F(UpdateRunTest, HexTextFilesUpdateLikeRawOnes)
{
    StartDevice();
    const std::vector<uint8_t> blocks = mkupd::MakeFirmwareBlocks(std::vector<uint8_t>(2500, 0x5A), 998, false);
    const std::string path = WriteUpdateFile({mkupd::FileVersion::V1_00, {Firmware(7, blocks)}});
    RunUpdate(path);
    EXPECT_EQ(m_run.Message(), "1 of 1 targets updated successfully.");
    EXPECT_EQ(m_device->Images()[7], std::vector<uint8_t>(2500, 0x5A));
}

TEST_F(UpdateRunTest, PackedFirmwareArrivesUnpacked)
{
    StartDevice();
    std::vector<uint8_t> image(3000);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i < 1000 ? 0xFF : i * 7);
    mkupd::SUpdateTarget target = Firmware(3, mkupd::MakeFirmwareBlocks(image, 998, false));
    target.packed = true;
    RunUpdate(WriteUpdateFile({mkupd::FileVersion::V1_01, {target}}));
    EXPECT_EQ(m_run.Message(), "1 of 1 targets updated successfully.");
    EXPECT_EQ(m_device->Images()[3], image);
}

// A write the line refuses ends the run at once with the texts of a vanished
// port; the system's reason goes into the outcome and its end event.
TEST_F(UpdateRunTest, RefusedWriteEndsTheRunWithTheSystemsReason)
{
    struct SCase {
        const char* name;
        mkupd::SUpdateTarget target;
        std::vector<uint8_t> sent;  // from CMD_START on
        const char* row;            // the block's bytes count as loaded
    };
    const SCase cases[] = {
        {"firmware block", Firmware(1, kOneBlock), MakeBytes({0xA3, 0xA0, 0x01, 0xFE}), "100% unsuccessful"},
        {"JTAG frame", Xsvf(1, {0x00}), MakeBytes({0xA3, 0xA0, 0x01, 0xFE, 0xFF, 0x00}), "0% unsuccessful"},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        StartDevice();
        CFaultySysCalls faults;
        faults.faultWritesFrom = 3;  // the first block or frame; no wake-up byte or selection
        faults.writeFaults = {EPROTO};
        {
            CScopedSysCalls inject(faults);
            RunUpdate(WriteUpdateFile({mkupd::FileVersion::V1_01, {c.target, Firmware(2, kOneBlock)}}));
        }
        EXPECT_EQ(m_outcome.ending, ERunEnding::NotResponding);
        EXPECT_EQ(m_outcome.message, "Failed: Target is not responding");
        EXPECT_EQ(Row(0), c.row);
        EXPECT_EQ(m_outcome.osError, "Protocol error");
        EXPECT_EQ(ToolBytesFromStart(), c.sent);
        const std::string end = JsonLine(JsonEndEvent(m_outcome, ExitStatusOf(m_outcome)));
        EXPECT_NE(end.find(",\"os_error\":\"Protocol error\"}"), std::string::npos) << end;
    }
}

TEST_F(UpdateRunTest, UnknownTypeIsSkippedWithoutSendingAnything)
{
    StartDevice();
    mkupd::SUpdateTarget odd = Firmware(5, MakeBytes({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}));
    odd.type = 0x1234;
    RunUpdate(WriteUpdateFile({mkupd::FileVersion::V1_01, {odd, Firmware(1, kOneBlock)}}));
    EXPECT_EQ(m_run.Message(), "1 of 2 targets updated successfully.");
    EXPECT_EQ(Row(0), "0% update unknown");
    EXPECT_EQ(Row(1), "100% ");
    const auto sent = ToolBytesFromStart();
    EXPECT_EQ(std::vector<uint8_t>(sent.begin(), sent.begin() + 4), MakeBytes({0xA3, 0xA0, 0x01, 0xFE}));
}

TEST_F(UpdateRunTest, RefusedTargetIsMissingAndTheRunGoesOn)
{
    SDevsimConfig config;
    config.refusedTargets = {2};
    StartDevice(config);
    RunUpdate(WriteUpdateFile({mkupd::FileVersion::V1_01, {Firmware(2, kOneBlock), Firmware(1, kOneBlock)}}));
    EXPECT_EQ(m_run.Message(), "1 of 2 targets updated successfully.");
    EXPECT_EQ(Row(0), "0% missing target");
    EXPECT_EQ(Row(1), "100% ");
}

TEST_F(UpdateRunTest, RefusedXsvfTypeIsAMissingTarget)
{
    StartDevice();
    m_device->SetFaults({{EPhase::Type, 1, 1, EFaultAction::Replace, {0x44}, 0}});
    RunUpdate(WriteUpdateFile({mkupd::FileVersion::V1_01, {Xsvf(2, {0x00}), Firmware(1, kOneBlock)}}));
    EXPECT_EQ(m_run.Message(), "1 of 2 targets updated successfully.");
    EXPECT_EQ(Row(0), "0% missing target");
}

TEST_F(UpdateRunTest, SelectionRetriesResendNumberAndComplementOnly)
{
    StartDevice();
    m_device->SetFaults({{EPhase::Select, 1, 3, EFaultAction::Reject, {}, 0}});
    RunUpdate(WriteUpdateFile({mkupd::FileVersion::V1_01, {Firmware(1, kOneBlock)}}));
    EXPECT_EQ(m_run.Message(), "1 of 1 targets updated successfully.");
    const auto sent = ToolBytesFromStart();
    EXPECT_EQ(std::vector<uint8_t>(sent.begin(), sent.begin() + 10),
              MakeBytes({0xA3, 0xA0, 0x01, 0xFE, 0x01, 0xFE, 0x01, 0xFE, 0x01, 0xFE}));
}

TEST_F(UpdateRunTest, BusySelectionAnswerFailsTheTarget)
{
    StartDevice();
    m_device->SetFaults({{EPhase::Select, 1, 1, EFaultAction::Replace, {0x33}, 0}});
    RunUpdate(WriteUpdateFile({mkupd::FileVersion::V1_01, {Firmware(1, kOneBlock), Firmware(2, kOneBlock)}}));
    EXPECT_EQ(m_run.Message(), "1 of 2 targets updated successfully.");
    EXPECT_EQ(Row(0), "0% unsuccessful");
    EXPECT_EQ(Row(1), "100% ");
}

TEST_F(UpdateRunTest, EverythingBeforeReadyIsIgnored)
{
    StartDevice();
    m_device->SetFaults({{EPhase::Start, 1, 1, EFaultAction::Replace, {0x11, 0x11, 0x44, 0x88}, 0}});
    RunUpdate(WriteUpdateFile({mkupd::FileVersion::V1_01, {Firmware(1, kOneBlock)}}));
    EXPECT_EQ(m_run.Message(), "1 of 1 targets updated successfully.");
}

TEST_F(UpdateRunTest, RefusedMiddleBlockFailsOnlyThatTarget)
{
    StartDevice();
    const auto blocks = mkupd::MakeFirmwareBlocks(std::vector<uint8_t>(30, 0x42), 10, false);
    m_device->SetFaults({{EPhase::Block, 2, 1, EFaultAction::Replace, {0x44}, 0}});
    RunUpdate(WriteUpdateFile({mkupd::FileVersion::V1_01, {Firmware(1, blocks), Firmware(2, kOneBlock)}}));
    EXPECT_EQ(m_run.Message(), "1 of 2 targets updated successfully.");
    EXPECT_EQ(Row(0), "66% unsuccessful");
    EXPECT_EQ(Row(1), "100% ");
}

TEST_F(UpdateRunTest, RefusedLastBlockCountsAsDone)
{
    StartDevice();
    const auto blocks = mkupd::MakeFirmwareBlocks(std::vector<uint8_t>(20, 0x42), 10, false);
    m_device->SetFaults({{EPhase::Block, 2, 1, EFaultAction::Replace, {0x44}, 0}});
    RunUpdate(WriteUpdateFile({mkupd::FileVersion::V1_01, {Firmware(1, blocks)}}));
    EXPECT_EQ(m_run.Message(), "1 of 1 targets updated successfully.");
    EXPECT_EQ(Row(0), "100% ");
}

TEST_F(UpdateRunTest, BlockCheckErrorsResendTheSameBlock)
{
    SDevsimConfig config;
    config.blockCrc = true;
    StartDevice(config);
    std::vector<uint8_t> image(100);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i);
    m_device->SetFaults({{EPhase::Block, 1, 3, EFaultAction::Reject, {}, 0}});
    RunUpdate(WriteUpdateFile({mkupd::FileVersion::V1_01, {Firmware(1, mkupd::MakeFirmwareBlocks(image, 52, true))}}));
    EXPECT_EQ(m_run.Message(), "1 of 1 targets updated successfully.");
    EXPECT_EQ(m_device->Images()[1], image);
    EXPECT_EQ(m_device->Count(EPhase::Block), 5u);
}

struct SWrongAnswers {
    const char* name;
    std::vector<std::vector<uint8_t>> answers;  // to the first block, one per sending
    const char* message;           // empty: the run goes on
};

class WrongAnswerTest : public UpdateRunTest, public ::testing::WithParamInterface<SWrongAnswers> {};

TEST_P(WrongAnswerTest, FourUnexpectedAnswersInARowEndTheRun)
{
    StartDevice();
    std::vector<SFaultRule> rules;
    const auto& answers = GetParam().answers;
    for (size_t i = 0; i < answers.size(); ++i)
        rules.push_back({EPhase::Block, static_cast<unsigned>(i + 1), 1, EFaultAction::Replace, answers[i], 0});
    m_device->SetFaults(rules);
    RunUpdate(WriteUpdateFile({mkupd::FileVersion::V1_01, {Firmware(1, kOneBlock)}}));
    const std::string expected = GetParam().message;
    EXPECT_EQ(m_endState, RunEndedWithMessage);
    EXPECT_EQ(m_run.Message(), expected.empty() ? "1 of 1 targets updated successfully." : expected);
    if (!expected.empty()) {
        EXPECT_EQ(Row(0), "100% ") << "the row keeps what the download reached";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, WrongAnswerTest,
    ::testing::Values(
        SWrongAnswers{"CrcErrorLast", {{0x55}, {0x55}, {0x55}, {0x22}}, "CRC error. File possibly damaged."},
        SWrongAnswers{"OtherByteLast", {{0x22}, {0x22}, {0x22}, {0x55}}, "Wrong answer. Update cancelled."},
        SWrongAnswers{"BusyDoesNotReset", {{0x55}, {0x55}, {0x33, 0x55}, {0x55}}, "Wrong answer. Update cancelled."},
        SWrongAnswers{"AckResets", {{0x55}, {0x11}}, ""},
        SWrongAnswers{"AckBetweenResets", {{0x55}, {0x11}, {0x55}, {0x55}, {0x55}}, ""},
        SWrongAnswers{"ThreeAreTolerated", {{0x22}, {0x22}, {0x22}}, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpdateRunTest, FormatErrorInTheBodyEndsTheRun)
{
    StartDevice();
    const std::string file = "Firmwareupdate-Fileformat-V1.01\n01\n01 Board\n010000FEFF0000000800060102\n";
    RunUpdate(m_folder.Write("bad.upd", file));
    EXPECT_EQ(m_endState, RunEndedWithMessage);
    EXPECT_EQ(m_run.Message(), "Update cancelled - wrong fileformat in " + m_folder.Path() + "/bad.upd.");
}

TEST_F(UpdateRunTest, OversizedBlockIsAFormatErrorBeforeAnythingIsSent)
{
    StartDevice();
    std::vector<uint8_t> block = {0x03, 0xE7};  // 999 bytes announced
    block.resize(2 + 999, 0xAA);
    RunUpdate(WriteUpdateFile({mkupd::FileVersion::V1_01, {Firmware(1, block)}}));
    EXPECT_EQ(m_run.Message().rfind("Update cancelled - wrong fileformat in ", 0), 0u);
    EXPECT_EQ(ToolBytesFromStart(), MakeBytes({0xA3, 0xA0, 0x01, 0xFE}));
}

TEST_F(UpdateRunTest, HeaderCountIsTheFinalCountsTotal)
{
    StartDevice();
    mkupd::SUpdateFile file{mkupd::FileVersion::V1_01, {Firmware(1, kOneBlock), Firmware(2, kOneBlock)}};
    file.headerCount = 3;
    RunUpdate(WriteUpdateFile(file));
    EXPECT_EQ(m_run.Message(), "2 of 3 targets updated successfully.");
}

TEST_F(UpdateRunTest, EmptyBodyUpdatesZeroOfZero)
{
    StartDevice();
    RunUpdate(WriteUpdateFile({mkupd::FileVersion::V1_01, {}}));
    EXPECT_EQ(m_run.Message(), "0 of 0 targets updated successfully.");
    EXPECT_EQ(ToolBytesFromStart(), MakeBytes({0xA3, 0xA2}));
}

TEST_F(UpdateRunTest, TimeoutsDoNotBreakTheWakeupSeries)
{
    SDevsimConfig config;
    StartDevice(config);
    m_device->SetFaults({{EPhase::Wakeup, 2, 1, EFaultAction::Silent, {}, 0}});
    RunUpdate(WriteUpdateFile({mkupd::FileVersion::V1_01, {}}));
    EXPECT_EQ(m_run.Message(), "0 of 0 targets updated successfully.");
    // Five answers plus the silent one; a late answer under load can add more.
    const auto sent = ToolBytes();
    EXPECT_GE(std::count(sent.begin(), sent.end(), CMD_WAKEUP), 6);
}

TEST_F(UpdateRunTest, AnotherByteRestartsTheWakeupSeries)
{
    StartDevice();
    m_device->SetFaults({{EPhase::Wakeup, 3, 1, EFaultAction::Replace, {0x00}, 0}});
    RunUpdate(WriteUpdateFile({mkupd::FileVersion::V1_01, {}}));
    EXPECT_EQ(m_run.Message(), "0 of 0 targets updated successfully.");
    // 11 11 00, then five more 11 in a row.
    const auto sent = ToolBytes();
    EXPECT_GE(std::count(sent.begin(), sent.end(), CMD_WAKEUP), 8);
}

TEST_F(UpdateRunTest, CancelDuringTheWakeupEndsQuietly)
{
    SDevsimConfig config;
    config.powerOnDelay = std::chrono::hours(1);
    StartDevice(config);
    const auto start = std::chrono::steady_clock::now();
    RunUpdate(WriteUpdateFile({mkupd::FileVersion::V1_01, {Firmware(1, kOneBlock)}}), 5s, [&] {
        if (std::chrono::steady_clock::now() - start > 100ms)
            m_run.RequestCancel();
    });
    EXPECT_EQ(m_endState, RunEnded);
    EXPECT_EQ(m_run.Message(), "Connect device, switch device off then on");
    EXPECT_EQ(m_run.State().m_deviceAnswered, 0);
    EXPECT_TRUE(m_heard.Boxes().empty());
}

TEST_F(UpdateRunTest, ConfirmedCancelMarksOpenTargetsAndEndsQuietly)
{
    StartDevice();
    // The second target's block keeps the device busy until the cancel.
    m_device->SetFaults({{EPhase::Block, 2, 1, EFaultAction::Busy, {}, 100000}});
    bool cancelled = false;
    RunUpdate(WriteUpdateFile({mkupd::FileVersion::V1_01,
                               {Firmware(1, kOneBlock), Firmware(2, kOneBlock), Firmware(3, kOneBlock)}}),
              20s, [&] {
                  if (!cancelled && m_run.State().m_currentTarget == 1 && m_device->Count(EPhase::Block) >= 2) {
                      m_run.ConfirmCancel();
                      cancelled = true;
                  }
              });
    EXPECT_EQ(m_endState, RunEnded);
    EXPECT_EQ(m_run.Message(), "Update cancelled by user");
    EXPECT_EQ(Row(0), "100% ");
    EXPECT_EQ(Row(1), "100% cancelled");
    EXPECT_EQ(Row(2), "0% cancelled");
}

TEST_F(UpdateRunTest, PortVanishingDuringTheWakeupEndsTheRun)
{
    SDevsimConfig config;
    config.powerOnDelay = std::chrono::hours(1);
    StartDevice(config);
    const auto start = std::chrono::steady_clock::now();
    RunUpdate(WriteUpdateFile({mkupd::FileVersion::V1_01, {Firmware(1, kOneBlock)}}), 10s, [&] {
        if (std::chrono::steady_clock::now() - start > 50ms && !m_device->IsVanished())
            m_device->Vanish();
    });
    EXPECT_EQ(m_endState, RunEndedWithMessage);
    EXPECT_EQ(m_run.Message(), "Failed: Target is not responding");
    EXPECT_LT(m_elapsed, 2s);
}

TEST_F(UpdateRunTest, PortVanishingMidRunEndsAsNotResponding)
{
    StartDevice();
    m_device->SetFaults({{EPhase::Block, 2, 1, EFaultAction::Vanish, {}, 0}});
    const auto blocks = mkupd::MakeFirmwareBlocks(std::vector<uint8_t>(30, 1), 10, false);
    RunUpdate(WriteUpdateFile({mkupd::FileVersion::V1_01, {Firmware(1, blocks)}}), 10s);
    EXPECT_EQ(m_run.Message(), "Failed: Target is not responding");
    EXPECT_EQ(Row(0), "66% unsuccessful");
    EXPECT_LT(m_elapsed, 2s);
}

TEST_F(UpdateRunTest, PortVanishingAtTheSelectionIsNotRespondingNotACount)
{
    StartDevice();
    m_device->SetFaults({{EPhase::Select, 1, 1, EFaultAction::Vanish, {}, 0}});
    RunUpdate(WriteUpdateFile({mkupd::FileVersion::V1_01, {Firmware(1, kOneBlock), Firmware(2, kOneBlock)}}), 10s);
    EXPECT_EQ(m_endState, RunEndedWithMessage);
    EXPECT_EQ(m_run.Message(), "Failed: Target is not responding");
    EXPECT_EQ(Row(0), "0% unsuccessful");
    EXPECT_EQ(Row(1), "0% ");
}

TEST_F(UpdateRunTest, SecondRunStartsFromClearedRows)
{
    StartDevice();
    const std::string path = WriteUpdateFile({mkupd::FileVersion::V1_01, {Firmware(1, kOneBlock)}});
    RunUpdate(path);
    ASSERT_EQ(Row(0), "100% ");
    m_device->PowerCycle();
    // Units count over the device's life: this run's selection is the second.
    m_device->SetFaults({{EPhase::Select, 2, 1, EFaultAction::Replace, {0x44}, 0}});
    RunUpdate(path);
    EXPECT_EQ(m_run.Message(), "0 of 1 targets updated successfully.");
    EXPECT_EQ(Row(0), "0% missing target");
}

TEST_F(UpdateRunTest, XsvfErrorEndsTheRunWithItsText)
{
    StartDevice();
    // Code 5 (Reserved5) is an unsupported command.
    RunUpdate(WriteUpdateFile({mkupd::FileVersion::V1_01, {Xsvf(2, {0x05}), Firmware(1, kOneBlock)}}));
    EXPECT_EQ(m_endState, RunEndedWithMessage);
    EXPECT_EQ(m_run.Message(), "Unsupported XSVF command");
    EXPECT_EQ(Row(0), "100% unsuccessful");
    EXPECT_EQ(Row(1), "0% ");
}

}  // namespace
