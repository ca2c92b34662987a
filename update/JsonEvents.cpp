#include "JsonEvents.h"

#include <cmath>

namespace devupdate::update {

namespace {

// The length of the valid UTF-8 sequence at text[i], or 0.
size_t Utf8Length(std::string_view text, size_t i)
{
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80)
        return 1;
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

// The text with every byte outside valid UTF-8 as the character of its number.
std::string ValidUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const size_t length = Utf8Length(text, i);
        if (length > 0) {
            out.append(text, i, length);
            i += length;
            continue;
        }
        const unsigned char byte = static_cast<unsigned char>(text[i++]);
        out += static_cast<char>(0xC0 | (byte >> 6));
        out += static_cast<char>(0x80 | (byte & 0x3F));
    }
    return out;
}

bool IsValidUtf8(std::string_view text)
{
    for (size_t i = 0; i < text.size();) {
        const size_t length = Utf8Length(text, i);
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

// The strings of a value made valid UTF-8, in place.
void MakeTextsValid(JsonObject& value)
{
    if (value.is_string()) {
        std::string& text = value.get_ref<std::string&>();
        if (!IsValidUtf8(text))
            text = ValidUtf8(text);
        return;
    }
    if (value.is_structured()) {  // a number iterates as itself
        for (JsonObject& element : value)
            MakeTextsValid(element);
    }
}

}  // namespace

JsonObject JsonEvent(const char* name)
{
    return {{events::field::EVENT, name}};
}

double JsonSeconds(double seconds)
{
    return std::round(seconds * 1000) / 1000;
}

JsonObject JsonRecords(const SRunOutcome& outcome)
{
    using namespace events;
    JsonObject records = JsonObject::array();
    for (const SRecordOutcome& record : outcome.records) {
        records.push_back({{field::RECORD, record.index + 1},
                           {field::TARGET, record.number},
                           {field::NAME, record.name},
                           {field::TYPE, TargetTypeName(record.type)},
                           {field::RESULT, RecordResultName(record.result)},
                           {field::STATUS, record.status},
                           {field::PERCENT, record.percent},
                           {field::BYTES_SENT, record.bytesSent},
                           {field::SECONDS, JsonSeconds(record.seconds)}});
    }
    return records;
}

JsonObject JsonEndEvent(const SRunOutcome& outcome, int exitStatus)
{
    using namespace events;
    JsonObject end = JsonErrorEnd(EndingName(outcome.ending), outcome.message, exitStatus);
    end[field::TARGETS_UPDATED] = outcome.targetsUpdated;
    end[field::TARGET_COUNT] = outcome.targetCount;
    end[field::BODY_COMPLETE] = outcome.bodyComplete;
    end[field::RECORDS] = JsonRecords(outcome);
    if (!outcome.osError.empty())
        end[field::OS_ERROR] = outcome.osError;
    return end;
}

JsonObject JsonSignature(const SSignatureCheck& check)
{
    using namespace events;
    const SFileSignature* signature = NamedSignature(check);
    if (signature == nullptr)
        return nullptr;
    return {{field::KEY_ID, signature->keyId},
            {field::TRUSTED_COMMENT, signature->trustedComment},
            {field::TRUSTED, signature->trusted}};
}

JsonObject JsonErrorEnd(const char* ending, const std::string& message, int exitStatus)
{
    using namespace events;
    JsonObject end = JsonEvent(name::END);
    end[field::ENDING] = ending;
    end[field::EXIT_STATUS] = exitStatus;
    end[field::MESSAGE] = message;
    return end;
}

std::string JsonLine(JsonObject object)
{
    MakeTextsValid(object);
    return object.dump() + "\n";
}

std::string JsonFields(const JsonObject& object)
{
    std::string line = JsonLine(object);
    // "{...}\n" without the braces and the line end.
    return line.size() > 3 ? line.substr(1, line.size() - 3) : std::string();
}

std::string JsonWithFields(const std::string& fields, const std::string& objectLine)
{
    std::string line = "{" + fields;
    if (objectLine.size() > 2 && objectLine[1] != '}')
        line += ',';
    line.append(objectLine, 1, std::string::npos);
    if (line.back() != '\n')
        line += '\n';
    return line;
}

std::string JsonTextOf(const nlohmann::json& event, const char* field)
{
    const auto found = event.find(field);
    return found != event.end() && found->is_string() ? found->get<std::string>() : std::string();
}

int JsonNumberOf(const nlohmann::json& event, const char* field, int otherwise)
{
    const auto found = event.find(field);
    return found != event.end() && found->is_number_integer() ? found->get<int>() : otherwise;
}

bool JsonFlagOf(const nlohmann::json& event, const char* field)
{
    const auto found = event.find(field);
    return found != event.end() && found->is_boolean() && found->get<bool>();
}

}  // namespace devupdate::update
