#pragma once
// Counts the answered units per phase and finds the rule that applies to the
// next one. Not thread-safe; the device serialises access.

#include "FaultRule.h"

#include <array>
#include <optional>
#include <vector>

namespace devupdate::devsim {

class CFaultSchedule {
public:
    void SetRules(std::vector<SFaultRule> rules) { m_rules = std::move(rules); }

    // Counts one unit of `phase` (and of AnyFrame when jtagFrame) and returns
    // the first rule, in the order given, that covers it.
    std::optional<SFaultRule> Next(EPhase phase, bool jtagFrame);

    // Units of a phase counted so far.
    unsigned Count(EPhase phase) const { return m_counts[static_cast<size_t>(phase)]; }

private:
    static constexpr size_t PHASE_COUNT = static_cast<size_t>(EPhase::AnyFrame) + 1;
    std::vector<SFaultRule> m_rules;
    std::array<unsigned, PHASE_COUNT> m_counts{};
};

}  // namespace devupdate::devsim
