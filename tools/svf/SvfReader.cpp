#include "SvfReader.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <sstream>
#include <string_view>
#include <utility>

namespace devupdate::svf {

namespace {

struct SToken {
    std::string text;     // upper case; for a value: the digits without "(" ")" and blanks
    bool value = false;   // a parenthesised hex value
};

struct SStatement {
    int line = 0;
    std::vector<SToken> tokens;
};

// The text in blocks, so that a file of any size is read with a fixed buffer.
class CCharSource {
public:
    explicit CCharSource(std::istream& in) : m_in(in), m_buffer(64 * 1024) {}

    int Get() { return m_pos < m_end || Fill() ? static_cast<unsigned char>(m_buffer[m_pos++]) : EOF; }
    // The characters buffered now (empty at the end of the text); Skip
    // consumes some of them.
    std::string_view Chunk()
    {
        if (m_pos == m_end && !Fill())
            return {};
        return std::string_view(m_buffer.data() + m_pos, m_end - m_pos);
    }
    void Skip(size_t n) { m_pos += n; }
    int Peek() { return m_pos < m_end || Fill() ? static_cast<unsigned char>(m_buffer[m_pos]) : EOF; }
    uint64_t Consumed() const { return m_before + m_pos; }

private:
    bool Fill()
    {
        m_before += m_end;
        m_in.read(m_buffer.data(), static_cast<std::streamsize>(m_buffer.size()));
        m_end = static_cast<size_t>(m_in.gcount());
        m_pos = 0;
        return m_end != 0;
    }

