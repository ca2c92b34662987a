#pragma once
// What update-cli shows of a run while it goes on, as text for people
// (CProgressDisplay) or as JSON Lines for programs (CJsonRunView).

#include "ProgressRow.h"

#include <string>
#include <string_view>
#include <vector>

class CRunView {
public:
    virtual ~CRunView() = default;
    virtual void ShowMessage(const std::string& text) = 0;
    // A piece of an XSVF comment line (raw bytes from the file).
    virtual void ShowComment(std::string_view text, bool starts, bool ends) = 0;
    // Every row, as it stands now.
    virtual void ShowRows(const std::vector<devupdate::update::SProgressRow>& rows) = 0;
    // The run's own time figures, shown with the rows where there is room.
    virtual void ShowRunTiming(const std::string& text) { (void)text; }
    // The run has ended; nothing more is shown while it runs.
    virtual void Finish() = 0;
};
