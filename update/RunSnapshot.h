#pragma once
// What a front end shows of a run, taken at one moment.

#include <cstdint>
#include <string>
#include <vector>

namespace devupdate::update {

// A target row's text, "%d%% %s".
std::string RowText(int percent, const std::string& status);

struct SRunSnapshot {
    struct SRow {
        std::string name;  // as the header has it, line end included
        int percent = 0;
        std::string status;
        std::string Text() const { return RowText(percent, status); }
    };

    int runState = 0;  // RunState
    std::string message;
    bool deviceAnswered = false;
    int currentTarget = 0;
    uint64_t bytesWritten = 0;
    // One per target the checked file names.
    std::vector<SRow> rows;

    // The worker has ended (RunEnded or RunEndedWithMessage).
    bool Ended() const;
};

}  // namespace devupdate::update
