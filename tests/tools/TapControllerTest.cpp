// The pin-level TAP controller: every transition of the state diagram, and
// clocking on the rising edge only.

#include "TapController.h"

#include <gtest/gtest.h>

using namespace devupdate::devsim;

namespace {

struct STransition {
    ETapState from;
    ETapState tms0;
    ETapState tms1;
};

class TapTransitionTest : public ::testing::TestWithParam<STransition> {};

TEST_P(TapTransitionTest, FollowsTheStateDiagram)
{
    EXPECT_EQ(CTapController::NextState(GetParam().from, false), GetParam().tms0);
    EXPECT_EQ(CTapController::NextState(GetParam().from, true), GetParam().tms1);
}

INSTANTIATE_TEST_SUITE_P(AllStates, TapTransitionTest, ::testing::Values(
    STransition{TAP_RESET, TAP_IDLE, TAP_RESET},
    STransition{TAP_IDLE, TAP_IDLE, TAP_DRSELECT},
    STransition{TAP_DRSELECT, TAP_DRCAPTURE, TAP_IRSELECT},
    STransition{TAP_DRCAPTURE, TAP_DRSHIFT, TAP_DREXIT1},
    STransition{TAP_DRSHIFT, TAP_DRSHIFT, TAP_DREXIT1},
    STransition{TAP_DREXIT1, TAP_DRPAUSE, TAP_DRUPDATE},
    STransition{TAP_DRPAUSE, TAP_DRPAUSE, TAP_DREXIT2},
    STransition{TAP_DREXIT2, TAP_DRSHIFT, TAP_DRUPDATE},
    STransition{TAP_DRUPDATE, TAP_IDLE, TAP_DRSELECT},
    STransition{TAP_IRSELECT, TAP_IRCAPTURE, TAP_RESET},
    STransition{TAP_IRCAPTURE, TAP_IRSHIFT, TAP_IREXIT1},
    STransition{TAP_IRSHIFT, TAP_IRSHIFT, TAP_IREXIT1},
    STransition{TAP_IREXIT1, TAP_IRPAUSE, TAP_IRUPDATE},
    STransition{TAP_IRPAUSE, TAP_IRPAUSE, TAP_IREXIT2},
    STransition{TAP_IREXIT2, TAP_IRSHIFT, TAP_IRUPDATE},
    STransition{TAP_IRUPDATE, TAP_IDLE, TAP_DRSELECT}));

void Clock(CTapController& tap, bool tms)
{
    tap.SetTms(tms);
    tap.SetTck(false);
    tap.SetTck(true);
}

TEST(TapController, ChangesStateOnTheRisingEdgeOnly)
{
    CModelPart part;
    CTapController tap(part);
    tap.SetTms(false);
    tap.SetTck(true);   // rising edge: Reset -> Idle
    EXPECT_EQ(tap.State(), TAP_IDLE);
    tap.SetTms(true);
    tap.SetTck(true);   // no edge
    tap.SetTck(false);  // falling edge
    EXPECT_EQ(tap.State(), TAP_IDLE);
    tap.SetTck(true);
    EXPECT_EQ(tap.State(), TAP_DRSELECT);
}

TEST(TapController, ShiftsThroughTheSelectedRegisterAndResetSelectsIdcode)
{
    CModelPart part;
    CTapController tap(part);
    for (bool tms : {false, true, true, false, false})  // to Shift-IR
        Clock(tap, tms);
    ASSERT_EQ(tap.State(), TAP_IRSHIFT);
    for (int i = 0; i < 8; ++i) {
        tap.SetTdi(((INS_ADDRESS >> i) & 1) != 0);
        Clock(tap, i == 7);
    }
    Clock(tap, true);  // Update-IR
    EXPECT_EQ(part.Instruction(), INS_ADDRESS);
    EXPECT_TRUE(tap.Tdo()) << "outside the Shift states TDO reads the pull-up";
    ASSERT_EQ(tap.Scans().size(), 1u);
    EXPECT_EQ(tap.Scans()[0].TdiValue(), INS_ADDRESS);

    for (int i = 0; i < 5; ++i)
        Clock(tap, true);
    EXPECT_EQ(tap.State(), TAP_RESET);
    EXPECT_EQ(part.Instruction(), INS_IDCODE);
}

}  // namespace
