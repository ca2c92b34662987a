// SVF to XSVF, construct by construct: the exact command stream for each
// construct, and the refusals with the line they name.

#include "SvfToXsvf.h"
#include "XsvfSizeCheck.h"
#include "XsvfWriter.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>

using namespace devupdate::xsvf;
using namespace devupdate::svf;
using namespace devupdate::xsvfgen;

namespace {

struct SStreamCase {
    const char* name;
    std::string svf;
    std::function<void(CXsvfWriter&)> expected;  // between XREPEAT 0 and XCOMPLETE
};

class SvfStreamTest : public ::testing::TestWithParam<SStreamCase> {};

TEST_P(SvfStreamTest, WritesTheExpectedCommands)
{
    CXsvfWriter expected;
    expected.Repeat(0);
    GetParam().expected(expected);
    expected.Complete();
    EXPECT_EQ(ConvertSvfToXsvf(GetParam().svf).xsvf, expected.Stream());
}

const SStreamCase STREAM_CASES[] = {
    {"SirUpTo255BitsIsXsir", "SIR 8 TDI (A5);", [](CXsvfWriter& w) { w.Sir(8, {0xA5}); }},
    {"LongerSirIsXsir2", "SIR 300 TDI (1);",
     [](CXsvfWriter& w) { w.Sir2(300, CXsvfWriter::Value(1, 38)); }},
    {"UncheckedSdrLoadsAnEmptyMask", "SDR 16 TDI (1234);",
     [](CXsvfWriter& w) { w.SdrSize(16).TdoMask({0, 0}).Sdr({0x12, 0x34}); }},
    {"MaskStaysAndAnExpectedValueAlreadyLoadedNeedsOnlyXsdr",
     "SDR 8 TDI (01) TDO (80) MASK (F0); SDR 8 TDI (02) TDO (80);",
     [](CXsvfWriter& w) { w.SdrSize(8).TdoMask({0xF0}).SdrTdo({0x01}, {0x80}).Sdr({0x02}); }},
    {"TdoIsComparedOnlyWhereGivenAndTdiStaysForTheSameLength", "SDR 8 TDI (0F) TDO (0F); SDR 8; SDR 8 TDO (0F);",
     [](CXsvfWriter& w) {
         w.SdrSize(8).TdoMask({0xFF}).SdrTdo({0x0F}, {0x0F}).TdoMask({0x00}).Sdr({0x0F});
         w.TdoMask({0xFF}).Sdr({0x0F});
     }},
    {"MaskGoesBackToAllOnesWhenTheLengthChanges", "SDR 8 TDI (0) TDO (1) MASK (1); SDR 4 TDI (0) TDO (1);",
     [](CXsvfWriter& w) {
         w.SdrSize(8).TdoMask({0x01}).SdrTdo({0x00}, {0x01});
         w.SdrSize(4).TdoMask({0x0F}).SdrTdo({0x00}, {0x01});
     }},
    {"HeaderShiftsFirstAndTrailerLast", "HDR 2 TDI (3); TDR 3 TDI (5); SDR 4 TDI (A);",
     // 5 << 6 | 0xA << 2 | 3
     [](CXsvfWriter& w) { w.SdrSize(9).TdoMask({0, 0}).Sdr({0x01, 0x6B}); }},
    {"InstructionHeaderAndTrailer", "HIR 1 TDI (1); TIR 1 TDI (0); SIR 4 TDI (5);",
     [](CXsvfWriter& w) { w.Sir(6, {0x0B}); }},
    {"HeaderTdoIsCheckedInEveryScan", "HDR 1 TDI (0) TDO (1); SDR 2 TDI (3); SDR 2 TDI (1);",
     [](CXsvfWriter& w) { w.SdrSize(3).TdoMask({0x01}).SdrTdo({0x06}, {0x01}).Sdr({0x02}); }},
    {"EndStatesOnlyWhenTheyChange", "ENDDR DRPAUSE; SDR 1 TDI (1); SDR 1 TDI (1); ENDDR IDLE; ENDIR IRPAUSE; SDR 1 TDI (0);",
     [](CXsvfWriter& w) { w.SdrSize(1).EndDr(1).TdoMask({0}).Sdr({1}).Sdr({1}).EndDr(0).Sdr({0}); }},
    {"RunTestInIdleAfterAScanFoldsIntoXruntest", "ENDIR IRPAUSE; SIR 8 TDI (1); RUNTEST 100 TCK; SIR 8 TDI (2);",
     [](CXsvfWriter& w) { w.EndIr(1).RunTest(100).Sir(8, {1}).RunTest(0).Sir(8, {2}); }},
    {"RunTestInAPauseStateIsXwait", "STATE DRPAUSE; RUNTEST DRPAUSE 20 TCK; RUNTEST 1 TCK;",
     // The run state stays DRPAUSE, and so does the end state.
     [](CXsvfWriter& w) { w.State(6).Wait(6, 6, 20).Wait(6, 6, 1); }},
    {"RunTestEndStateAndSeconds", "RUNTEST IDLE 5E-3 SEC ENDSTATE DRPAUSE; RUNTEST 50021E-6 SEC;",
     [](CXsvfWriter& w) { w.Wait(1, 6, 5000).Wait(1, 6, 50021); }},
    {"RunTestTakesTheLongerOfCountAndTime", "RUNTEST 10 TCK 2E-5 SEC MAXIMUM 1 SEC;",
     [](CXsvfWriter& w) { w.Wait(1, 1, 20); }},
    {"ClocksBelow1MHzCountAtTheDeclaredFrequency", "FREQUENCY 1E5 HZ; RUNTEST 10 TCK; FREQUENCY 4E6 HZ; RUNTEST 10 TCK;",
     [](CXsvfWriter& w) { w.Wait(1, 1, 100).Wait(1, 1, 10); }},
    {"RunTestWithoutTimeOnlyMoves", "RUNTEST IDLE 0 TCK ENDSTATE DRPAUSE;",
     [](CXsvfWriter& w) { w.State(1).State(6); }},
    {"StateToWhereThePlayerIsSendsNothingButResetRepeats", "STATE IDLE; STATE IDLE; STATE DRPAUSE; STATE DRPAUSE; STATE RESET; STATE RESET;",
     [](CXsvfWriter& w) { w.State(1).State(6).State(0).State(0); }},
    {"StatePathIsClockedStepByStep", "STATE IRPAUSE; STATE IREXIT2 IRUPDATE DRSELECT DRCAPTURE DREXIT1 DRUPDATE IDLE;",
     [](CXsvfWriter& w) { w.State(13).State(14).State(15).State(2).State(3).State(5).State(8).State(1); }},
    {"TrstOnResetsFrequencyAndOtherTrstChangeNothing", "FREQUENCY 1E6 HZ; TRST OFF; TRST ABSENT; TRST Z; TRST ON;",
     [](CXsvfWriter& w) { w.State(0); }},
    {"CommentsCaseAndValuesAcrossLines", "! a comment\nsdr 12 tdi (A\n  BC) // another\n;",
     [](CXsvfWriter& w) { w.SdrSize(12).TdoMask({0, 0}).Sdr({0x0A, 0xBC}); }},
};

INSTANTIATE_TEST_SUITE_P(Constructs, SvfStreamTest, ::testing::ValuesIn(STREAM_CASES),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SvfConversion, RepeatOptionComesFirst)
{
    CXsvfWriter expected;
    expected.Repeat(3).Sir(1, {1}).Complete();
    EXPECT_EQ(ConvertSvfToXsvf("SIR 1 TDI (1);", SSvfOptions{3}).xsvf, expected.Stream());
}

TEST(SvfConversion, LongDataScansAreSplitIntoPiecesThatFit)
{
    // 60000 bits: 56000 compared bits, then 4000 that are not compared.
    const std::string svf = "SDR 60000 TDI (5) TDO (0) MASK (" + std::string(14000, 'F') + ");";
    const SSvfConversion c = ConvertSvfToXsvf(svf);
    const Bytes& s = c.xsvf;
    EXPECT_EQ(c.statistics.splitScans, 1u);
    const size_t piece1 = 7000, piece2 = 500;
    ASSERT_EQ(s.size(), 2 + 5 + 1 + 2 * piece1 + 5 + 1 + piece2 + 1);
    EXPECT_EQ(Bytes(s.begin() + 2, s.begin() + 8), (Bytes{XSDRSIZE, 0, 0, 0xDA, 0xC0, XSDRTDOB}));
    EXPECT_EQ(s[8 + piece1 - 1], 0x05) << "the first piece holds the first bits shifted";
    const size_t second = 8 + 2 * piece1;
    EXPECT_EQ(Bytes(s.begin() + static_cast<long>(second), s.begin() + static_cast<long>(second) + 6),
              (Bytes{XSDRSIZE, 0, 0, 0x0F, 0xA0, XSDRE}));
    EXPECT_EQ(s.back(), XCOMPLETE);
}

TEST(SvfConversion, StatisticsCountCommandsBytesAndWaits)
{
    const std::string svf = "SIR 8 TDI (1) TDO (1);\nSDR 8 TDI (2);\nRUNTEST 30 TCK;\nTRST OFF;\n";
    const SSvfConversion c = ConvertSvfToXsvf(svf);
    EXPECT_EQ(FormatSvfStatistics(c.statistics),
              "4 SVF commands in, 7 XSVF commands out, " + std::to_string(svf.size()) + " bytes in, " +
                  std::to_string(c.xsvf.size()) + " bytes out (1 SIR, 1 SDR, 1 SIR TDO checks dropped, 30 us of waits)");
    ASSERT_EQ(c.notes.size(), 1u);
    EXPECT_EQ(c.notes[0], "line 1: SIR TDO is not checked (XSVF has no instruction-register check)");
}

struct SRefusal {
    const char* name;
    std::string svf;
    std::string message;
};

class SvfRefusalTest : public ::testing::TestWithParam<SRefusal> {};

TEST_P(SvfRefusalTest, NamesTheLine)
{
    try {
        ConvertSvfToXsvf(GetParam().svf);
        FAIL() << "converted";
    } catch (const CSvfError& error) {
        EXPECT_EQ(std::string(error.what()), GetParam().message);
    }
}

std::string Repeated(const std::string& piece, size_t times)
{
    std::string text;
    for (size_t i = 0; i < times; ++i)
        text += piece;
    return text;
}

const SRefusal REFUSALS[] = {
    {"Pio", "STATE IDLE;\nPIO (HL);", "line 2: PIO is not supported"},
    {"PioMap", "PIOMAP (IN A);", "line 1: PIOMAP is not supported"},
    {"EndDrInAnIrState", "ENDDR IRPAUSE;", "line 1: ENDDR must be IDLE or DRPAUSE"},
    {"EndIrInAnExitState", "\n\nENDIR IREXIT1;", "line 3: ENDIR must be IDLE or IRPAUSE"},
    {"StateEndingUnstable", "STATE DRSHIFT;", "line 1: STATE must end in IDLE, DRPAUSE, IRPAUSE or RESET"},
    {"PathStepThatIsNoClock", "STATE IDLE;\nSTATE DRCAPTURE DRPAUSE;", "line 2: STATE: DRCAPTURE does not follow IDLE"},
    {"PathStayingInPause", "STATE IDLE;\nSTATE DRSELECT DRCAPTURE DREXIT1 DRPAUSE DRPAUSE;",
     "line 2: STATE: a clock that stays in DRPAUSE cannot be played"},
    {"SystemClocks", "RUNTEST 10 SCK;", "line 1: RUNTEST with SCK counts cannot be played: the device has no system clock"},
    {"RunStateNotStable", "RUNTEST DRSHIFT 10 TCK;",
     "line 1: RUNTEST: the run state must be IDLE, DRPAUSE, IRPAUSE or RESET: DRSHIFT"},
    {"WaitTooLongForTheStream", "RUNTEST 3000 SEC;", "line 1: a wait longer than 2147483647 microseconds cannot be played"},
    {"SirTooLong", "SIR 56001 TDI (0);", "line 1: SIR of 56001 bits is longer than XSIR2 can shift (56000)"},
    {"HeaderMakesSirTooLong", "HIR 56000 TDI (0);\nSIR 1 TDI (1);",
     "line 2: SIR of 56001 bits is longer than XSIR2 can shift (56000)"},
    {"SplitPieceComparedInPart", "SDR 56001 TDI (0) TDO (0) MASK (FFFE);",
     "line 1: SDR of 56001 bits must be split, and a piece is compared in part only"},
    {"ValueWiderThanTheLength", "SDR 8 TDI (100);", "line 1: TDI has more bits than the length 8"},
    {"NewLengthWithoutTdi", "SDR 8 TDI (1);\nSDR 9 TDO (0);", "line 2: SDR: TDI is required when the length changes"},
    {"EmptyScan", "SIR 0;", "line 1: SIR of 0 bits cannot be played"},
    {"MissingSemicolon", "SDR 8 TDI (1)", "line 1: the last statement has no ';'"},
    {"UnclosedValue", "SDR 8 TDI (1;\n", "line 1: a value in parentheses is not closed"},
    {"NotHex", "SDR 8 TDI (G1);", "line 1: TDI is not hexadecimal"},
    {"UnknownKeyword", "SDR 8 TDX (1);", "line 1: SDR: unexpected TDX"},
    // Bounds that keep a malformed file from making memory grow with its size.
    {"EndlessValue", "SDR 8 TDI (" + Repeated("F", 4 * 1024 * 1024 + 1) + ");",
     "line 1: a value of more than 16777215 bits"},
    {"EndlessStatement", "STATE" + Repeated(" IDLE", 4097) + ";",
     "line 1: a statement of more than 4096 words"},
};

INSTANTIATE_TEST_SUITE_P(Statements, SvfRefusalTest, ::testing::ValuesIn(REFUSALS),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

namespace {

// The first pass names the statement that makes the stream too large: the
// header or trailer whose sticky length dominates the scan, else the scan.
struct SSizeRefusal {
    const char* svf;
    const char* message;
};

TEST(XsvfSizeCheck, NamesTheStatementThatMakesTheStreamTooLarge)
{
    const SSizeRefusal cases[] = {
        {"HDR 64 TDI (0);\nTDR 200 TDI (0);\nSDR 1 TDI (1);",
         "line 2: TDR 200 makes every scan so long that the XSVF stream would exceed 100 bytes (at line 3)"},
        {"HIR 300 TDI (0);\nSIR 8 TDI (1);", "line 1: HIR 300 makes every scan so long that the XSVF stream would "
                                             "exceed 100 bytes (at line 2)"},
        {"HDR 8 TDI (0);\nSDR 400 TDI (0);", "line 2: the XSVF stream would exceed 100 bytes, more than an update "
                                             "file holds"},
    };
    for (const SSizeRefusal& c : cases) {
        std::istringstream in(c.svf);
        try {
            CheckXsvfSize(in, 100);
            ADD_FAILURE() << "accepted: " << c.svf;
        } catch (const CSvfError& error) {
            EXPECT_EQ(std::string(error.what()), c.message);
        }
        std::istringstream small("HDR 64 TDI (0);\nSDR 8 TDI (1);");
        EXPECT_NO_THROW(CheckXsvfSize(small, 100));
    }
}

}  // namespace
