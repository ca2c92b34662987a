#include "JsonLine.h"

#include "StringTable.h"

namespace {

// The length of the valid UTF-8 sequence at text[i], or 0.
size_t Utf8Length(const std::string& text, size_t i)
{
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    size_t length = 0;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4;
    if (length == 0 || i + length > text.size())
        return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
    }
    // Overlong three- and four-byte forms, surrogates and values past U+10FFFF.
    if ((lead == 0xE0 && byte(i + 1) < 0xA0) || (lead == 0xED && byte(i + 1) > 0x9F) ||
        (lead == 0xF0 && byte(i + 1) < 0x90) || (lead == 0xF4 && byte(i + 1) > 0x8F))
        return 0;
    return length;
}

}  // namespace

std::string JsonString(const std::string& text)
{
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            out += res::Format("\\u%04x", c);
        } else if (c >= 0x80) {
            const size_t length = Utf8Length(text, i);
            if (length == 0) {
                out += res::Format("\\u%04x", c);
            } else {
                out.append(text, i, length);
                i += length;
                continue;
            }
        } else {
            out += static_cast<char>(c);
        }
        ++i;
    }
    return out + "\"";
}

CJsonLine& CJsonLine::Field(const char* key, const std::string& json)
{
    if (!m_fields.empty())
        m_fields += ',';
    m_fields += JsonString(key) + ":" + json;
    return *this;
}

CJsonLine& CJsonLine::Text(const char* key, const std::string& value)
{
    return Field(key, JsonString(value));
}

CJsonLine& CJsonLine::Number(const char* key, int64_t value)
{
    return Field(key, std::to_string(value));
}

CJsonLine& CJsonLine::Real(const char* key, double value)
{
    return Field(key, res::Format("%.3f", value));
}

CJsonLine& CJsonLine::Bool(const char* key, bool value)
{
    return Field(key, value ? "true" : "false");
}

CJsonLine& CJsonLine::Raw(const char* key, const std::string& json)
{
    return Field(key, json);
}

std::string JsonRecords(const SRunOutcome& outcome)
{
    std::string array = "[";
    for (const SRecordOutcome& record : outcome.records) {
        if (array.size() > 1)
            array += ',';
        array += CJsonLine()
                     .Number("record", record.index + 1)
                     .Number("target", record.number)
                     .Text("name", record.name)
                     .Text("type", TargetTypeName(record.type))
                     .Text("result", RecordResultName(record.result))
                     .Text("status", record.status)
                     .Number("percent", record.percent)
                     .Number("bytes_sent", static_cast<int64_t>(record.bytesSent))
                     .Real("seconds", record.seconds)
                     .Object();
    }
    return array + "]";
}

std::string JsonSignature(const SSignatureCheck& check)
{
    const SFileSignature* signature = NamedSignature(check);
    if (signature == nullptr)
        return "null";
    return CJsonLine()
        .Text("key_id", signature->keyId)
        .Text("trusted_comment", signature->trustedComment)
        .Bool("trusted", signature->trusted)
        .Object();
}
