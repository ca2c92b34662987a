#include "TapController.h"

#include <algorithm>

namespace devupdate::devsim {

namespace {

uint64_t BitsValue(const std::vector<bool>& bits)
{
    uint64_t value = 0;
    const size_t n = std::min<size_t>(bits.size(), 64);
    for (size_t i = 0; i < n; ++i)
        if (bits[i])
            value |= uint64_t{1} << i;
    return value;
}

bool IsShift(ETapState s) { return s == TAP_DRSHIFT || s == TAP_IRSHIFT; }

}  // namespace

uint64_t SScan::TdiValue() const { return BitsValue(tdi); }
uint64_t SScan::TdoValue() const { return BitsValue(tdo); }

ETapState CTapController::NextState(ETapState state, bool tms)
{
    // IEEE 1149.1 state diagram: {next with TMS 0, next with TMS 1}.
    static const ETapState TABLE[16][2] = {
        {TAP_IDLE, TAP_RESET},          // RESET
        {TAP_IDLE, TAP_DRSELECT},       // IDLE
        {TAP_DRCAPTURE, TAP_IRSELECT},  // DRSELECT
        {TAP_DRSHIFT, TAP_DREXIT1},     // DRCAPTURE
        {TAP_DRSHIFT, TAP_DREXIT1},     // DRSHIFT
        {TAP_DRPAUSE, TAP_DRUPDATE},    // DREXIT1
        {TAP_DRPAUSE, TAP_DREXIT2},     // DRPAUSE
        {TAP_DRSHIFT, TAP_DRUPDATE},    // DREXIT2
        {TAP_IDLE, TAP_DRSELECT},       // DRUPDATE
        {TAP_IRCAPTURE, TAP_RESET},     // IRSELECT
        {TAP_IRSHIFT, TAP_IREXIT1},     // IRCAPTURE
        {TAP_IRSHIFT, TAP_IREXIT1},     // IRSHIFT
        {TAP_IRPAUSE, TAP_IRUPDATE},    // IREXIT1
        {TAP_IRPAUSE, TAP_IREXIT2},     // IRPAUSE
        {TAP_IRSHIFT, TAP_IRUPDATE},    // IREXIT2
        {TAP_IDLE, TAP_DRSELECT},       // IRUPDATE
    };
    return TABLE[state & 0x0F][tms ? 1 : 0];
}

const char* CTapController::StateName(ETapState state)
{
    static const char* const NAMES[16] = {
        "RESET",   "RUNTEST/IDLE", "DRSELECT", "DRCAPTURE", "DRSHIFT",   "DREXIT1",
        "DRPAUSE", "DREXIT2",      "DRUPDATE", "IRSELECT",  "IRCAPTURE", "IRSHIFT",
        "IREXIT1", "IRPAUSE",      "IREXIT2",  "IRUPDATE",
    };
    return NAMES[state & 0x0F];
}

void CTapController::SetTck(bool level)
{
    const bool rising = level && !m_tck;
    m_tck = level;
    if (rising)
        Clock();
}

bool CTapController::Tdo() const
{
    return IsShift(m_state) ? m_part->Tdo() : true;
}

void CTapController::Clock()
{
    const bool ir = m_state >= TAP_IRSELECT;
    if (m_state == TAP_DRCAPTURE || m_state == TAP_IRCAPTURE) {
        m_part->Capture(ir);
        m_scan = SScan{};
        m_scan.ir = ir;
        m_scan.reg = m_part->RegisterName(ir);
        m_scanOpen = true;
    } else if (IsShift(m_state)) {
        if (m_scanOpen) {
            m_scan.tdo.push_back(m_part->Tdo());
            m_scan.tdi.push_back(m_tdi);
        }
        m_part->Shift(ir, m_tdi);
    }

    const ETapState next = NextState(m_state, m_tms);
    if (next == TAP_DRUPDATE || next == TAP_IRUPDATE) {
        m_part->Update(ir);
        if (m_scanOpen)
            m_scans.push_back(std::move(m_scan));
        m_scanOpen = false;
    } else if (next == TAP_RESET) {
        m_part->Reset();
        m_scanOpen = false;
    }
    m_state = next;
}

}  // namespace devupdate::devsim
