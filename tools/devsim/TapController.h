#pragma once
// Pin-level IEEE 1149.1 TAP controller in front of the model part. The state
// changes on the rising TCK edge with the TMS level present at that edge;
// the rising edge in Capture loads the register, in Shift moves one bit
// (TDI in, TDO out), and entering Update latches the register (the falling
// edge that follows would do it on a real part: nothing can happen between).
// TDO reads 1 outside the Shift states (the line's pull-up).

#include "ModelPart.h"

#include <cstdint>
#include <string>
#include <vector>

namespace devupdate::devsim {

// The state codes of the XSVF format, as the device knows them.
enum ETapState : uint8_t {
    TAP_RESET = 0, TAP_IDLE = 1,
    TAP_DRSELECT = 2, TAP_DRCAPTURE = 3, TAP_DRSHIFT = 4, TAP_DREXIT1 = 5,
    TAP_DRPAUSE = 6, TAP_DREXIT2 = 7, TAP_DRUPDATE = 8,
    TAP_IRSELECT = 9, TAP_IRCAPTURE = 10, TAP_IRSHIFT = 11, TAP_IREXIT1 = 12,
    TAP_IRPAUSE = 13, TAP_IREXIT2 = 14, TAP_IRUPDATE = 15,
};

// One completed scan (from Capture to Update), for tests.
struct SScan {
    bool ir = false;
    std::string reg;            // "IR", or the instruction's DR: "IDCODE", ...
    std::vector<bool> tdi;      // in shift order: tdi[0] went in first
    std::vector<bool> tdo;      // what came out, same order
    int Bits() const { return static_cast<int>(tdi.size()); }
    // The first min(bits, 64) TDI bits as a number (tdi[0] = bit 0).
    uint64_t TdiValue() const;
    uint64_t TdoValue() const;
};

class CTapController {
public:
    explicit CTapController(CJtagPart& part) : m_part(&part) {}
    // Puts another part behind the controller (its state is kept).
    void SetPart(CJtagPart& part) { m_part = &part; }

    static devsim::ETapState NextState(devsim::ETapState state, bool tms);
    static const char* StateName(devsim::ETapState state);

    void SetTms(bool level) { m_tms = level; }
    void SetTdi(bool level) { m_tdi = level; }
    // A rising edge (0 to 1) clocks the controller; other changes do nothing.
    void SetTck(bool level);
    bool Tdo() const;

    devsim::ETapState State() const { return m_state; }
    const std::vector<SScan>& Scans() const { return m_scans; }

private:
    void Clock();

    CJtagPart* m_part;
    devsim::ETapState m_state = devsim::TAP_RESET;
    bool m_tms = true;
    bool m_tdi = false;
    bool m_tck = false;
    SScan m_scan;               // the scan in progress
    bool m_scanOpen = false;
    std::vector<SScan> m_scans;
};

}  // namespace devupdate::devsim
