#pragma once
// Reading SVF text (Serial Vector Format) into resolved operations: every
// scan carries its full bit string with header and trailer folded in, sticky
// values already filled in, and its end state; every wait its run state, end
// state and time. The converter to XSVF and the simulated device's SVF
// expectation mode both work from this one reading, so they agree on what a
// file asks for.
//
// Bit strings are in shift order: bit 0 is the first bit that goes into TDI
// (the least significant bit of the SVF hex value). A scan's header bits are
// shifted first, then the command's own bits, then the trailer.
//
// Supported: SIR, SDR, HIR, HDR, TIR, TDR (TDI, TDO, MASK, SMASK), ENDIR and
// ENDDR (IDLE or the matching PAUSE state), RUNTEST in all its forms (TCK
// counts, minimum and maximum time, run state, ENDSTATE), STATE with a path or
// a stable state, FREQUENCY and TRST. "!" and "//" start comments.

#include "SvfBits.h"

#include <cstdint>
#include <functional>
#include <istream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace devupdate::svf {

// TAP state codes, the same numbers as in XSVF.
enum ESvfState : uint8_t {
    SVF_RESET = 0, SVF_IDLE = 1, SVF_DRSELECT = 2, SVF_DRCAPTURE = 3, SVF_DRSHIFT = 4,
    SVF_DREXIT1 = 5, SVF_DRPAUSE = 6, SVF_DREXIT2 = 7, SVF_DRUPDATE = 8, SVF_IRSELECT = 9,
    SVF_IRCAPTURE = 10, SVF_IRSHIFT = 11, SVF_IREXIT1 = 12, SVF_IRPAUSE = 13, SVF_IREXIT2 = 14,
    SVF_IRUPDATE = 15,
};

// IEEE 1149.1: the state after one TCK with the given TMS level.
ESvfState NextSvfState(ESvfState state, bool tms);
// The SVF name of a state ("IDLE", "DRPAUSE", ...).
const char* SvfStateName(ESvfState state);
bool IsStableSvfState(ESvfState state);

struct SSvfScan {
    int line = 0;           // where the SIR or SDR statement starts
    bool ir = false;
    SvfBits tdi;
    SvfBits tdo;            // expected; meaningful where mask is set
    SvfBits mask;           // all false when nothing is compared
    ESvfState endState = SVF_IDLE;
    int Bits() const { return static_cast<int>(tdi.size()); }
    bool Checked() const;   // some mask bit is set
};

struct SSvfWait {
    int line = 0;
    ESvfState runState = SVF_IDLE;
    ESvfState endState = SVF_IDLE;
    uint32_t microseconds = 0;  // the longer of the TCK count's time and the minimum time
};

// STATE: the states passed in order; one TCK each, except that a move to
// RESET (from IRSELECT, or to RESET again) is made by the reset sequence.
// A STATE with a stable state only lists that state (the default path).
struct SSvfStatePath {
    int line = 0;
    bool explicitPath = false;
    std::vector<ESvfState> states;
};

struct SSvfOp {
    enum EKind { Scan, Wait, State } kind = Scan;
    SSvfScan scan;
    SSvfWait wait;
    SSvfStatePath path;
};

struct SSvfProgram {
    std::vector<SSvfOp> ops;
    unsigned statements = 0;       // SVF commands read
    unsigned ignored = 0;          // FREQUENCY, TRST OFF/Z/ABSENT
    std::vector<std::string> notes;  // "line N: ..." for things dropped on the way
};

// A statement that cannot be read or is not supported; what() names the line
// ("line 12: PIO is not supported").
class CSvfError : public std::runtime_error {
public:
    CSvfError(int line, const std::string& text);
    int Line() const { return m_line; }

private:
    int m_line;
};

namespace detail {
class CReader;
}

// Reads SVF text from a stream one statement at a time, so that memory is
// bounded by the longest statement, never by the file. Throws CSvfError on
// the first statement that is malformed or unsupported.
//
// TCK counts become microseconds at 1 µs per clock, or at the declared
// FREQUENCY when that is below 1 MHz, so a wait is never shorter than the
// file asks for. TRST ON resets the TAP controller (it becomes a STATE RESET);
// the other TRST values and FREQUENCY change nothing else.
class CSvfReader {
public:
    explicit CSvfReader(std::istream& in);
    ~CSvfReader();
    CSvfReader(const CSvfReader&) = delete;
    CSvfReader& operator=(const CSvfReader&) = delete;

    // The next operation in file order; false at the end of the text.
    bool Next(SSvfOp& op);
    unsigned Statements() const;     // SVF commands read so far
    unsigned Ignored() const;        // FREQUENCY, TRST OFF/Z/ABSENT so far
    uint64_t BytesRead() const;
    std::vector<std::string> TakeNotes();  // the notes since the last call

private:
    std::unique_ptr<detail::CReader> m_reader;
};

// Reads a whole SVF file's text (small files, tests and the simulated device).
SSvfProgram ReadSvf(const std::string& text);

// Only the scans, in order (what the device must see).
std::vector<SSvfScan> SvfScans(const SSvfProgram& program);

// One statement as a cheap first pass sees it: without reading its values.
struct SSvfStatementSize {
    int line = 0;
    std::string name;     // upper case: "SIR", "HDR", "RUNTEST", ...
    size_t tokens = 0;    // words and values, the name included
    long length = -1;     // the bit count of a register command; -1 when not a valid one
};

// Calls `visit` for every statement of the text. Throws CSvfError where the
// text does not divide into statements (an unclosed value, no ';').
void ForEachSvfStatementSize(std::istream& in, const std::function<void(const SSvfStatementSize&)>& visit);

}  // namespace devupdate::svf
