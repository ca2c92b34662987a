// The interpreter: commands, results, retries, cancel, and the traffic and
// trace they produce.
#include "PlayerFixture.h"
#include "XsvfBuilder.h"
#include "XsvfInterpreter.h"

#include <cstring>

using namespace devupdate::link;
using namespace devupdate::xsvf;

namespace {

Bytes MismatchingShifts(const Bytes& payload, const Bytes& readBack)
{
    if (!payload.empty() && payload[0] == CMD_SHIFT)
        return {JTAG_MISMATCH};
    if (!payload.empty() && payload[0] == CMD_READ_TDO) {
        Bytes answer{JTAG_ACK};
        const Bytes frame = MakeReadBackFrame(readBack);
        answer.insert(answer.end(), frame.begin(), frame.end());
        return answer;
    }
    return DefaultAnswer(payload);
}

}  // namespace

TEST_F(PlayerTest, LoneXcompleteSucceedsWithResetAndFinish)
{
    EXPECT_EQ(XSVF_SUCCESS, Play(CXsvfBuilder().Complete().Stream()));
    EXPECT_EQ("P1 T1 + + + + + F", AllFrames());
    EXPECT_EQ(std::string(TRACE_START) + "  XCOMPLETE\r\nSUCCESS - Completed XSVF execution.\r\n",
              Trace());
    EXPECT_EQ(1, host->progressCalls);
}

TEST_F(PlayerTest, StreamEndingBeforeXcompleteIs9WithoutFinish)
{
    EXPECT_EQ(XSVF_ERROR_FILEREAD, Play(CXsvfBuilder().Repeat(2).Stream()));
    EXPECT_EQ("", FramesAfterReset());
    EXPECT_EQ(std::string(TRACE_START) +
                  "  XREPEAT\r\n   XREPEAT = 2\r\n"
                  "file read error\r\n"
                  "ERROR at or near XSVF command #1.  See line #1 in the XSVF ASCII file.\r\n",
              Trace());
}

TEST_F(PlayerTest, WorkedExampleIrShiftFramesByteForByte)
{
    EXPECT_EQ(XSVF_SUCCESS,
              Play(CXsvfBuilder().State(1).Sir(8, {0x01}).Complete().Stream()));
    const auto writes = device.Writes();
    ASSERT_EQ(16u, writes.size());  // P1, 6 reset, T0 to idle, 7 of the example, F
    const std::vector<Bytes> example = {
        {0x00, 0x06, 0x42, 0x10, 0x01, 0x11, 0x2F, 0x38},
        {0x00, 0x06, 0x42, 0x10, 0x01, 0x11, 0x2F, 0x38},
        {0x00, 0x06, 0x42, 0x00, 0x01, 0x11, 0xAE, 0x7B},
        {0x00, 0x06, 0x42, 0x00, 0x01, 0x11, 0xAE, 0x7B},
        {0x00, 0x08, 0x53, 0x0C, 0x00, 0x08, 0x01, 0x01, 0x0C, 0xD0},
        {0x00, 0x06, 0x42, 0x10, 0x01, 0x11, 0x2F, 0x38},
        {0x00, 0x06, 0x42, 0x00, 0x01, 0x11, 0xAE, 0x7B},
    };
    EXPECT_EQ(example, std::vector<Bytes>(writes.begin() + 8, writes.begin() + 15));
    EXPECT_EQ((Bytes{0x00, 0x04, 0x42, 0x10, 0x8C, 0x66}), writes[0]);
    EXPECT_EQ((Bytes{0x00, 0x03, 0x46, 0x81, 0x97}), writes[15]);
}

// ---- command layouts ----------------------------------------------------------

struct SCommandCase {
    const char* name;
    Bytes stream;            // played after XSDRSIZE 8 (ending with XCOMPLETE as needed)
    std::string frames;      // after the reset sequence
    int result;
};

class CommandLayoutTest : public PlayerTest, public ::testing::WithParamInterface<SCommandCase> {};

