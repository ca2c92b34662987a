#pragma once
// What update-cli shows while a run goes on: message lines and XSVF comment
// lines, and on a terminal one live progress bar per target below them.
// Every change goes to the output as one piece; when the output refuses it
// (a reader that does not keep up), the change is dropped and the display
// stays consistent with what was really written.

#include "OutputStream.h"
#include "RunView.h"

#include "RunOutcome.h"

#include <string>
#include <string_view>
#include <vector>

// A row as a bar: name (control characters escaped), bar, percent, status and
// time figures, with a line end.
std::string ProgressBarLine(const devupdate::update::SProgressRow& row);

class CProgressDisplay : public CRunView {
public:
    // live: draw bars (a terminal); quiet: show nothing at all while running.
    CProgressDisplay(COutputStream& out, bool live, bool quiet);

    void ShowMessage(const std::string& text) override;
    // A piece of an XSVF comment line (raw bytes from the file): shown above
    // the bars with control characters made visible; the bars come back
    // once the line ends.
    void ShowComment(std::string_view text, bool starts, bool ends) override;
    // On a terminal: the bars with their time figures. Elsewhere: a plain
    // line for a row each time it passes another tenth, so logs show progress.
    void ShowRows(const std::vector<devupdate::update::SProgressRow>& rows) override;
    void ShowRunTiming(const std::string& text) override { m_runTiming = text; }
    // Removes the bars, so that the final rows print on a clean screen.
    void Finish() override;

private:
    std::string EraseBars() const;
    std::string DrawBars() const;
    int BarLineCount() const;
    void ShowPlainProgress(const std::vector<devupdate::update::SProgressRow>& rows);
    // Offers text; on success the bars are as `barsDrawn` says.
    bool Show(const std::string& text, bool barsDrawn);

    COutputStream& m_out;
    bool m_live;
    bool m_quiet;
    std::vector<devupdate::update::SProgressRow> m_rows;
    int m_barLines = 0;
    std::string m_runTiming;
    std::vector<int> m_tenthsShown;  // plain lines: the last tenth shown per row
    bool m_commentOpen = false;
    std::string m_commentCarry;  // the start of a UTF-8 sequence cut by a piece
};
