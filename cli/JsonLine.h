#pragma once
// One JSON object on one line, built field by field: update-cli's --json
// events and its --log records. Text that is not valid UTF-8 is written
// byte by byte as \u00XX escapes, so every line parses.

#include "RunOutcome.h"
#include "SignatureCheck.h"

#include <cstdint>
#include <string>

class CJsonLine {
public:
    CJsonLine& Text(const char* key, const std::string& value);
    CJsonLine& Number(const char* key, int64_t value);
    CJsonLine& Real(const char* key, double value);
    CJsonLine& Bool(const char* key, bool value);
    // A value already in JSON (an array or object built elsewhere).
    CJsonLine& Raw(const char* key, const std::string& json);
    // The object, ending in a line end.
    std::string Line() const { return "{" + m_fields + "}\n"; }
    // The object without the line end, for nesting.
    std::string Object() const { return "{" + m_fields + "}"; }

private:
    CJsonLine& Field(const char* key, const std::string& json);
    std::string m_fields;
};

// A JSON string literal of text, quotes included.
std::string JsonString(const std::string& text);

// The outcome's records as a JSON array of objects.
std::string JsonRecords(const SRunOutcome& outcome);

// The file's signature as the line "signed by ..." names it: an object of
// key_id, trusted_comment and trusted; null when the file is not signed.
std::string JsonSignature(const SSignatureCheck& check);