TEST_P(CommandLayoutTest, SendsTheFramesAndConsumesTheStream)
{
    Bytes stream = CXsvfBuilder().SdrSize(8).Stream();
    stream.insert(stream.end(), GetParam().stream.begin(), GetParam().stream.end());
    EXPECT_EQ(GetParam().result, Play(stream));
    EXPECT_EQ(GetParam().frames, FramesAfterReset());
    if (GetParam().result == XSVF_SUCCESS) {
        EXPECT_EQ(stream.size(), host->BytesRead());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Commands, CommandLayoutTest,
    ::testing::Values(
        SCommandCase{"XsdrChecksUnderMask", CXsvfBuilder().Sdr({0x5A}).Complete().Stream(),
                     "T0 T1 T0 T0 S8:3f T1 T0 F", 0},
        SCommandCase{"XsdrTdoThenXsdrKeepsSections",
                     CXsvfBuilder().SdrTdo({0x5A}, {0x01}).Sdr({0x5A}).Complete().Stream(),
                     "T0 T1 T0 T0 S8:3f T1 T0 T1 T0 T0 S8:07 T1 T0 F", 0},
        SCommandCase{"XsdrbStaysInShift", CXsvfBuilder().Sdrb({0x01}).Sdrc({0x02}).Sdre({0x03}).Complete().Stream(),
                     "T0 T1 T0 T0 S8:08 S8:08 S8:0c T1 T0 F", 0},
        SCommandCase{"XsdrTdoBComparesWithoutMask",
                     CXsvfBuilder().SdrTdoB({0x01}, {0x02}).SdrTdoE({0x01}, {0x02}).Complete().Stream(),
                     "T0 T1 T0 T0 S8:19 S8:05 T1 T0 F", 0},
        SCommandCase{"XsirUsesEndIrAndRunTest",
                     CXsvfBuilder().EndIr(1).RunTest(500).Sir(5, {0x1F}).Complete().Stream(),
                     "T0 T1 T1 T0 T0 S5:0c T0 T1 T1 T0 W500 F", 0},
        SCommandCase{"Xsir2", CXsvfBuilder().Sir2(9, {0x01, 0xFF}).Complete().Stream(),
                     "T0 T1 T1 T0 T0 S9:0c T1 T0 F", 0},
        SCommandCase{"XenddrPauseEndsDataShiftsInPause",
                     CXsvfBuilder().EndDr(1).Sdrb({0}).Sdre({0}).Complete().Stream(),
                     "T0 T1 T0 T0 S8:08 S8:04 T0 F", 0},
        SCommandCase{"XenddrTwoIsIllegal", CXsvfBuilder().EndDr(2).Complete().Stream(), "F", 5},
        SCommandCase{"XendirTwoIsIllegal", CXsvfBuilder().EndIr(2).Complete().Stream(), "F", 5},
        SCommandCase{"XstateMoves", CXsvfBuilder().State(6).State(6).Complete().Stream(),
                     "T0 T1 T0 T1 T0 T1 T1 T1 T0 T1 T0 F", 0},
        SCommandCase{"XstateAbove15", CXsvfBuilder().State(16).Complete().Stream(), "F", 5},
        SCommandCase{"XstateIllegalExit2", CXsvfBuilder().State(1).State(7).Complete().Stream(),
                     "T0 F", 5},
        SCommandCase{"XwaitMovesWaitsAndMoves", CXsvfBuilder().Wait(1, 6, 2000).Complete().Stream(),
                     "T0 W2000 T1 T0 T1 T0 F", 0},
        SCommandCase{"XwaitInPlace", CXsvfBuilder().Wait(0, 0, 7).Complete().Stream(), "W7 F", 0},
        SCommandCase{"XwaitAbove15", CXsvfBuilder().Wait(16, 1, 1000).Complete().Stream(), "F", 5},
        SCommandCase{"XwaitEndAbove15", CXsvfBuilder().Wait(1, 200, 1000).Complete().Stream(), "F", 5},
        SCommandCase{"XcommentAndXrepeatSendNothing",
                     CXsvfBuilder().Comment("hi").Repeat(3).Complete().Stream(), "F", 0},
        SCommandCase{"Reserved5", CXsvfBuilder().Code(5).Complete().Stream(), "F", 4},
        SCommandCase{"Reserved6", CXsvfBuilder().Code(6).Stream(), "F", 4},
        SCommandCase{"Code200", CXsvfBuilder().Code(200).Stream(), "F", 4},
        SCommandCase{"ZeroLengthShiftWaits",
                     CXsvfBuilder().SdrSize(0).RunTest(1000).Sdr({}).Complete().Stream(),
                     "T0 W1000 F", 0},
        SCommandCase{"XsdrincWithoutStepsShiftsOnce",
                     CXsvfBuilder().SetSdrMasks({0x01}, {0x0F}).SdrInc({0x10}, {}).Complete().Stream(),
                     "T0 T1 T0 T0 S8:3f T1 T0 F", 0},
        SCommandCase{"XsdrincTwoSteps",
                     CXsvfBuilder().SetSdrMasks({0x01}, {0x0F}).SdrInc({0x10}, {{0x03}, {0x04}}).Complete().Stream(),
                     "T0 T1 T0 T0 S8:3f T1 T0 T1 T0 T0 S8:0f T1 T0 T1 T0 T0 S8:0f T1 T0 F", 0}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- lengths --------------------------------------------------------------------

TEST_F(PlayerTest, XsdrsizeAcceptsMaxLenBytesAndRefusesOneBitMore)
{
    EXPECT_EQ(XSVF_SUCCESS, Play(CXsvfBuilder().SdrSize(56000).Complete().Stream()));
    EXPECT_EQ(XSVF_ERROR_DATAOVERFLOW, Play(CXsvfBuilder().SdrSize(56001).Complete().Stream()));
    EXPECT_NE(std::string::npos, Trace().find("  XSDRSIZE\r\n   XSDRSIZE = 56001\r\n"
                                              "ERROR:  Data overflows allocated MAX_LEN buffer size\r\n"));
    EXPECT_EQ(XSVF_ERROR_DATAOVERFLOW, Play(CXsvfBuilder().SdrSize(0x80000000u).Complete().Stream()));
}

TEST_F(PlayerTest, Xsir2OverflowReadsNoDataBytes)
{
    const Bytes stream = CXsvfBuilder().Sir2(56001, Bytes(7001, 0xAB)).Stream();
    EXPECT_EQ(XSVF_ERROR_DATAOVERFLOW, Play(stream));
    EXPECT_EQ(3u, host->BytesRead());
    EXPECT_NE(std::string::npos, Trace().find("  XSIR2\r\n   XSIR2 length = 56001\r\n"));
    EXPECT_EQ("F", FramesAfterReset());
}

TEST_F(PlayerTest, FullLengthShiftGoesOutInChunks)
{
    const Bytes tdi(7000, 0x3C);
    EXPECT_EQ(XSVF_SUCCESS, Play(CXsvfBuilder().SdrSize(56000).Sdrb(tdi).Complete().Stream()));
    int shifts = 0;
    for (const Bytes& payload : device.Payloads())
        shifts += payload[0] == CMD_SHIFT;
    EXPECT_EQ(110, shifts);  // 109 of 512 bits and one of 192
}

// ---- retries ---------------------------------------------------------------------

TEST_F(PlayerTest, RetriesWithGrowingWaitThenResult3)
{
    device.answer = [](const Bytes& p, size_t) { return MismatchingShifts(p, {0x00}); };
    EXPECT_EQ(XSVF_ERROR_MAXRETRIES,
              Play(CXsvfBuilder().Repeat(3).RunTest(1000).SdrSize(8).Sdr({0x01}).Complete().Stream()));
    EXPECT_EQ("T0 T1 T0 T0 S8:3f R8 T0 T1 T0 T1 T1 T0 W1250 "
              "T1 T0 T0 S8:07 R8 T0 T1 T0 T1 T1 T0 W1562 "
              "T1 T0 T0 S8:07 R8 T0 T1 T0 T1 T1 T0 W1952 "
              "T1 T0 T0 S8:07 R8 T1 T0 W1952 F",
              FramesAfterReset());
}

TEST_F(PlayerTest, MismatchWithoutRetriesIsResult2)
{
    device.answer = [](const Bytes& p, size_t) { return MismatchingShifts(p, {0x00}); };
    EXPECT_EQ(XSVF_ERROR_TDOMISMATCH,
              Play(CXsvfBuilder().RunTest(1000).SdrSize(8).Sdr({0x01}).Complete().Stream()));
    EXPECT_EQ("T0 T1 T0 T0 S8:3f R8 T1 T0 W1000 F", FramesAfterReset());
}

TEST_F(PlayerTest, FailingRunTraceByteForByte)
{
    device.answer = [](const Bytes& p, size_t) { return MismatchingShifts(p, {0x0A}); };
    EXPECT_EQ(XSVF_ERROR_MAXRETRIES, Play(CXsvfBuilder()
                                              .Repeat(1)
                                              .RunTest(100)
                                              .SdrSize(8)
                                              .TdoMask({0xFF})
                                              .SdrTdo({0x0A}, {0x0B})
                                              .Complete()
                                              .Stream()));
    EXPECT_EQ(std::string(TRACE_START) +
                  "  XREPEAT\r\n   XREPEAT = 1\r\n"
                  "  XRUNTEST\r\n   XRUNTEST = 100\r\n"
                  "  XSDRSIZE\r\n   XSDRSIZE = 8\r\n"
                  "  XTDOMASK\r\n    TDO Mask     = 0xff\r\n"
                  "  XSDRTDO\r\n"
                  "   Shift Length = 8\r\n"
                  "    TDI          = 0x0a\r\n"
                  "    TDO Expected = 0x0b\r\n"
                  "   TAP State = RUNTEST/IDLE\r\n"
                  "   TAP State = DRSELECT\r\n"
                  "   TAP State = DRCAPTURE\r\n"
                  "   TAP State = DRSHIFT\r\n"
                  "   TAP State = DREXIT1\r\n"
                  "    TDO Expected = 0x0b\r\n"
                  "    TDO Captured = 0x0a\r\n"
                  "    TDO Mask     = 0xff\r\n"
                  "   Retry #1\r\n"
                  "   TAP State = DRPAUSE\r\n"
                  "   TAP State = DREXIT2\r\n"
                  "   TAP State = DRSHIFT\r\n"
                  "   TAP State = DREXIT1\r\n"
                  "   TAP State = DRUPDATE\r\n"
                  "   TAP State = RUNTEST/IDLE\r\n"
                  "   Wait = 125 usec\r\n"
                  "   TAP State = DRSELECT\r\n"
                  "   TAP State = DRCAPTURE\r\n"
                  "   TAP State = DRSHIFT\r\n"
                  "   TAP State = DREXIT1\r\n"
                  "   TAP State = DRUPDATE\r\n"
                  "   TAP State = RUNTEST/IDLE\r\n"
                  "   Wait = 125 usec\r\n"
                  " TDO Expected = 0x0b\r\n"
                  " TDO Captured = 0x0a\r\n"
                  " TDO Mask     = 0xff\r\n"
                  "ERROR:  TDO mismatch and exceeded max retries\r\n"
                  "ERROR at or near XSVF command #5.  See line #5 in the XSVF ASCII file.\r\n",
              Trace());
    EXPECT_EQ("T0 T1 T0 T0 S8:3f R8 T0 T1 T0 T1 T1 T0 W125 T1 T0 T0 S8:07 R8 T1 T0 W125 F",
              FramesAfterReset());
}

// ---- trace details ----------------------------------------------------------------

TEST_F(PlayerTest, ShiftHeadersOfXsirAndOfXsdrBeforeAnyXsdrtdo)
{
    EXPECT_EQ(XSVF_SUCCESS, Play(CXsvfBuilder().Sir(8, {0x0A}).SdrSize(8).Sdr({0xFF}).Complete().Stream()));
    const std::string trace = Trace();
    EXPECT_NE(std::string::npos,
              trace.find("   Shift Length = 8\r\n    TDI          = 0x0a\r\n    TDO Expected = \r\n"));
    EXPECT_NE(std::string::npos,
              trace.find("   Shift Length = 8\r\n    TDI          = 0xff\r\n    TDO Expected = 0x\r\n"));
}

TEST_F(PlayerTest, UnsupportedCommandsAreNamedAndCounted)
{
    EXPECT_EQ(XSVF_ERROR_ILLEGALCMD, Play(CXsvfBuilder().Repeat(0).Code(5).Stream()));
    EXPECT_NE(std::string::npos, Trace().find("  Reserved5\r\n"
                                              "ERROR:  Encountered unsupported command #5 (Reserved5)\r\n"
                                              "ERROR:  Unsupported XSVF command\r\n"
                                              "ERROR at or near XSVF command #2."));
    EXPECT_EQ(XSVF_ERROR_ILLEGALCMD, Play(CXsvfBuilder().Code(200).Stream()));
    EXPECT_NE(std::string::npos, Trace().find("   TAP State = RESET\r\n"
                                              "ERROR:  Encountered unsupported command #200 (Unknown)\r\n"
                                              "ERROR:  Unsupported XSVF command\r\n"
                                              "ERROR at or near XSVF command #1."));
}

TEST_F(PlayerTest, XwaitAbove15TracesUnknownAndSendsNothing)
{
    EXPECT_EQ(XSVF_ERROR_ILLEGALSTATE, Play(CXsvfBuilder().Wait(16, 1, 1000).Stream()));
    EXPECT_NE(std::string::npos, Trace().find("  XWAIT\r\n   XWAIT:  state = Unknown; time = 1000\r\n"
                                              "ERROR:  Illegal state specification\r\n"));
}

TEST_F(PlayerTest, XenddrTwoWritesNoStateLine)
{
    EXPECT_EQ(XSVF_ERROR_ILLEGALSTATE, Play(CXsvfBuilder().EndDr(2).Stream()));
    EXPECT_NE(std::string::npos, Trace().find("  XENDDR\r\nERROR:  Illegal state specification\r\n"));
}

TEST_F(PlayerTest, XcommentEchoesToStandardOutputOnly)
{
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(XSVF_SUCCESS, Play(CXsvfBuilder().Comment("erase done").Complete().Stream()));
    EXPECT_EQ(" erase done\n", ::testing::internal::GetCapturedStdout());
    EXPECT_EQ(std::string(TRACE_START) +
                  "  XCOMMENT\r\n  XCOMPLETE\r\nSUCCESS - Completed XSVF execution.\r\n",
              Trace());
}

TEST_F(PlayerTest, SecondRunTruncatesTheTrace)
{
    Play(CXsvfBuilder().Comment("x").Repeat(1).Repeat(2).Stream());
    const size_t first = Trace().size();
    Play(CXsvfBuilder().Complete().Stream());
    EXPECT_LT(Trace().size(), first);
    EXPECT_EQ(0u, Trace().rfind("Start der Aufzeichnung", 0));
}

// ---- cancel, link failures, trace file ---------------------------------------------

TEST_F(PlayerTest, CancelAfterACommandFinishesItThenEnds7WithFinishFrame)
{
    configureHost = [](CVectorXsvfHost& h) { h.cancelAfterProgress = 2; };
    EXPECT_EQ(XSVF_CANCELLED,
              Play(CXsvfBuilder().SdrSize(8).Sdrb({1}).Sdrb({2}).Complete().Stream()));
    EXPECT_EQ("T0 T1 T0 T0 S8:08 F", FramesAfterReset());
    EXPECT_NE(std::string::npos, Trace().find("Update cancelled by user\r\n"
                                              "ERROR at or near XSVF command #2."));
}

TEST_F(PlayerTest, CancelWhileBusySendsEndByteAndNothingAfter)
{
    device.answer = [this](const Bytes& p, size_t) {
        if (!p.empty() && p[0] == CMD_DELAY) {
            host->cancel = true;  // confirmed during the device's long wait
            device.cancel = true;
            return Bytes{JTAG_WAIT, JTAG_WAIT, JTAG_WAIT};
        }
        return DefaultAnswer(p);
    };
    EXPECT_EQ(XSVF_CANCELLED,
              Play(CXsvfBuilder().Wait(1, 1, 5000000).Sdrb({1}).Complete().Stream()));
    EXPECT_EQ("T0 W5000000 A2", FramesAfterReset());
    EXPECT_NE(std::string::npos, Trace().find("Update cancelled by user\r\n"
                                              "ERROR at or near XSVF command #1."));
}

TEST_F(PlayerTest, LinkFailuresEndTheRunWithoutFinishFrame)
{
    device.answer = [](const Bytes& p, size_t index) {
        return index == 9 ? Bytes{} : DefaultAnswer(p);
    };
    EXPECT_EQ(XSVF_ERROR_NOANSWER, Play(CXsvfBuilder().State(1).State(4).Complete().Stream()));
    EXPECT_EQ("T0 T1 T0", FramesAfterReset());
    EXPECT_NE(std::string::npos,
              Trace().find("Failed: Target is not responding\r\nERROR at or near XSVF command #2."));
}

TEST_F(PlayerTest, SilentFinishFrameKeepsTheResult)
{
    device.answer = [](const Bytes& p, size_t) {
        return p[0] == CMD_FINISH ? Bytes{} : DefaultAnswer(p);
    };
    EXPECT_EQ(XSVF_SUCCESS, Play(CXsvfBuilder().Complete().Stream()));
}

TEST_F(PlayerTest, UncreatableTraceIs8WithMessageAndNoTraffic)
{
    CVectorXsvfHost h(CXsvfBuilder().Complete().Stream());
    EXPECT_EQ(XSVF_ERROR_DEBUGFILE, PlayXsvf(h, transport, device, dir.Path() + "/missing"));
    ASSERT_EQ(1u, h.messages.size());
    EXPECT_EQ("Debugdatei xsvf_debug.txt kann nicht geöffnet werden !", h.messages[0]);
    EXPECT_TRUE(device.Writes().empty());
    EXPECT_EQ(0u, h.BytesRead());
}

TEST_F(PlayerTest, EveryRunResendsItsFirstSections)
{
    const Bytes stream = CXsvfBuilder().SdrSize(8).Sdrb({0x5A}).Complete().Stream();
    ASSERT_EQ(XSVF_SUCCESS, Play(stream));
    const std::string first = AllFrames();
    ASSERT_EQ(XSVF_SUCCESS, Play(stream));
    EXPECT_EQ(first + " " + first, AllFrames());
    EXPECT_NE(std::string::npos, first.find("S8:08"));
}

// ---- XSDRINC arithmetic ----------------------------------------------------------

TEST(XsdrIncTest, AddsWithCarryThenScattersDataBits)
{
    auto make = [](const Bytes& bytes) {
        auto buffer = std::make_unique<ShiftBuffer>();
        std::memset(buffer.get(), 0, sizeof *buffer);
        buffer->length = static_cast<int16_t>(bytes.size());
        std::copy(bytes.begin(), bytes.end(), buffer->bytes);
        return buffer;
    };
    auto tdi = make({0x00, 0xFF, 0x10});
    // address +1 with a carry across the middle byte; data bits: high nibble of
    // the last byte and bit 0 of the first byte.
    const auto address = make({0x00, 0x01, 0xF0});
    const auto dataMask = make({0x01, 0x00, 0xF0});
    EXPECT_EQ(5, CountOneBits(*dataMask));
    const auto next = make({0x0A});  // bits 0..4: 0,1,0,1,0
    XsdrIncStep(*tdi, *address, *dataMask, *next);
    // sum: 00 FF 10 + 00 01 F0 = 01 01 00; then last byte bits 4..7 := 0,1,0,1
    // -> 0xA0, and the first byte's bit 0 (set by the carry) := 0.
    EXPECT_EQ(0x00, tdi->bytes[0]);
    EXPECT_EQ(0x01, tdi->bytes[1]);
    EXPECT_EQ(0xA0, tdi->bytes[2]);
}
