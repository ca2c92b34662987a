#include "JsonRunView.h"

#include "JsonLine.h"

void CJsonRunView::ShowMessage(const std::string& text)
{
    m_out.Queue(CJsonLine().Text("event", "message").Text("text", text).Line());
}

void CJsonRunView::ShowComment(std::string_view text, bool starts, bool ends)
{
    m_out.Queue(CJsonLine()
                    .Text("event", "comment")
                    .Text("text", std::string(text))
                    .Bool("first", starts)
                    .Bool("last", ends)
                    .Line());
}

void CJsonRunView::ShowRows(const std::vector<SProgressRow>& rows)
{
    for (size_t i = 0; i < rows.size(); ++i) {
        if (i < m_rows.size() && rows[i].percent == m_rows[i].percent && rows[i].status == m_rows[i].status)
            continue;
        m_out.Queue(CJsonLine()
                        .Text("event", "progress")
                        .Number("target", static_cast<int64_t>(i + 1))
                        .Text("name", rows[i].name)
                        .Number("percent", rows[i].percent)
                        .Text("status", rows[i].status)
                        .Line());
    }
    m_rows = rows;
}

void CJsonRunView::ShowBox(const std::string& text)
{
    m_out.Queue(CJsonLine().Text("event", "box").Text("text", text).Line());
}

void CJsonRunView::ShowAnswer()
{
    m_out.Queue(CJsonLine().Text("event", "answered").Line());
}

std::string JsonEndLine(const SRunOutcome& outcome, int exitStatus, const SSignatureCheck& signature)
{
    return CJsonLine()
        .Text("event", "end")
        .Text("ending", EndingName(outcome.ending))
        .Number("exit_status", exitStatus)
        .Text("message", outcome.message)
        .Number("targets_updated", outcome.targetsUpdated)
        .Number("target_count", outcome.targetCount)
        .Bool("body_complete", outcome.bodyComplete)
        .Raw("records", JsonRecords(outcome))
        .Raw("signature", JsonSignature(signature))
        .Line();
}

std::string JsonErrorLine(const char* ending, const std::string& message, int exitStatus)
{
    return CJsonLine()
        .Text("event", "end")
        .Text("ending", ending)
        .Number("exit_status", exitStatus)
        .Text("message", message)
        .Line();
}
