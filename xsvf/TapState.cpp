#include "TapState.h"

#include "JtagTransport.h"
#include "XsvfPlayer.h"
#include "XsvfTrace.h"

namespace devupdate::xsvf {

namespace {

constexpr const char* STATE_NAMES[] = {
    "RESET",    "RUNTEST/IDLE", "DRSELECT", "DRCAPTURE", "DRSHIFT",  "DREXIT1",
    "DRPAUSE",  "DREXIT2",      "DRUPDATE", "IRSELECT",  "IRCAPTURE", "IRSHIFT",
    "IREXIT1",  "IRPAUSE",      "IREXIT2",  "IRUPDATE",
};

constexpr int RESET_EXTRA_CLOCKS = 5;

struct SStep {
    uint8_t tms;
    uint8_t next;
};

// One row of the step table: which TMS level leads from `current` towards
// `target`, and where it lands.
SStep NextStep(uint8_t current, uint8_t target)
{
    switch (current) {
    case TAP_RESET: return {0, TAP_IDLE};
    case TAP_IDLE: return {1, TAP_DRSELECT};
    case TAP_DRSELECT: return target >= TAP_IRSELECT ? SStep{1, TAP_IRSELECT} : SStep{0, TAP_DRCAPTURE};
    case TAP_DRCAPTURE: return target == TAP_DRSHIFT ? SStep{0, TAP_DRSHIFT} : SStep{1, TAP_DREXIT1};
    case TAP_DRSHIFT: return {1, TAP_DREXIT1};
    case TAP_DREXIT1: return target == TAP_DRPAUSE ? SStep{0, TAP_DRPAUSE} : SStep{1, TAP_DRUPDATE};
    case TAP_DRPAUSE: return {1, TAP_DREXIT2};
    case TAP_DREXIT2: return target == TAP_DRSHIFT ? SStep{0, TAP_DRSHIFT} : SStep{1, TAP_DRUPDATE};
    case TAP_DRUPDATE: return target == TAP_IDLE ? SStep{0, TAP_IDLE} : SStep{1, TAP_DRSELECT};
    case TAP_IRSELECT: return {0, TAP_IRCAPTURE};
    case TAP_IRCAPTURE: return target == TAP_IRSHIFT ? SStep{0, TAP_IRSHIFT} : SStep{1, TAP_IREXIT1};
    case TAP_IRSHIFT: return {1, TAP_IREXIT1};
    case TAP_IREXIT1: return target == TAP_IRPAUSE ? SStep{0, TAP_IRPAUSE} : SStep{1, TAP_IRUPDATE};
    case TAP_IRPAUSE: return {1, TAP_IREXIT2};
    case TAP_IREXIT2: return target == TAP_IRSHIFT ? SStep{0, TAP_IRSHIFT} : SStep{1, TAP_IRUPDATE};
    default: return target == TAP_IDLE ? SStep{0, TAP_IDLE} : SStep{1, TAP_DRSELECT};  // IRUPDATE
    }
}

void TraceState(CXsvfTrace& trace, uint8_t state)
{
    trace.Write(3, "   TAP State = %s\n", TapStateName(state));
}

void SendResetSequence(CJtagTransport& transport)
{
    transport.ClockTms(1);
    for (int i = 0; i < RESET_EXTRA_CLOCKS; ++i) {
        transport.SetPin(PIN_TCK, 0, false);
        transport.SetPin(PIN_TCK, 1, true);
    }
}

}  // namespace

const char* TapStateName(unsigned code)
{
    return code <= TAP_LAST_STATE ? STATE_NAMES[code] : "Unknown";
}

int MoveToTapState(CJtagTransport& transport, CXsvfTrace& trace, uint8_t& tapState,
                   uint8_t target)
{
    // No step leads to a code above 15: refuse instead of clocking for ever.
    if (target > TAP_LAST_STATE)
        return XSVF_ERROR_ILLEGALSTATE;
    if (target == TAP_RESET) {
        SendResetSequence(transport);
        tapState = TAP_RESET;
        trace.Write(3, "   TMS Reset Sequence -> Test-Logic-Reset\n");
        TraceState(trace, tapState);
        return 0;
    }
    if (target != tapState) {
        if ((target == TAP_DREXIT2 && tapState != TAP_DRPAUSE) ||
            (target == TAP_IREXIT2 && tapState != TAP_IRPAUSE))
            return XSVF_ERROR_ILLEGALSTATE;
    } else if (tapState == TAP_DRPAUSE || tapState == TAP_IRPAUSE) {
        // Leave the Pause state so that the walk below re-enters it.
        transport.ClockTms(1);
        tapState = static_cast<uint8_t>(tapState + 1);
        TraceState(trace, tapState);
    }
    int result = 0;
    while (tapState != target) {
        if (tapState > TAP_LAST_STATE) {
            tapState = target;
            result = XSVF_ERROR_ILLEGALSTATE;
            break;
        }
        const SStep step = NextStep(tapState, target);
        transport.ClockTms(step.tms);
        tapState = step.next;
        TraceState(trace, tapState);
    }
    return result;
}

}  // namespace devupdate::xsvf
