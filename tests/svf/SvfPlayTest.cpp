// Converted streams played by the real player against the JTAG engine in SVF
// expectation mode: every scan must arrive as the SVF file asks, in order.
// Also shows that the expectation target catches wrong streams.

#include "JtagEngine.h"
#include "ScriptedJtagDevice.h"
#include "SvfToXsvf.h"
#include "XsvfPlayer.h"
#include "XsvfWriter.h"

#include <gtest/gtest.h>

using namespace devupdate::xsvf;
using namespace devupdate::devsim;
using namespace devupdate::svf;
using namespace devupdate::xsvfgen;

namespace {

// Plays the stream against an engine that expects the SVF file's scans.
struct SPlayed {
    int result;
    SSvfCheck check;
    ETapState finalState;
};

SPlayed Play(const Bytes& stream, const std::string& svf)
{
    CJtagEngine engine;
    engine.ExpectSvf(SvfScans(ReadSvf(svf)));
    const SReplay replay = ReplayXsvf(stream, [&engine](const Bytes& payload, size_t) {
        const SJtagResult r = engine.Execute(payload.data(), payload.size());
        return r.accepted ? r.answer : Bytes{0x22};
    });
    return {replay.result, engine.Svf()->Check(), engine.Tap().State()};
}

struct SPlayCase {
    const char* name;
    std::string svf;
    ETapState finalState;
};

class SvfPlayTest : public ::testing::TestWithParam<SPlayCase> {};

TEST_P(SvfPlayTest, EveryScanArrivesAsTheFileAsks)
{
    const SPlayed played = Play(ConvertSvfToXsvf(GetParam().svf).xsvf, GetParam().svf);
    EXPECT_EQ(played.result, XSVF_SUCCESS);
    EXPECT_TRUE(played.check.Passed()) << played.check.firstMismatch;
    EXPECT_EQ(played.check.firstMismatch, "");
    EXPECT_EQ(played.finalState, GetParam().finalState);
}

const SPlayCase PLAY_CASES[] = {
    {"ChecksWithMasksAndStickyValues",
     "STATE RESET; STATE IDLE;\n"
     "SIR 8 TDI (01) TDO (01) MASK (03);\n"
     "SDR 32 TDI (00000000) TDO (F6E5F093) MASK (0FFF8FFF);\n"
     "SDR 32 TDI (FFFFFFFF) TDO (F6E5F093);\n"
     "SDR 32;\n"
     "SDR 13 TDI (0089);\n",
     TAP_IDLE},
    {"HeadersAndTrailersOnBothRegisters",
     "HIR 3 TDI (7); TIR 2 TDI (3); HDR 1 TDI (1) TDO (0); TDR 2 TDI (0);\n"
     "SIR 10 TDI (2A1); SDR 11 TDI (00D) TDO (00D); SDR 11 TDI (7FF);\n"
     "HIR 0; TIR 0; HDR 0; TDR 0; SIR 10 TDI (3FF);\n",
     TAP_IDLE},
    {"PauseEndStatesAndAFileEndingInPause",
     "ENDIR IRPAUSE; ENDDR DRPAUSE; STATE IDLE;\n"
     "SIR 10 TDI (005); SDR 34 TDI (ABCDEF01) TDO (149511C3) MASK (FFFFFFFF);\n"
     "SIR 10 TDI (006); SDR 34;\n",
     TAP_DRPAUSE},
    {"RunTestsFoldedAndStandalone",
     "FREQUENCY 1E5 HZ; ENDIR IRPAUSE; STATE IDLE;\n"
     "SIR 10 TDI (005); RUNTEST IDLE 4 TCK ENDSTATE IDLE;\n"
     "SDR 16 TDI (7FFF); RUNTEST 10 TCK; SDR 16 TDI (FFFF) TDO (2AA2); RUNTEST 10 TCK;\n"
     "SDR 16 TDI (BFFF);\n"
     "STATE DRPAUSE; RUNTEST DRPAUSE 20 TCK; RUNTEST IDLE 1E-3 SEC ENDSTATE IRPAUSE;\n"
     "SIR 10 TDI (2F2); RUNTEST IDLE 0 TCK ENDSTATE IDLE; SDR 16 TDI (0001);\n",
     TAP_IDLE},
    {"StatePathsThroughCaptureAndUpdate",
     "ENDIR IRPAUSE; SIR 8 TDI (ED);\n"
     "STATE IREXIT2 IRUPDATE DRSELECT DRCAPTURE DREXIT1 DRPAUSE; RUNTEST DRPAUSE 20 TCK;\n"
     "STATE IDLE; SIR 8 TDI (F0);\n"
     "STATE IREXIT2 IRUPDATE DRSELECT DRCAPTURE DREXIT1 DRUPDATE IDLE;\n"
     "SDR 8 TDI (5A); TRST ON; TRST OFF; SIR 8 TDI (C0);\n",
     TAP_IRPAUSE},
    {"LongScansInPiecesCheckedAndNot",
     "SDR 120000 TDI (" + std::string(30000, 'C') + ") TDO (" + std::string(30000, '3') + ");\n"
     "SDR 60001 TDI (1" + std::string(15000, '9') + ") TDO (0) MASK (" + std::string(14000, 'F') + ");\n"
     "ENDDR DRPAUSE; SDR 60001; ENDDR IDLE; SIR 8 TDI (01);\n",
     TAP_IDLE},
};

INSTANTIATE_TEST_SUITE_P(Programs, SvfPlayTest, ::testing::ValuesIn(PLAY_CASES),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SvfExpectation, AWrongTdiBitIsReportedWithItsScanAndLine)
{
    Bytes stream = ConvertSvfToXsvf("SIR 8 TDI (01);\nSDR 8 TDI (81);").xsvf;
    ASSERT_EQ(stream[stream.size() - 2], 0x81);
    stream[stream.size() - 2] = 0x80;
    const SPlayed played = Play(stream, "SIR 8 TDI (01);\nSDR 8 TDI (81);");
    EXPECT_EQ(played.result, XSVF_SUCCESS);
    EXPECT_FALSE(played.check.Passed());
    EXPECT_EQ(played.check.matched, 1u);
    EXPECT_EQ(played.check.firstMismatch, "scan 2 (line 2): TDI bit 0 is 0, expected 1");
}

TEST(SvfExpectation, AScanOfTheWrongKindOrLengthIsReported)
{
    CXsvfWriter w;
    w.Sir(8, {0x01}).SdrSize(9).TdoMask({0, 0}).Sdr({0, 1}).Sdr({0, 1}).Complete();
    const SPlayed played = Play(w.Stream(), "SIR 8 TDI (01); SIR 8 TDI (01);");
    EXPECT_EQ(played.check.seen, 3u);
    EXPECT_EQ(played.check.firstMismatch, "scan 2 (line 1): SIR of 8 bits expected, SDR of 9 bits seen");
}

TEST(SvfExpectation, MissingScansFailTheCheck)
{
    const SPlayed played = Play(CXsvfWriter().Complete().Stream(), "SIR 8 TDI (01);");
    EXPECT_EQ(played.result, XSVF_SUCCESS);
    EXPECT_FALSE(played.check.Passed());
    EXPECT_EQ(played.check.firstMismatch, "only 0 of 1 scans seen");
}

TEST(SvfExpectation, BitsTheFileLeavesOpenAnswerWrongSoOverCheckingFails)
{
    CXsvfWriter w;
    w.SdrSize(8).TdoMask({0xFF}).SdrTdo({0x00}, {0x05}).Complete();
    EXPECT_EQ(Play(w.Stream(), "SDR 8 TDI (00) TDO (05) MASK (0F);").result, XSVF_ERROR_TDOMISMATCH);
    CXsvfWriter masked;
    masked.SdrSize(8).TdoMask({0x0F}).SdrTdo({0x00}, {0x05}).Complete();
    EXPECT_EQ(Play(masked.Stream(), "SDR 8 TDI (00) TDO (05) MASK (0F);").result, XSVF_SUCCESS);
}

}  // namespace