    std::istream& m_in;
    std::vector<char> m_buffer;
    size_t m_pos = 0;
    size_t m_end = 0;
    uint64_t m_before = 0;
};

char Upper(int c) { return static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c); }
bool IsSpace(int c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

// Splits the text into statements ended by ';', one at a time. Comments run
// from "!" or "//" to the line end; a parenthesised value may span lines.
// Without `keepValues` a value's digits are skipped (a first pass that only
// needs lengths).
class CStatementSplitter {
public:
    CStatementSplitter(std::istream& in, bool keepValues) : m_source(in), m_keepValues(keepValues) {}

    bool Next(SStatement& statement);
    uint64_t Consumed() const { return m_source.Consumed(); }

private:
    void EndWord(SStatement& statement);
    void Value(SStatement& statement);

    CCharSource m_source;
    bool m_keepValues;
    int m_line = 1;
    std::string m_word;
};

// What a statement may hold, so that a malformed file cannot make memory
// grow with its size: far more than any real statement (a STATE path has
// at most a few dozen words, a value at most 16777215 bits).
constexpr size_t MAX_TOKENS = 4096;
constexpr size_t MAX_WORD = 4096;
constexpr size_t MAX_DIGITS = (0xFFFFFF + 3) / 4;

void CStatementSplitter::EndWord(SStatement& statement)
{
    if (m_word.empty())
        return;
    if (statement.tokens.size() >= MAX_TOKENS)
        throw CSvfError(statement.line, "a statement of more than " + std::to_string(MAX_TOKENS) + " words");
    statement.tokens.push_back({m_word, false});
    m_word.clear();
}

void CStatementSplitter::Value(SStatement& statement)
{
    if (statement.tokens.empty())
        statement.line = m_line;
    const int start = m_line;
    SToken token{std::string(), true};
    bool onlyZeros = false;  // zeros seen before any other digit
    // A value can be megabytes of digits: taken a buffer at a time.
    for (;;) {
        const std::string_view chunk = m_source.Chunk();
        if (chunk.empty())
            throw CSvfError(start, "a value in parentheses is not closed");
        const size_t close = chunk.find(')');
        const std::string_view part = chunk.substr(0, close);
        for (const char c : part) {
            if (c == '\n')
                ++m_line;
            else if (m_keepValues && !IsSpace(static_cast<unsigned char>(c)) && !(c == '0' && token.text.empty()))
                token.text.push_back(Upper(static_cast<unsigned char>(c)));  // leading zeros add nothing
            else if (c == '0')
                onlyZeros = true;
        }
        if (token.text.size() > MAX_DIGITS)
            throw CSvfError(start, "a value of more than " + std::to_string(0xFFFFFF) + " bits");
        if (close != std::string_view::npos) {
            m_source.Skip(close + 1);
            if (onlyZeros && token.text.empty())
                token.text.push_back('0');
            break;
        }
        m_source.Skip(chunk.size());
    }
    statement.tokens.push_back(std::move(token));
}

bool CStatementSplitter::Next(SStatement& statement)
{
    statement.line = 0;
    statement.tokens.clear();
    for (;;) {
        const int c = m_source.Get();
        if (c == EOF)
            break;
        if (c == '\n') {
            EndWord(statement);
            ++m_line;
        } else if (c == '!' || (c == '/' && m_source.Peek() == '/')) {
            EndWord(statement);
            while (m_source.Peek() != '\n' && m_source.Peek() != EOF)
                m_source.Get();
        } else if (c == '(') {
            EndWord(statement);
            Value(statement);
        } else if (c == ';') {
            EndWord(statement);
            if (statement.tokens.empty())
                throw CSvfError(m_line, "an empty statement");
            return true;
        } else if (IsSpace(c)) {
            EndWord(statement);
        } else {
            if (statement.tokens.empty() && m_word.empty())
                statement.line = m_line;
            if (m_word.size() >= MAX_WORD)
                throw CSvfError(statement.line, "a word of more than " + std::to_string(MAX_WORD) + " characters");
            m_word.push_back(Upper(c));
        }
    }
    EndWord(statement);
    if (!statement.tokens.empty())
        throw CSvfError(statement.line, "the last statement has no ';'");
    return false;
}

const char* const STATE_NAMES[16] = {
    "RESET",   "IDLE",    "DRSELECT", "DRCAPTURE", "DRSHIFT", "DREXIT1", "DRPAUSE", "DREXIT2",
    "DRUPDATE", "IRSELECT", "IRCAPTURE", "IRSHIFT", "IREXIT1", "IRPAUSE", "IREXIT2", "IRUPDATE",
};

bool ParseState(const std::string& word, ESvfState& state)
{
    for (int i = 0; i < 16; ++i) {
        if (word == STATE_NAMES[i]) {
            state = static_cast<ESvfState>(i);
            return true;
        }
    }
    return false;
}

// A value for `bits` bits from hex digits: missing leading digits are zero,
// surplus leading bits must be zero.
// The value of an upper-case hex digit, or -1.
int HexValue(char c)
{
    static const auto TABLE = [] {
        std::array<int8_t, 256> table{};
        table.fill(-1);
        for (int d = 0; d < 10; ++d)
            table['0' + d] = static_cast<int8_t>(d);
        for (int d = 0; d < 6; ++d)
            table['A' + d] = static_cast<int8_t>(10 + d);
        return table;
    }();
    return TABLE[static_cast<unsigned char>(c)];
}

SvfBits ParseHex(const std::string& digits, int bits, int line, const char* what)
{
    if (digits.empty())
        throw CSvfError(line, std::string(what) + " has no digits");
    const size_t count = static_cast<size_t>(bits);
    std::vector<uint8_t> bytes((digits.size() + 1) / 2, 0);
    for (size_t d = 0; d < digits.size(); ++d) {
        const int nibble = HexValue(digits[digits.size() - 1 - d]);
        if (nibble < 0)
            throw CSvfError(line, std::string(what) + " is not hexadecimal");
        bytes[d / 2] |= static_cast<uint8_t>(nibble << (d % 2 * 4));
    }
    // Surplus leading digits must hold no set bit.
    for (size_t k = count / 8; k < bytes.size(); ++k) {
        const unsigned allowed = k == count / 8 ? (1u << (count % 8)) - 1 : 0;
        if ((bytes[k] & ~allowed) != 0)
            throw CSvfError(line, std::string(what) + " has more bits than the length " + std::to_string(bits));
    }
    bytes.resize((count + 7) / 8);
    SvfBits value;
    value.AppendBytes(bytes.data(), count);
    return value;
}

bool ParseReal(const std::string& word, double& out)
{
    if (word.empty())
        return false;
    char* end = nullptr;
    out = std::strtod(word.c_str(), &end);
    return *end == '\0' && std::isfinite(out) && out >= 0;
}

// Seconds or clocks to whole microseconds, rounded up; a value within a
// nanosecond of a whole number is that number (5E-3 is 5000, not 5001).
uint32_t Microseconds(double microseconds, int line)
{
    const double nearest = std::round(microseconds);
    const double whole = std::fabs(microseconds - nearest) < 1e-3 ? nearest : std::ceil(microseconds);
    if (whole > std::numeric_limits<int32_t>::max())
        throw CSvfError(line, "a wait longer than 2147483647 microseconds cannot be played");
    return static_cast<uint32_t>(whole);
}

// One register command's sticky values (SIR, SDR, HIR, HDR, TIR, TDR).
struct SRegister {
    int bits = 0;
    SvfBits tdi, mask, smask;
    SvfBits tdo;          // of the last command (kept for headers and trailers)
    bool hasTdo = false;
};

}  // namespace

namespace detail {

class CReader {
public:
    explicit CReader(std::istream& in) : m_splitter(in, true) {}
    bool Next(SSvfOp& op);

