#include "XsvfListing.h"

#include "StringTable.h"
#include "TapState.h"
#include "XsvfCommands.h"
#include "XsvfInfo.h"

#include <bit>
#include <optional>

using namespace xsvf;

namespace {

// Reads the stream for the listing; every read reports whether the bytes
// were there.
class CStreamCursor {
public:
    explicit CStreamCursor(const std::vector<uint8_t>& stream) : m_stream(stream) {}

    bool AtEnd() const { return m_pos >= m_stream.size(); }
    size_t Left() const { return m_stream.size() - m_pos; }

    std::optional<uint8_t> Byte()
    {
        if (AtEnd())
            return std::nullopt;
        return m_stream[m_pos++];
    }

    std::optional<long> Value(int bytes)
    {
        if (Left() < static_cast<size_t>(bytes))
            return std::nullopt;
        uint32_t value = 0;
        for (int i = 0; i < bytes; ++i)
            value = value << 8 | m_stream[m_pos++];
        return bytes == 4 ? static_cast<long>(static_cast<int32_t>(value)) : static_cast<long>(value);
    }

    // n bytes as "0x..." hex; nullopt when fewer are left.
    std::optional<std::string> Hex(long n, int* ones = nullptr)
    {
        if (n < 0 || Left() < static_cast<size_t>(n))
            return std::nullopt;
        static const char digits[] = "0123456789abcdef";
        std::string text = "0x";
        for (long i = 0; i < n; ++i) {
            const uint8_t byte = m_stream[m_pos++];
            text.push_back(digits[byte >> 4]);
            text.push_back(digits[byte & 0x0F]);
            if (ones != nullptr)
                *ones += std::popcount(byte);
        }
        return text;
    }

private:
    const std::vector<uint8_t>& m_stream;
    size_t m_pos = 0;
};

std::string StateText(unsigned code)
{
    return res::Format("%u (%s)", code, TapStateName(code));
}

std::string EndStateText(unsigned value, bool ir)
{
    if (value > 1)
        return res::Format("%u (illegal)", value);
    return res::Format("%u (%s)", value, TapStateName(value == 0 ? TAP_IDLE : ir ? TAP_IRPAUSE : TAP_DRPAUSE));
}

std::string QuoteComment(const std::string& text)
{
    std::string quoted = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7F || c == '"' || c == '\\')
            quoted += res::Format("\\x%02x", byte);
        else
            quoted.push_back(c);
    }
    return quoted + "\"";
}

// Lists one stream; `out` collects the lines.
class CXsvfLister {
public:
    explicit CXsvfLister(const std::vector<uint8_t>& stream) : m_in(stream) {}

    std::string Run()
    {
        long count = 0;
        while (!m_in.AtEnd()) {
            const uint8_t code = *m_in.Byte();
            ++count;
            m_line = res::Format("%ld: %s", count, XsvfCommandName(code));
            const bool goOn = ListArguments(code);
            m_out += m_line + "\n";
            if (!m_note.empty()) {
                m_out += "-- " + m_note + "\n";
                return m_out;
            }
            if (!goOn) {
                if (!m_in.AtEnd())
                    m_out += res::Format("-- %zu bytes after XCOMPLETE are not played\n", m_in.Left());
                return m_out;
            }
        }
        m_out += "-- the stream ends without XCOMPLETE\n";
        return m_out;
    }

private:
    // Appends the arguments of one command to m_line. False after XCOMPLETE;
    // sets m_note when the listing cannot go on.
    bool ListArguments(uint8_t code)
    {
        switch (code) {
        case XCOMPLETE: return false;
        case XTDOMASK:
        case XSDR:
        case XSDRB:
        case XSDRC:
        case XSDRE: return Data(1);
        case XSDRTDO:
        case XSDRTDOB:
        case XSDRTDOC:
        case XSDRTDOE: return Data(2);
        case XSETSDRMASKS: return Masks();
        case XSIR: return InstructionShift(1);
        case XSIR2: return InstructionShift(2);
        case XRUNTEST: return Number(4);
        case XREPEAT: return Number(1);
        case XSDRSIZE: return ShiftSize();
        case XSDRINC: return Increment();
        case XSTATE: return State();
        case XENDIR: return EndState(true);
        case XENDDR: return EndState(false);
        case XCOMMENT: return Comment();
        case XWAIT: return Wait();
        default:
            if (code >= XSVF_COMMAND_COUNT)
                m_line += res::Format(" (code %u)", code);
            m_note = "unsupported command: the player stops here";
            return false;
        }
    }

