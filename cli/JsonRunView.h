#pragma once
// update-cli --json: every event of a run as one JSON object on one line of
// standard output (the schema is in the README). Nothing is dropped: the
// lines are queued for a slow reader rather than lost.

#include "OutputStream.h"
#include "RunOutcome.h"
#include "RunView.h"

#include <string>
#include <vector>

class CJsonRunView : public CRunView {
public:
    explicit CJsonRunView(COutputStream& out) : m_out(out) {}

    void ShowMessage(const std::string& text) override;
    void ShowComment(std::string_view text, bool starts, bool ends) override;
    // One progress object per row whose percent or status changed.
    void ShowRows(const std::vector<devupdate::update::SProgressRow>& rows) override;
    void Finish() override {}
    // A message the worker wanted in a box.
    void ShowBox(const std::string& text);
    // The device answered the wake-up.
    void ShowAnswer();

private:
    COutputStream& m_out;
    std::vector<devupdate::update::SProgressRow> m_rows;
};