    CStatementSplitter m_splitter;
    unsigned m_statements = 0;
    unsigned m_ignored = 0;
    std::vector<std::string> m_notes;

private:
    void Statement(const SStatement& s);
    void RegisterCommand(const SStatement& s, SRegister& reg);
    void Scan(const SStatement& s, bool ir);
    void RunTest(const SStatement& s);
    void State(const SStatement& s);
    void EndState(const SStatement& s, bool ir);
    void Trst(const SStatement& s);
    void Frequency(const SStatement& s);
    void Emit(SSvfOp&& op);
    static void Append(SSvfScan& scan, const SRegister& reg);

    SStatement m_statement;
    SSvfOp* m_out = nullptr;  // where the statement being read puts its operation
    bool m_emitted = false;
    SRegister m_sir, m_sdr, m_hir, m_hdr, m_tir, m_tdr;
    ESvfState m_endIr = SVF_IDLE;
    ESvfState m_endDr = SVF_IDLE;
    ESvfState m_runState = SVF_IDLE;
    ESvfState m_runEndState = SVF_IDLE;
    ESvfState m_state = SVF_RESET;  // a player starts with a reset
    double m_frequency = 0;         // 0: not declared
};

bool CReader::Next(SSvfOp& op)
{
    m_out = &op;
    m_emitted = false;
    while (!m_emitted && m_splitter.Next(m_statement)) {
        ++m_statements;
        Statement(m_statement);
    }
    return m_emitted;
}

void CReader::Emit(SSvfOp&& op)
{
    *m_out = std::move(op);
    m_emitted = true;
}

void CReader::Statement(const SStatement& s)
{
    const std::string& name = s.tokens[0].text;
    if (s.tokens[0].value)
        throw CSvfError(s.line, "a statement cannot begin with a value");
    if (name == "SIR")
        Scan(s, true);
    else if (name == "SDR")
        Scan(s, false);
    else if (name == "HIR")
        RegisterCommand(s, m_hir);
    else if (name == "HDR")
        RegisterCommand(s, m_hdr);
    else if (name == "TIR")
        RegisterCommand(s, m_tir);
    else if (name == "TDR")
        RegisterCommand(s, m_tdr);
    else if (name == "RUNTEST")
        RunTest(s);
    else if (name == "STATE")
        State(s);
    else if (name == "ENDIR")
        EndState(s, true);
    else if (name == "ENDDR")
        EndState(s, false);
    else if (name == "TRST")
        Trst(s);
    else if (name == "FREQUENCY")
        Frequency(s);
    else
        throw CSvfError(s.line, name + " is not supported");
}

void CReader::RegisterCommand(const SStatement& s, SRegister& reg)
{
    const std::string& name = s.tokens[0].text;
    if (s.tokens.size() < 2 || s.tokens[1].value)
        throw CSvfError(s.line, name + " needs a length");
    char* end = nullptr;
    const long bits = std::strtol(s.tokens[1].text.c_str(), &end, 10);
    if (*end != '\0' || bits < 0 || bits > 0xFFFFFF)
        throw CSvfError(s.line, name + " has a bad length: " + s.tokens[1].text);

    const std::string* given[4] = {};  // TDI, TDO, MASK, SMASK
    static const char* const KEYS[4] = {"TDI", "TDO", "MASK", "SMASK"};
    for (size_t i = 2; i < s.tokens.size(); i += 2) {
        const int key = static_cast<int>(std::find(KEYS, KEYS + 4, s.tokens[i].text) - KEYS);
        if (s.tokens[i].value || key == 4)
            throw CSvfError(s.line, name + ": unexpected " + s.tokens[i].text);
        if (i + 1 >= s.tokens.size() || !s.tokens[i + 1].value)
            throw CSvfError(s.line, name + ": " + KEYS[key] + " needs a value in parentheses");
        if (given[key])
            throw CSvfError(s.line, name + ": " + KEYS[key] + " given twice");
        given[key] = &s.tokens[i + 1].text;
    }

    const int n = static_cast<int>(bits);
    if (n != reg.bits) {
        // A new length: the old values no longer apply; masks default to all ones.
        if (n > 0 && !given[0])
            throw CSvfError(s.line, name + ": TDI is required when the length changes");
        reg.bits = n;
        reg.tdi.assign(static_cast<size_t>(n), false);
        reg.mask.assign(static_cast<size_t>(n), true);
        reg.smask.assign(static_cast<size_t>(n), true);
    }
    if (given[0])
        reg.tdi = ParseHex(*given[0], n, s.line, "TDI");
    if (given[2])
        reg.mask = ParseHex(*given[2], n, s.line, "MASK");
    if (given[3])
        reg.smask = ParseHex(*given[3], n, s.line, "SMASK");
    // TDO is compared only where the command gives it.
    reg.hasTdo = given[1] != nullptr && n > 0;
    reg.tdo = given[1] ? ParseHex(*given[1], n, s.line, "TDO") : SvfBits(static_cast<size_t>(n), false);
}

void CReader::Append(SSvfScan& scan, const SRegister& reg)
{
    scan.tdi.Append(reg.tdi);
    if (reg.hasTdo) {
        scan.mask.Append(reg.mask);
        scan.tdo.Append(reg.tdo.And(reg.mask));
    } else {
        const SvfBits none(static_cast<size_t>(reg.bits), false);
        scan.mask.Append(none);
        scan.tdo.Append(none);
    }
}

void CReader::Scan(const SStatement& s, bool ir)
{
    SRegister& reg = ir ? m_sir : m_sdr;
    RegisterCommand(s, reg);
    SSvfOp op;
    op.kind = SSvfOp::Scan;
    op.scan.line = s.line;
    op.scan.ir = ir;
    Append(op.scan, ir ? m_hir : m_hdr);
    Append(op.scan, reg);
    Append(op.scan, ir ? m_tir : m_tdr);
    if (op.scan.tdi.empty())
        throw CSvfError(s.line, std::string(ir ? "SIR" : "SDR") + " of 0 bits cannot be played");
    op.scan.endState = ir ? m_endIr : m_endDr;
    m_state = op.scan.endState;
    Emit(std::move(op));
}

void CReader::RunTest(const SStatement& s)
{
    const std::vector<SToken>& t = s.tokens;
    size_t i = 1;
    auto word = [&](size_t k) -> std::string { return k < t.size() && !t[k].value ? t[k].text : std::string(); };
    auto stable = [&](const std::string& w, const char* what) {
        ESvfState state;
        if (!ParseState(w, state) || !IsStableSvfState(state))
            throw CSvfError(s.line, std::string("RUNTEST: ") + what + " must be IDLE, DRPAUSE, IRPAUSE or RESET: " + w);
        return state;
    };

    ESvfState state;
    bool runGiven = false;
    if (ParseState(word(i), state)) {
        m_runState = stable(word(i), "the run state");
        runGiven = true;
        ++i;
    }
    double count = 0, minimum = 0, number = 0;
    bool timed = false;
    if (!ParseReal(word(i), number))
        throw CSvfError(s.line, "RUNTEST needs a count or a time");
    if (word(i + 1) == "TCK") {
        count = number;
        i += 2;
        if (ParseReal(word(i), number) && word(i + 1) == "SEC") {
            minimum = number;
            timed = true;
            i += 2;
        }
    } else if (word(i + 1) == "SCK") {
        throw CSvfError(s.line, "RUNTEST with SCK counts cannot be played: the device has no system clock");
    } else if (word(i + 1) == "SEC") {
        minimum = number;
        timed = true;
        i += 2;
    } else {
        throw CSvfError(s.line, "RUNTEST: TCK or SEC expected after " + word(i));
    }
    if (word(i) == "MAXIMUM") {
        // A wait of the minimum time keeps within any maximum: noted and dropped.
        if (!timed || !ParseReal(word(i + 1), number) || word(i + 2) != "SEC")
            throw CSvfError(s.line, "RUNTEST: MAXIMUM needs a minimum time and a time in SEC");
        i += 3;
    }
    if (word(i) == "ENDSTATE") {
        m_runEndState = stable(word(i + 1), "the end state");
        i += 2;
    } else if (runGiven) {
        m_runEndState = m_runState;
    }
    if (i != t.size())
        throw CSvfError(s.line, "RUNTEST: unexpected " + (i < t.size() ? t[i].text : std::string()));

    const double perClock = m_frequency > 0 && m_frequency < 1e6 ? 1e6 / m_frequency : 1.0;
    const uint32_t byCount = Microseconds(count * perClock, s.line);
    const uint32_t byTime = Microseconds(minimum * 1e6, s.line);
    SSvfOp op;
    op.kind = SSvfOp::Wait;
    op.wait = {s.line, m_runState, m_runEndState, std::max(byCount, byTime)};
    m_state = m_runEndState;
    Emit(std::move(op));
}

void CReader::State(const SStatement& s)
{
    SSvfOp op;
    op.kind = SSvfOp::State;
    op.path.line = s.line;
    op.path.explicitPath = s.tokens.size() > 2;
    ESvfState previous = m_state;
    for (size_t i = 1; i < s.tokens.size(); ++i) {
        ESvfState state;
        if (s.tokens[i].value || !ParseState(s.tokens[i].text, state))
            throw CSvfError(s.line, "STATE: unknown state " + s.tokens[i].text);
        if (op.path.explicitPath && state != SVF_RESET && NextSvfState(previous, false) != state &&
            NextSvfState(previous, true) != state) {
            throw CSvfError(s.line, std::string("STATE: ") + STATE_NAMES[state] + " does not follow " +
                                        STATE_NAMES[previous]);
        }
        op.path.states.push_back(state);
        previous = state;
    }
    if (op.path.states.empty() || !IsStableSvfState(op.path.states.back()))
        throw CSvfError(s.line, "STATE must end in IDLE, DRPAUSE, IRPAUSE or RESET");
    m_state = op.path.states.back();
    Emit(std::move(op));
}

void CReader::EndState(const SStatement& s, bool ir)
{
    ESvfState state;
    const ESvfState pause = ir ? SVF_IRPAUSE : SVF_DRPAUSE;
    if (s.tokens.size() != 2 || !ParseState(s.tokens[1].text, state) || (state != SVF_IDLE && state != pause))
        throw CSvfError(s.line, std::string(ir ? "ENDIR" : "ENDDR") + " must be IDLE or " + STATE_NAMES[pause]);
    (ir ? m_endIr : m_endDr) = state;
}

void CReader::Trst(const SStatement& s)
{
    const std::string mode = s.tokens.size() == 2 ? s.tokens[1].text : "";
    if (mode == "ON") {
        // The test reset line holds the TAP controller in Test-Logic-Reset.
        SSvfOp op;
        op.kind = SSvfOp::State;
        op.path = {s.line, false, {SVF_RESET}};
        m_state = SVF_RESET;
        Emit(std::move(op));
        m_notes.push_back("line " + std::to_string(s.line) + ": TRST ON played as a TAP reset");
    } else if (mode == "OFF" || mode == "Z" || mode == "ABSENT") {
        ++m_ignored;
    } else {
        throw CSvfError(s.line, "TRST must be ON, OFF, Z or ABSENT");
    }
}

void CReader::Frequency(const SStatement& s)
{
    double hz = 0;
    if (s.tokens.size() == 1) {
        m_frequency = 0;  // back to the full speed of the device
    } else if (s.tokens.size() == 3 && ParseReal(s.tokens[1].text, hz) && s.tokens[2].text == "HZ" && hz > 0) {
        m_frequency = hz;
    } else {
        throw CSvfError(s.line, "FREQUENCY needs a number and HZ");
    }
    ++m_ignored;
}

}  // namespace detail

using detail::CReader;

CSvfError::CSvfError(int line, const std::string& text)
    : std::runtime_error("line " + std::to_string(line) + ": " + text), m_line(line)
{
}

ESvfState NextSvfState(ESvfState state, bool tms)
{
    static const ESvfState TABLE[16][2] = {
        {SVF_IDLE, SVF_RESET},           {SVF_IDLE, SVF_DRSELECT},       {SVF_DRCAPTURE, SVF_IRSELECT},
        {SVF_DRSHIFT, SVF_DREXIT1},      {SVF_DRSHIFT, SVF_DREXIT1},     {SVF_DRPAUSE, SVF_DRUPDATE},
        {SVF_DRPAUSE, SVF_DREXIT2},      {SVF_DRSHIFT, SVF_DRUPDATE},    {SVF_IDLE, SVF_DRSELECT},
        {SVF_IRCAPTURE, SVF_RESET},      {SVF_IRSHIFT, SVF_IREXIT1},     {SVF_IRSHIFT, SVF_IREXIT1},
        {SVF_IRPAUSE, SVF_IRUPDATE},     {SVF_IRPAUSE, SVF_IREXIT2},     {SVF_IRSHIFT, SVF_IRUPDATE},
        {SVF_IDLE, SVF_DRSELECT},
    };
    return TABLE[state & 0x0F][tms ? 1 : 0];
}

const char* SvfStateName(ESvfState state)
{
    return STATE_NAMES[state & 0x0F];
}

bool IsStableSvfState(ESvfState state)
{
    return state == SVF_RESET || state == SVF_IDLE || state == SVF_DRPAUSE || state == SVF_IRPAUSE;
}

bool SSvfScan::Checked() const
{
    return mask.Any();
}

CSvfReader::CSvfReader(std::istream& in) : m_reader(std::make_unique<CReader>(in)) {}

CSvfReader::~CSvfReader() = default;

bool CSvfReader::Next(SSvfOp& op)
{
    return m_reader->Next(op);
}

unsigned CSvfReader::Statements() const
{
    return m_reader->m_statements;
}

unsigned CSvfReader::Ignored() const
{
    return m_reader->m_ignored;
}

uint64_t CSvfReader::BytesRead() const
{
    return m_reader->m_splitter.Consumed();
}

std::vector<std::string> CSvfReader::TakeNotes()
{
    return std::exchange(m_reader->m_notes, {});
}

SSvfProgram ReadSvf(const std::string& text)
{
    std::istringstream in(text);
    CSvfReader reader(in);
    SSvfProgram program;
    SSvfOp op;
    while (reader.Next(op))
        program.ops.push_back(std::move(op));
    program.statements = reader.Statements();
    program.ignored = reader.Ignored();
    program.notes = reader.TakeNotes();
    return program;
}

std::vector<SSvfScan> SvfScans(const SSvfProgram& program)
{
    std::vector<SSvfScan> scans;
    for (const SSvfOp& op : program.ops) {
        if (op.kind == SSvfOp::Scan)
            scans.push_back(op.scan);
    }
    return scans;
}

void ForEachSvfStatementSize(std::istream& in, const std::function<void(const SSvfStatementSize&)>& visit)
{
    CStatementSplitter splitter(in, false);
    SStatement s;
    while (splitter.Next(s)) {
        SSvfStatementSize size;
        size.line = s.line;
        size.name = s.tokens[0].text;
        size.tokens = s.tokens.size();
        if (s.tokens.size() >= 2 && !s.tokens[1].value) {
            char* end = nullptr;
            const long bits = std::strtol(s.tokens[1].text.c_str(), &end, 10);
            if (*end == '\0' && bits >= 0 && bits <= 0xFFFFFF)
                size.length = bits;
        }
        visit(size);
    }
}

}  // namespace devupdate::svf
