#include "PrintableText.h"

#include <cstdio>

namespace devupdate::update {

namespace {

void AppendEscaped(std::string& out, unsigned char byte)
{
    char escape[5];
    std::snprintf(escape, sizeof escape, "\\x%02x", byte);
    out += escape;
}

bool IsC0OrDelete(unsigned char byte) { return (byte < 0x20 && byte != '\t') || byte == 0x7F; }

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Length of the UTF-8 sequence that starts at text[i], or 0 when none does.
size_t Utf8SequenceLength(std::string_view text, size_t i)
{
    const auto lead = static_cast<unsigned char>(text[i]);
    size_t length = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
    }
    if (length == 0 || i + length > text.size()) {
        return 0;
    }
    for (size_t k = 1; k < length; ++k) {
        if (!IsContinuation(static_cast<unsigned char>(text[i + k]))) {
            return 0;
        }
    }
    return length;
}

}  // namespace

std::string PrintableText(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            if (IsC0OrDelete(byte)) {
                AppendEscaped(out, byte);
            } else {
                out += static_cast<char>(byte);
            }
            ++i;
            continue;
        }
        const size_t length = Utf8SequenceLength(text, i);
        const bool c1Encoded = length == 2 && byte == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
        if (c1Encoded) {
            AppendEscaped(out, byte);
            AppendEscaped(out, static_cast<unsigned char>(text[i + 1]));
            i += 2;
        } else if (length > 0) {
            out.append(text.substr(i, length));
            i += length;
        } else {
            // A byte outside any UTF-8 sequence: a single-byte C1 control is
            // as dangerous as its encoded form; other bytes stay as they are.
            if (byte <= 0x9F) {
                AppendEscaped(out, byte);
            } else {
                out += static_cast<char>(byte);
            }
            ++i;
        }
    }
    return out;
}

}  // namespace devupdate::update