    bool Truncated()
    {
        m_line += " ...";
        m_note = "the stream ends within this command";
        return false;
    }

    bool Hex(long n, int* ones = nullptr)
    {
        const auto hex = m_in.Hex(n, ones);
        if (!hex)
            return Truncated();
        m_line += " " + *hex;
        return true;
    }

    bool Data(int buffers)
    {
        for (int i = 0; i < buffers; ++i) {
            if (!Hex(m_shiftBytes))
                return false;
        }
        return true;
    }

    bool Masks()
    {
        if (!Hex(m_shiftBytes))
            return false;
        int ones = 0;
        if (!Hex(m_shiftBytes, &ones))
            return false;
        m_dataMaskOnes = ones;
        return true;
    }

    bool Number(int bytes)
    {
        const auto value = m_in.Value(bytes);
        if (!value)
            return Truncated();
        m_line += res::Format(" %ld", *value);
        return true;
    }

    bool InstructionShift(int lengthBytes)
    {
        const auto bits = m_in.Value(lengthBytes);
        if (!bits)
            return Truncated();
        m_line += res::Format(" %ld", *bits);
        if (BytesForBits(*bits) > MAX_LEN) {
            m_note = "length over the player's buffers: the player stops here (data overflow)";
            return false;
        }
        return Hex(BytesForBits(*bits));
    }

    bool ShiftSize()
    {
        const auto bits = m_in.Value(4);
        if (!bits)
            return Truncated();
        m_line += res::Format(" %ld", *bits);
        if (*bits < 0 || *bits > MAX_SHIFT_BITS) {
            m_note = "length over the player's buffers: the player stops here (data overflow)";
            return false;
        }
        m_shiftBytes = BytesForBits(*bits);
        return true;
    }

    bool Increment()
    {
        if (!Hex(m_shiftBytes))
            return false;
        const auto steps = m_in.Byte();
        if (!steps)
            return Truncated();
        m_line += res::Format(" %u", *steps);
        for (unsigned i = 0; i < *steps; ++i) {
            if (!Hex(BytesForBits(m_dataMaskOnes)))
                return false;
        }
        return true;
    }

    bool State()
    {
        const auto state = m_in.Byte();
        if (!state)
            return Truncated();
        m_line += ' ';
        m_line += StateText(*state);
        return true;
    }

    bool EndState(bool ir)
    {
        const auto value = m_in.Byte();
        if (!value)
            return Truncated();
        m_line += ' ';
        m_line += EndStateText(*value, ir);
        return true;
    }

    bool Comment()
    {
        std::string text;
        for (;;) {
            const auto byte = m_in.Byte();
            if (!byte)
                return Truncated();
            if (*byte == 0)
                break;
            text.push_back(static_cast<char>(*byte));
        }
        m_line += " " + QuoteComment(text);
        return true;
    }

    bool Wait()
    {
        const auto waitState = m_in.Byte();
        const auto endState = m_in.Byte();
        const auto time = m_in.Value(4);
        if (!waitState || !endState || !time)
            return Truncated();
        m_line += ' ';
        m_line += StateText(*waitState);
        m_line += ' ';
        m_line += StateText(*endState);
        m_line += res::Format(" %ld", static_cast<long>(*time));
        return true;
    }

    CStreamCursor m_in;
    std::string m_out;
    std::string m_line;
    std::string m_note;
    long m_shiftBytes = 0;
    int m_dataMaskOnes = 0;
};

}  // namespace

std::string ListXsvf(const std::vector<uint8_t>& stream)
{
    return CXsvfLister(stream).Run();
}
