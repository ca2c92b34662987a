#include "SvfToXsvf.h"

#include "XsvfInfo.h"
#include "XsvfSizeCheck.h"
#include "XsvfWriter.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <sstream>
#include <stdexcept>

using namespace devupdate::xsvf;
using namespace devupdate::xsvfgen;

namespace devupdate::svf {

namespace {

constexpr size_t MAX_SCAN_BITS = static_cast<size_t>(MAX_SHIFT_BITS);

class CConverter {
public:
    CConverter(const SSvfOptions& options, const XsvfSink& out, size_t keptNotes)
        : m_options(options), m_out(out), m_keptNotes(keptNotes)
    {
    }
    SSvfStatistics Convert(CSvfReader& reader);
    SSvfNotes TakeNotes();

private:
    void InstructionScan(const SSvfScan& scan, uint32_t wait);
    void DataScan(const SSvfScan& scan, uint32_t wait);
    void SplitDataScan(const SSvfScan& scan);
    void Wait(const SSvfWait& wait);
    void State(const SSvfStatePath& path);

    void Operation(const SSvfOp& op, const SSvfOp* next, bool& nextDone);
    void Note(std::string text);
    void KeepReaderNotes(CSvfReader& reader);
    void Flush();
    void SetEndState(bool ir, ESvfState state);
    void SetRunTest(uint32_t microseconds);
    void SetSdrSize(size_t bits);
    void LoadMask(const Bytes& mask);
    void MoveTo(ESvfState state);
    void Count() { ++m_statistics.xsvfCommands; }

