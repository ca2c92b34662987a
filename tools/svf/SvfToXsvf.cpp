#include "SvfToXsvf.h"

#include "XsvfInfo.h"
#include "XsvfWriter.h"

#include <algorithm>
#include <optional>

namespace {

constexpr size_t MAX_SCAN_BITS = static_cast<size_t>(MAX_SHIFT_BITS);

// bits[from, from + count) as a player buffer: most significant byte first,
// bit 0 of the last byte shifted first.
Bytes ToBuffer(const SvfBits& bits, size_t from, size_t count)
{
    Bytes out((count + 7) / 8, 0);
    for (size_t i = 0; i < count; ++i) {
        if (bits[from + i])
            out[out.size() - 1 - i / 8] |= static_cast<uint8_t>(1u << (i % 8));
    }
    return out;
}

bool AllOf(const SvfBits& bits, size_t from, size_t count, bool value)
{
    return std::all_of(bits.begin() + static_cast<std::ptrdiff_t>(from),
                       bits.begin() + static_cast<std::ptrdiff_t>(from + count),
                       [value](bool b) { return b == value; });
}

class CConverter {
public:
    CConverter(const SSvfProgram& program, const SSvfOptions& options) : m_program(program), m_options(options) {}
    SSvfConversion Convert();

private:
    void InstructionScan(const SSvfScan& scan, uint32_t wait);
    void DataScan(const SSvfScan& scan, uint32_t wait);
    void SplitDataScan(const SSvfScan& scan);
    void Wait(const SSvfWait& wait);
    void State(const SSvfStatePath& path);

    // Whether the op after index i is a wait that the player can do right
    // after a shift (XRUNTEST): in Run-Test/Idle, ending there.
    uint32_t FoldableWait(size_t i) const;
    void SetEndState(bool ir, ESvfState state);
    void SetRunTest(uint32_t microseconds);
    void SetSdrSize(size_t bits);
    void LoadMask(const Bytes& mask);
    void MoveTo(ESvfState state);
    void Count() { ++m_conversion.statistics.xsvfCommands; }

    const SSvfProgram& m_program;
    SSvfOptions m_options;
    SSvfConversion m_conversion;
    CXsvfWriter m_writer;

