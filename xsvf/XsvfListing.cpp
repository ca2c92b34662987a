#include "XsvfListing.h"

#include "StringTable.h"
#include "TapState.h"
#include "XsvfCommands.h"
#include "XsvfInfo.h"

#include <bit>
#include <optional>

using namespace devupdate::res;

namespace devupdate::xsvf {

namespace {

// Reads the stream for the listing; every read reports whether the bytes
// were there.
class CStreamCursor {
public:
    explicit CStreamCursor(const XsvfByteSource& source) : m_source(source) {}

    std::optional<uint8_t> Byte()
    {
        uint8_t byte = 0;
        if (m_ended || !m_source(byte)) {
            m_ended = true;
            return std::nullopt;
        }
        return byte;
    }

    // The bytes left, read to the end.
    size_t DrainCount()
    {
        size_t count = 0;
        while (Byte())
            ++count;
        return count;
    }

    std::optional<uint32_t> Value(int bytes)
    {
        uint32_t value = 0;
        for (int i = 0; i < bytes; ++i) {
            const auto byte = Byte();
            if (!byte)
                return std::nullopt;
            value = value << 8 | *byte;
        }
        // Unsigned, as the device takes waits: the player sends XRUNTEST and
        // XWAIT times as they are, and any XSDRSIZE of 2^31 or more overflows.
        return value;
    }

    // n bytes as "0x..." hex; nullopt when fewer are left. n is at most a
    // player buffer, so the text stays small.
    std::optional<std::string> Hex(long n, int* ones = nullptr)
    {
        if (n < 0)
            return std::nullopt;
        static const char digits[] = "0123456789abcdef";
        std::string text(2 + 2 * static_cast<size_t>(n), '0');
        text[1] = 'x';
        char* out = text.data() + 2;
        for (long i = 0; i < n; ++i) {
            uint8_t byte = 0;
            if (m_ended || !m_source(byte)) {
                m_ended = true;
                return std::nullopt;
            }
            *out++ = digits[byte >> 4];
            *out++ = digits[byte & 0x0F];
            if (ones != nullptr)
                *ones += std::popcount(byte);
        }
        return text;
    }

private:
    const XsvfByteSource& m_source;
    bool m_ended = false;
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

void AppendQuoted(std::string& quoted, uint8_t byte)
{
    if (byte < 0x20 || byte >= 0x7F || byte == '"' || byte == '\\')
        quoted += res::Format("\\x%02x", byte);
    else
        quoted.push_back(static_cast<char>(byte));
}

// A comment longer than this goes out in pieces of about this size.
constexpr size_t COMMENT_PIECE = 64 * 1024;

// Lists one stream; the lines go to `out` as they are made.
class CXsvfLister {
public:
    CXsvfLister(const XsvfByteSource& source, const ListingSink& out) : m_in(source), m_out(out) {}

    void Run()
    {
        long count = 0;
        for (;;) {
            const auto code = m_in.Byte();
            if (!code)
                break;
            ++count;
            m_line = res::Format("%ld: %s", count, XsvfCommandName(*code));
            const bool goOn = ListArguments(*code);
            m_line += "\n";
            m_out(m_line);
            if (!m_note.empty()) {
                m_out("-- " + m_note + "\n");
                return;
            }
            if (!goOn) {
                const size_t left = m_in.DrainCount();
                if (left != 0)
                    m_out(res::Format("-- %zu bytes after XCOMPLETE are not played\n", left));
                return;
            }
        }
        m_out("-- the stream ends without XCOMPLETE\n");
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
        m_line += res::Format(" %lu", static_cast<unsigned long>(*value));
        return true;
    }

    bool InstructionShift(int lengthBytes)
    {
        const auto bits = m_in.Value(lengthBytes);
        if (!bits)
            return Truncated();
        m_line += res::Format(" %lu", static_cast<unsigned long>(*bits));
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
        m_line += res::Format(" %lu", static_cast<unsigned long>(*bits));
        if (*bits > static_cast<uint32_t>(MAX_SHIFT_BITS)) {
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

    // The comment goes out in pieces once it is long, so that a huge one is
    // never held whole; a short one keeps its line together.
    bool Comment()
    {
        std::string quoted = " \"";
        bool inPieces = false;
        for (;;) {
            const auto byte = m_in.Byte();
            if (!byte) {
                if (!inPieces)
                    return Truncated();
                m_line = quoted + "\"";
                return Truncated();
            }
            if (*byte == 0)
                break;
            AppendQuoted(quoted, *byte);
            if (quoted.size() >= COMMENT_PIECE) {
                m_out(inPieces ? quoted : m_line + quoted);
                m_line.clear();
                quoted.clear();
                inPieces = true;
            }
        }
        m_line += quoted + "\"";
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
        m_line += res::Format(" %lu", static_cast<unsigned long>(*time));
        return true;
    }

    CStreamCursor m_in;
    const ListingSink& m_out;
    std::string m_line;
    std::string m_note;
    long m_shiftBytes = 0;
    int m_dataMaskOnes = 0;
};

}  // namespace

void ListXsvf(const XsvfByteSource& source, const ListingSink& out)
{
    CXsvfLister(source, out).Run();
}

std::string ListXsvf(const std::vector<uint8_t>& stream)
{
    size_t pos = 0;
    const XsvfByteSource source = [&](uint8_t& byte) {
        if (pos >= stream.size())
            return false;
        byte = stream[pos++];
        return true;
    };
    std::string listing;
    ListXsvf(source, [&](std::string_view piece) { listing += piece; });
    return listing;
}

}  // namespace devupdate::xsvf