    SSvfOptions m_options;
    const XsvfSink& m_out;
    size_t m_keptNotes;
    SSvfStatistics m_statistics;
    SSvfNotes m_readerNotes;     // the reader's notes come first, as they always did
    SSvfNotes m_converterNotes;
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

// Whether `next` is a wait that the player can do right after a shift
// (XRUNTEST): in Run-Test/Idle, ending there.
uint32_t FoldableWait(const SSvfOp* next)
{
    if (next == nullptr || next->kind != SSvfOp::Wait || next->wait.runState != SVF_IDLE ||
        next->wait.endState != SVF_IDLE)
        return 0;
    return next->wait.microseconds;
}

SSvfStatistics CConverter::Convert(CSvfReader& reader)
{
    m_writer.Repeat(m_options.repeat);
    Count();
    // One operation of look-ahead: a wait right after a scan may fold into it.
    SSvfOp ops[2];
    int current = 0;
    bool have = reader.Next(ops[current]);
    while (have) {
        const bool haveNext = reader.Next(ops[1 - current]);
        KeepReaderNotes(reader);
        bool nextDone = false;
        Operation(ops[current], haveNext ? &ops[1 - current] : nullptr, nextDone);
        Flush();
        if (nextDone) {
            have = reader.Next(ops[current]);
        } else {
            current = 1 - current;
            have = haveNext;
        }
    }
    KeepReaderNotes(reader);
    m_writer.Complete();
    Count();
    Flush();
    m_statistics.svfCommands = reader.Statements();
    m_statistics.svfBytes = reader.BytesRead();
    return m_statistics;
}

void CConverter::Operation(const SSvfOp& op, const SSvfOp* next, bool& nextDone)
{
    switch (op.kind) {
    case SSvfOp::Scan: {
        const bool split = !op.scan.ir && op.scan.tdi.size() > MAX_SCAN_BITS;
        const uint32_t wait = split ? 0 : FoldableWait(next);
        if (op.scan.ir)
            InstructionScan(op.scan, wait);
        else if (split)
            SplitDataScan(op.scan);
        else
            DataScan(op.scan, wait);
        if (wait != 0) {
            m_statistics.waitMicroseconds += wait;
            nextDone = true;  // the wait is done by the scan
        }
        break;
    }
    case SSvfOp::Wait: Wait(op.wait); break;
    case SSvfOp::State: State(op.path); break;
    }
}

void CConverter::Flush()
{
    const Bytes& bytes = m_writer.Stream();
    if (bytes.empty())
        return;
    m_out(bytes.data(), bytes.size());
    m_statistics.xsvfBytes += bytes.size();
    m_writer.ClearStream();
}

void KeepNote(SSvfNotes& notes, std::string text, size_t kept)
{
    if (notes.first.size() < kept)
        notes.first.push_back(std::move(text));
    ++notes.count;
}

void CConverter::Note(std::string text)
{
    KeepNote(m_converterNotes, std::move(text), m_keptNotes);
}

void CConverter::KeepReaderNotes(CSvfReader& reader)
{
    for (std::string& note : reader.TakeNotes())
        KeepNote(m_readerNotes, std::move(note), m_keptNotes);
}

SSvfNotes CConverter::TakeNotes()
{
    SSvfNotes notes = std::move(m_readerNotes);
    for (std::string& note : m_converterNotes.first) {
        if (notes.first.size() < m_keptNotes)
            notes.first.push_back(std::move(note));
    }
    notes.count += m_converterNotes.count;
    return notes;
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
        ++m_statistics.droppedIrChecks;
        Note("line " + std::to_string(scan.line) + ": SIR TDO is not checked (XSVF has no instruction-register check)");
    }
    SetEndState(true, scan.endState);
    SetRunTest(wait);
    const Bytes tdi = scan.tdi.ToBuffer(0, bits);
    if (bits <= 0xFF)
        m_writer.Sir(static_cast<uint8_t>(bits), tdi);
    else
        m_writer.Sir2(static_cast<uint16_t>(bits), tdi);
    Count();
    ++m_statistics.irScans;
    m_state = wait != 0 ? SVF_IDLE : scan.endState;
}

void CConverter::DataScan(const SSvfScan& scan, uint32_t wait)
{
    const size_t bits = scan.tdi.size();
    SetSdrSize(bits);
    SetEndState(false, scan.endState);
    SetRunTest(wait);
    const Bytes tdi = scan.tdi.ToBuffer(0, bits);
    if (scan.Checked()) {
        LoadMask(scan.mask.ToBuffer(0, bits));
        const Bytes expected = scan.tdo.ToBuffer(0, bits);
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
    ++m_statistics.drScans;
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
        const bool checked = !scan.mask.All(from, count, false);
        if (checked && !scan.mask.All(from, count, true))
            throw CSvfError(scan.line, "SDR of " + std::to_string(bits) +
                                           " bits must be split, and a piece is compared in part only");
        SetSdrSize(count);
        const Bytes tdi = scan.tdi.ToBuffer(from, count);
        if (checked) {
            const Bytes expected = scan.tdo.ToBuffer(from, count);
            first ? m_writer.SdrTdoB(tdi, expected) : last ? m_writer.SdrTdoE(tdi, expected)
                                                           : m_writer.SdrTdoC(tdi, expected);
            m_expected = expected;
        } else {
            first ? m_writer.SdrB(tdi) : last ? m_writer.SdrE(tdi) : m_writer.SdrC(tdi);
        }
        Count();
    }
    ++m_statistics.drScans;
    ++m_statistics.splitScans;
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
    m_statistics.waitMicroseconds += wait.microseconds;
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

SSvfStatistics ConvertSvfStream(std::istream& in, const XsvfSink& out, const SSvfOptions& options,
                                SSvfNotes& notes, size_t keptNotes)
{
    CheckXsvfSize(in);
    in.clear();
    if (!in.seekg(0))
        throw std::runtime_error("cannot read the SVF text a second time");
    CSvfReader reader(in);
    CConverter converter(options, out, keptNotes);
    const SSvfStatistics statistics = converter.Convert(reader);
    notes = converter.TakeNotes();
    return statistics;
}

SSvfConversion ConvertSvfToXsvf(const std::string& svfText, const SSvfOptions& options)
{
    std::istringstream in(svfText);
    SSvfConversion conversion;
    const XsvfSink append = [&](const uint8_t* data, size_t size) {
        conversion.xsvf.insert(conversion.xsvf.end(), data, data + size);
    };
    SSvfNotes notes;
    conversion.statistics = ConvertSvfStream(in, append, options, notes, SIZE_MAX);
    conversion.notes = std::move(notes.first);
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

}  // namespace devupdate::svf
