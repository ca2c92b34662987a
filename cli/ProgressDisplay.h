#pragma once
// What update-cli shows while a run goes on: message lines, and on a
// terminal one live progress bar per target below them.

#include "RunOutcome.h"

#include <cstdio>
#include <string>
#include <vector>

struct SProgressRow {
    std::string name;  // trimmed
    int percent = 0;
    std::string status;

    bool operator==(const SProgressRow&) const = default;
};

class CProgressDisplay {
public:
    // live: draw bars (a terminal); quiet: show nothing at all while running.
    CProgressDisplay(FILE* out, bool live, bool quiet);

    void ShowMessage(const std::string& text);
    void ShowRows(const std::vector<SProgressRow>& rows);
    // Removes the bars, so that the final rows print on a clean screen.
    void Finish();

private:
    void EraseBars();
    void DrawBars();

    FILE* m_out;
    bool m_live;
    bool m_quiet;
    std::vector<SProgressRow> m_rows;
    int m_barLines = 0;
};
