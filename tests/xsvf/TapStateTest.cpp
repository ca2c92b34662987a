// TAP moves: the TMS levels sent for each path, the end state and result.
#include "JtagTransport.h"
#include "ScriptedJtagDevice.h"
#include "TapState.h"
#include "TempDir.h"
#include "XsvfTrace.h"

#include <gtest/gtest.h>

#include <string>

using namespace devupdate::xsvf;

namespace {

// One character per pin frame: the TMS level it clocks, or '+' for a clock
// with TMS left as it was (the reset sequence's extra clocks).
std::string TmsLevels(const CJtagFrameScript& device)
{
    std::string levels;
    for (const Bytes& payload : device.Payloads()) {
        if (payload == Bytes{0x42, 0x10, 0x01, 0x11})
            levels += '1';
        else if (payload == Bytes{0x42, 0x00, 0x01, 0x11})
            levels += '0';
        else if (payload == Bytes{0x42, 0x01, 0x11})
            levels += '+';
        else
            levels += '?';
    }
    return levels;
}

struct SMoveCase {
    const char* name;
    uint8_t from;
    uint8_t to;
    const char* tms;
    uint8_t end;
    int result;
};

class TapMoveTest : public ::testing::TestWithParam<SMoveCase> {};

}  // namespace

TEST_P(TapMoveTest, SendsTheTmsPath)
{
    const SMoveCase& c = GetParam();
    CScriptedJtagDevice device;
    CJtagTransport transport;
    transport.BeginRun(device);
    CXsvfTrace trace;
    uint8_t state = c.from;
    EXPECT_EQ(c.result, MoveToTapState(transport, trace, state, c.to));
    EXPECT_EQ(c.tms, TmsLevels(device));
    EXPECT_EQ(c.end, state);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, TapMoveTest,
    ::testing::Values(
        SMoveCase{"ResetFromReset", TAP_RESET, TAP_RESET, "1+++++", TAP_RESET, 0},
        SMoveCase{"ResetFromShift", TAP_DRSHIFT, TAP_RESET, "1+++++", TAP_RESET, 0},
        SMoveCase{"ResetToIdle", TAP_RESET, TAP_IDLE, "0", TAP_IDLE, 0},
        SMoveCase{"IdleToDrShift", TAP_IDLE, TAP_DRSHIFT, "100", TAP_DRSHIFT, 0},
        SMoveCase{"IdleToIrShift", TAP_IDLE, TAP_IRSHIFT, "1100", TAP_IRSHIFT, 0},
        SMoveCase{"IdleToIrPause", TAP_IDLE, TAP_IRPAUSE, "11010", TAP_IRPAUSE, 0},
        SMoveCase{"DrPauseToItself", TAP_DRPAUSE, TAP_DRPAUSE, "111010", TAP_DRPAUSE, 0},
        SMoveCase{"IrPauseToItself", TAP_IRPAUSE, TAP_IRPAUSE, "1111010", TAP_IRPAUSE, 0},
        SMoveCase{"DrShiftToItself", TAP_DRSHIFT, TAP_DRSHIFT, "", TAP_DRSHIFT, 0},
        SMoveCase{"DrExit1ToDrExit2", TAP_DREXIT1, TAP_DREXIT2, "", TAP_DREXIT1, 5},
        SMoveCase{"DrShiftToIrExit2", TAP_DRSHIFT, TAP_IREXIT2, "", TAP_DRSHIFT, 5},
        SMoveCase{"DrPauseToDrExit2", TAP_DRPAUSE, TAP_DREXIT2, "1", TAP_DREXIT2, 0},
        SMoveCase{"IrPauseToIrExit2", TAP_IRPAUSE, TAP_IREXIT2, "1", TAP_IREXIT2, 0},
        SMoveCase{"IrExit1ToDrShift", TAP_IREXIT1, TAP_DRSHIFT, "1100", TAP_DRSHIFT, 0},
        SMoveCase{"DrExit1ToIdle", TAP_DREXIT1, TAP_IDLE, "10", TAP_IDLE, 0},
        SMoveCase{"DrExit1ToDrPause", TAP_DREXIT1, TAP_DRPAUSE, "0", TAP_DRPAUSE, 0},
        SMoveCase{"DrPauseToDrShift", TAP_DRPAUSE, TAP_DRSHIFT, "10", TAP_DRSHIFT, 0},
        SMoveCase{"IrExit1ToIdle", TAP_IREXIT1, TAP_IDLE, "10", TAP_IDLE, 0},
        SMoveCase{"DrUpdateToIrShift", TAP_DRUPDATE, TAP_IRSHIFT, "1100", TAP_IRSHIFT, 0},
        SMoveCase{"IrUpdateToIdle", TAP_IRUPDATE, TAP_IDLE, "0", TAP_IDLE, 0},
        SMoveCase{"TargetAbove15", TAP_IDLE, 16, "", TAP_IDLE, 5},
        SMoveCase{"Target255", TAP_DRPAUSE, 255, "", TAP_DRPAUSE, 5}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TapTraceTest, TracesEveryStateAndTheResetSequence)
{
    CTempDir dir;
    CScriptedJtagDevice device;
    CJtagTransport transport;
    transport.BeginRun(device);
    CXsvfTrace trace;
    ASSERT_TRUE(trace.Open(dir.Path() + "/trace.txt"));
    uint8_t state = TAP_IDLE;
    MoveToTapState(transport, trace, state, TAP_DRSHIFT);
    MoveToTapState(transport, trace, state, TAP_RESET);
    trace.Close();
    EXPECT_EQ("   TAP State = DRSELECT\r\n"
              "   TAP State = DRCAPTURE\r\n"
              "   TAP State = DRSHIFT\r\n"
              "   TMS Reset Sequence -> Test-Logic-Reset\r\n"
              "   TAP State = RESET\r\n",
              dir.Read("trace.txt"));
}

TEST(TapTraceTest, StateNames)
{
    EXPECT_STREQ("RUNTEST/IDLE", TapStateName(TAP_IDLE));
    EXPECT_STREQ("IRUPDATE", TapStateName(TAP_IRUPDATE));
    EXPECT_STREQ("Unknown", TapStateName(16));
}
