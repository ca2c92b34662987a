#pragma once
// The TAP controller of the part being programmed, as bookkept on the tool's
// side: the device never reports the state, so every TMS clock asked for here
// is matched by exactly one state change.

#include <cstdint>

namespace devupdate::xsvf {

class CJtagTransport;
class CXsvfTrace;

// TAP state codes (those of the XSVF stream).
constexpr uint8_t TAP_RESET = 0;
constexpr uint8_t TAP_IDLE = 1;
constexpr uint8_t TAP_DRSELECT = 2;
constexpr uint8_t TAP_DRCAPTURE = 3;
constexpr uint8_t TAP_DRSHIFT = 4;
constexpr uint8_t TAP_DREXIT1 = 5;
constexpr uint8_t TAP_DRPAUSE = 6;
constexpr uint8_t TAP_DREXIT2 = 7;
constexpr uint8_t TAP_DRUPDATE = 8;
constexpr uint8_t TAP_IRSELECT = 9;
constexpr uint8_t TAP_IRCAPTURE = 10;
constexpr uint8_t TAP_IRSHIFT = 11;
constexpr uint8_t TAP_IREXIT1 = 12;
constexpr uint8_t TAP_IRPAUSE = 13;
constexpr uint8_t TAP_IREXIT2 = 14;
constexpr uint8_t TAP_IRUPDATE = 15;

constexpr uint8_t TAP_LAST_STATE = TAP_IRUPDATE;

// The trace name of a state code ("RESET" ... "IRUPDATE"), "Unknown" above 15.
const char* TapStateName(unsigned code);

// Moves tapState to target, one traced TMS clock per step, and returns 0 or
// 5 (illegal move). Target RESET always sends the reset sequence (six TCK
// cycles with TMS high). A target above 15, or DREXIT2/IREXIT2 from other
// than DRPAUSE/IRPAUSE: 5, nothing sent, state unchanged. A Pause state as
// target of itself is left and re-entered the long way (six or seven clocks).
// Throws CComErrException from the transport; tapState then keeps the state
// from before the failing clock.
int MoveToTapState(CJtagTransport& transport, CXsvfTrace& trace, uint8_t& tapState,
                   uint8_t target);

}  // namespace devupdate::xsvf
