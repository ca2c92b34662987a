#include "FaultSchedule.h"

#include <cctype>
#include <cstdlib>
#include <sstream>

namespace devupdate::devsim {

namespace {

bool Covers(const SFaultRule& rule, unsigned count)
{
    if (count < rule.nth)
        return false;
    return rule.times == 0 || count < rule.nth + rule.times;
}

const struct {
    const char* name;
    EPhase phase;
} PHASES[] = {
    {"wakeup", EPhase::Wakeup}, {"start", EPhase::Start},     {"select", EPhase::Select},
    {"type", EPhase::Type},     {"block", EPhase::Block},     {"pins", EPhase::Pins},
    {"shift", EPhase::Shift},   {"readtdo", EPhase::ReadTdo}, {"delay", EPhase::Delay},
    {"finish", EPhase::Finish}, {"frame", EPhase::AnyFrame},
};

const struct {
    const char* name;
    EFaultAction action;
} ACTIONS[] = {
    {"reject", EFaultAction::Reject}, {"replace", EFaultAction::Replace},
    {"silent", EFaultAction::Silent}, {"garbage", EFaultAction::Garbage},
    {"busy", EFaultAction::Busy},     {"late", EFaultAction::Late},
    {"corrupt", EFaultAction::Corrupt}, {"drop", EFaultAction::Drop},
    {"vanish", EFaultAction::Vanish},
};

std::optional<unsigned> ParseDecimal(const std::string& text)
{
    if (text.empty() || text.size() > 9)
        return std::nullopt;
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return std::nullopt;
    return static_cast<unsigned>(std::strtoul(text.c_str(), nullptr, 10));
}

std::optional<std::vector<uint8_t>> ParseHexBytes(const std::string& text)
{
    std::vector<uint8_t> bytes;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        if (item.empty() || item.size() > 2)
            return std::nullopt;
        for (char c : item)
            if (!std::isxdigit(static_cast<unsigned char>(c)))
                return std::nullopt;
        bytes.push_back(static_cast<uint8_t>(std::strtoul(item.c_str(), nullptr, 16)));
    }
    if (bytes.empty())
        return std::nullopt;
    return bytes;
}

bool ParseAction(const std::string& text, SFaultRule& rule)
{
    const size_t eq = text.find('=');
    const std::string name = text.substr(0, eq);
    const std::string arg = eq == std::string::npos ? "" : text.substr(eq + 1);
    bool known = false;
    for (const auto& a : ACTIONS)
        if (name == a.name) {
            rule.action = a.action;
            known = true;
        }
    if (!known)
        return false;
    switch (rule.action) {
    case EFaultAction::Replace: {
        auto bytes = ParseHexBytes(arg);
        if (!bytes)
            return false;
        rule.bytes = *bytes;
        return true;
    }
    case EFaultAction::Garbage:
    case EFaultAction::Busy:
    case EFaultAction::Late: {
        auto n = ParseDecimal(arg);
        if (!n)
            return false;
        rule.count = *n;
        return true;
    }
    default:
        return eq == std::string::npos;
    }
}

}  // namespace

std::optional<SFaultRule> CFaultSchedule::Next(EPhase phase, bool jtagFrame)
{
    const unsigned count = ++m_counts[static_cast<size_t>(phase)];
    const unsigned frames = jtagFrame ? ++m_counts[static_cast<size_t>(EPhase::AnyFrame)] : 0;
    for (const SFaultRule& rule : m_rules) {
        if (rule.phase == phase && Covers(rule, count))
            return rule;
        if (jtagFrame && rule.phase == EPhase::AnyFrame && Covers(rule, frames))
            return rule;
    }
    return std::nullopt;
}

std::optional<SFaultRule> ParseFaultRule(const std::string& text)
{
    std::vector<std::string> fields;
    std::stringstream in(text);
    std::string field;
    while (std::getline(in, field, ':'))
        fields.push_back(field);
    if (fields.size() != 3 && fields.size() != 4)
        return std::nullopt;

    SFaultRule rule;
    bool known = false;
    for (const auto& p : PHASES)
        if (fields[0] == p.name) {
            rule.phase = p.phase;
            known = true;
        }
    const auto nth = ParseDecimal(fields[1]);
    if (!known || !nth || *nth == 0)
        return std::nullopt;
    rule.nth = *nth;
    if (fields.size() == 4) {
        const auto times = ParseDecimal(fields[2]);
        if (!times)
            return std::nullopt;
        rule.times = *times;
    }
    if (!ParseAction(fields.back(), rule))
        return std::nullopt;
    return rule;
}

const char* PhaseName(EPhase phase)
{
    for (const auto& p : PHASES)
        if (p.phase == phase)
            return p.name;
    return "?";
}

}  // namespace devupdate::devsim
