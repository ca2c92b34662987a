#pragma once
// One target's row as a run shows it: its name, how far and its status.

#include <string>

namespace devupdate::update {

struct SProgressRow {
    std::string name;  // trimmed
    int percent = 0;
    std::string status;
    std::string timing;  // time spent, bytes per second, time left; empty before the row began

    bool operator==(const SProgressRow&) const = default;
};

}  // namespace devupdate::update
