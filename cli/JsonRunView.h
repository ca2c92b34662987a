#pragma once
// update-cli --json: every event of a run as one JSON object on one line of
// standard output (the schema is in the README). Nothing is dropped: the
// lines are queued for a slow reader rather than lost.

#include "OutputStream.h"
#include "RunOutcome.h"
#include "RunView.h"
#include "SignatureCheck.h"

#include <string>
#include <vector>

class CJsonRunView : public CRunView {
public:
    explicit CJsonRunView(COutputStream& out) : m_out(out) {}

    void ShowMessage(const std::string& text) override;
    void ShowComment(std::string_view text, bool starts, bool ends) override;
    // One progress object per row whose percent or status changed.
    void ShowRows(const std::vector<SProgressRow>& rows) override;
    void Finish() override {}
    // A message the worker wanted in a box.
    void ShowBox(const std::string& text);
    // The device answered the wake-up.
    void ShowAnswer();

private:
    COutputStream& m_out;
    std::vector<SProgressRow> m_rows;
};

// The end object: the whole outcome, the exit status and the file's signature.
std::string JsonEndLine(const SRunOutcome& outcome, int exitStatus, const SSignatureCheck& signature);
// The end object of a run that never began: the ending named and the reason.
std::string JsonErrorLine(const char* ending, const std::string& message, int exitStatus);