    // What the player holds at this point of the stream.
    ESvfState m_state = SVF_RESET;
    ESvfState m_endIr = SVF_IDLE;
    ESvfState m_endDr = SVF_IDLE;
    uint32_t m_runTest = 0;
    size_t m_sdrBits = 0;
    std::optional<Bytes> m_mask;      // unknown after a length change
    std::optional<Bytes> m_expected;
};

SSvfConversion CConverter::Convert()
{
    m_writer.Repeat(m_options.repeat);
    Count();
    const std::vector<SSvfOp>& ops = m_program.ops;
    for (size_t i = 0; i < ops.size(); ++i) {
        const SSvfOp& op = ops[i];
        switch (op.kind) {
        case SSvfOp::Scan: {
            const bool split = !op.scan.ir && op.scan.tdi.size() > MAX_SCAN_BITS;
            const uint32_t wait = split ? 0 : FoldableWait(i);
            if (op.scan.ir)
                InstructionScan(op.scan, wait);
            else if (split)
                SplitDataScan(op.scan);
            else
                DataScan(op.scan, wait);
            if (wait != 0) {
                m_conversion.statistics.waitMicroseconds += wait;
                ++i;  // the wait is done by the scan
            }
            break;
        }
        case SSvfOp::Wait: Wait(op.wait); break;
        case SSvfOp::State: State(op.path); break;
        }
    }
    m_writer.Complete();
    Count();
    m_conversion.xsvf = m_writer.Stream();
    m_conversion.notes.insert(m_conversion.notes.begin(), m_program.notes.begin(), m_program.notes.end());
    SSvfStatistics& s = m_conversion.statistics;
    s.svfCommands = m_program.statements;
    s.xsvfBytes = m_conversion.xsvf.size();
    return std::move(m_conversion);
}

uint32_t CConverter::FoldableWait(size_t i) const
{
    if (i + 1 >= m_program.ops.size())
        return 0;
    const SSvfOp& next = m_program.ops[i + 1];
    if (next.kind != SSvfOp::Wait || next.wait.runState != SVF_IDLE || next.wait.endState != SVF_IDLE)
        return 0;
    return next.wait.microseconds;
}

void CConverter::SetEndState(bool ir, ESvfState state)
{
    ESvfState& current = ir ? m_endIr : m_endDr;
    if (current == state)
        return;
    const uint8_t pause = state == SVF_IDLE ? 0 : 1;
    ir ? m_writer.EndIr(pause) : m_writer.EndDr(pause);
    Count();
    current = state;
}

void CConverter::SetRunTest(uint32_t microseconds)
{
    if (m_runTest == microseconds)
        return;
    m_writer.RunTest(microseconds);
    Count();
    m_runTest = microseconds;
}

void CConverter::SetSdrSize(size_t bits)
{
    if (m_sdrBits == bits)
        return;
    m_writer.SdrSize(static_cast<uint32_t>(bits));
    Count();
    m_sdrBits = bits;
    // The loaded mask and expected value have the old length.
    m_mask.reset();
    m_expected.reset();
}

void CConverter::LoadMask(const Bytes& mask)
{
    if (m_mask == mask)
        return;
    m_writer.TdoMask(mask);
    Count();
    m_mask = mask;
}

void CConverter::InstructionScan(const SSvfScan& scan, uint32_t wait)
{
    const size_t bits = scan.tdi.size();
    if (bits > MAX_SCAN_BITS)
        throw CSvfError(scan.line, "SIR of " + std::to_string(bits) + " bits is longer than XSIR2 can shift (" +
                                       std::to_string(MAX_SCAN_BITS) + ")");
    if (scan.Checked()) {
        ++m_conversion.statistics.droppedIrChecks;
        m_conversion.notes.push_back("line " + std::to_string(scan.line) +
                                     ": SIR TDO is not checked (XSVF has no instruction-register check)");
    }
    SetEndState(true, scan.endState);
    SetRunTest(wait);
    const Bytes tdi = ToBuffer(scan.tdi, 0, bits);
    if (bits <= 0xFF)
        m_writer.Sir(static_cast<uint8_t>(bits), tdi);
    else
        m_writer.Sir2(static_cast<uint16_t>(bits), tdi);
    Count();
    ++m_conversion.statistics.irScans;
    m_state = wait != 0 ? SVF_IDLE : scan.endState;
}

void CConverter::DataScan(const SSvfScan& scan, uint32_t wait)
{
    const size_t bits = scan.tdi.size();
    SetSdrSize(bits);
    SetEndState(false, scan.endState);
    SetRunTest(wait);
    const Bytes tdi = ToBuffer(scan.tdi, 0, bits);
    if (scan.Checked()) {
        LoadMask(ToBuffer(scan.mask, 0, bits));
        const Bytes expected = ToBuffer(scan.tdo, 0, bits);
        if (m_expected == expected) {
            m_writer.Sdr(tdi);
        } else {
            m_writer.SdrTdo(tdi, expected);
            m_expected = expected;
        }
    } else {
        // XSDR compares under the loaded mask: an all-zero one compares nothing.
        LoadMask(Bytes(tdi.size(), 0));
        m_writer.Sdr(tdi);
    }
    Count();
    ++m_conversion.statistics.drScans;
    m_state = wait != 0 ? SVF_IDLE : scan.endState;
}

void CConverter::SplitDataScan(const SSvfScan& scan)
{
    SetEndState(false, scan.endState);
    const size_t bits = scan.tdi.size();
    // The pieces do not wait; the first bits shifted go first.
    for (size_t from = 0; from < bits; from += MAX_SCAN_BITS) {
        const size_t count = std::min(MAX_SCAN_BITS, bits - from);
        const bool first = from == 0;
        const bool last = from + count == bits;
        const bool checked = !AllOf(scan.mask, from, count, false);
        if (checked && !AllOf(scan.mask, from, count, true))
            throw CSvfError(scan.line, "SDR of " + std::to_string(bits) +
                                           " bits must be split, and a piece is compared in part only");
        SetSdrSize(count);
        const Bytes tdi = ToBuffer(scan.tdi, from, count);
        if (checked) {
            const Bytes expected = ToBuffer(scan.tdo, from, count);
            first ? m_writer.SdrTdoB(tdi, expected) : last ? m_writer.SdrTdoE(tdi, expected)
                                                           : m_writer.SdrTdoC(tdi, expected);
            m_expected = expected;
        } else {
            first ? m_writer.SdrB(tdi) : last ? m_writer.SdrE(tdi) : m_writer.SdrC(tdi);
        }
        Count();
    }
    ++m_conversion.statistics.drScans;
    ++m_conversion.statistics.splitScans;
    m_state = scan.endState;
}

void CConverter::MoveTo(ESvfState state)
{
    // XSTATE to a Pause state the player is in would clock a loop through
    // Update and Capture; the only move that may repeat is the reset.
    if (state == m_state && state != SVF_RESET)
        return;
    m_writer.State(state);
    Count();
    m_state = state;
}

void CConverter::Wait(const SSvfWait& wait)
{
    if (wait.microseconds == 0) {
        MoveTo(wait.runState);
        MoveTo(wait.endState);
        return;
    }
    m_writer.Wait(wait.runState, wait.endState, wait.microseconds);
    Count();
    m_conversion.statistics.waitMicroseconds += wait.microseconds;
    m_state = wait.endState;
}

void CConverter::State(const SSvfStatePath& path)
{
    if (!path.explicitPath) {
        MoveTo(path.states.back());
        return;
    }
    for (ESvfState state : path.states) {
        if (state == m_state && state != SVF_RESET)
            throw CSvfError(path.line, std::string("STATE: a clock that stays in ") + SvfStateName(state) +
                                           " cannot be played");
        MoveTo(state);
    }
}

}  // namespace

SSvfConversion ConvertSvfToXsvf(const std::string& svfText, const SSvfOptions& options)
{
    const SSvfProgram program = ReadSvf(svfText);
    SSvfConversion conversion = CConverter(program, options).Convert();
    conversion.statistics.svfBytes = svfText.size();
    return conversion;
}

std::string FormatSvfStatistics(const SSvfStatistics& s)
{
    std::string text = std::to_string(s.svfCommands) + " SVF commands in, " + std::to_string(s.xsvfCommands) +
                       " XSVF commands out, " + std::to_string(s.svfBytes) + " bytes in, " +
                       std::to_string(s.xsvfBytes) + " bytes out (" + std::to_string(s.irScans) + " SIR, " +
                       std::to_string(s.drScans) + " SDR";
    if (s.splitScans != 0)
        text += ", " + std::to_string(s.splitScans) + " SDR split";
    if (s.droppedIrChecks != 0)
        text += ", " + std::to_string(s.droppedIrChecks) + " SIR TDO checks dropped";
    return text + ", " + std::to_string(s.waitMicroseconds) + " us of waits)";
}
