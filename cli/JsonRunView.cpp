#include "JsonRunView.h"

#include "JsonEvents.h"

using namespace devupdate::update;

using namespace events;

void CJsonRunView::ShowMessage(const std::string& text)
{
    JsonObject message = JsonEvent(name::MESSAGE);
    message[field::TEXT] = text;
    m_out.Queue(JsonLine(std::move(message)));
}

void CJsonRunView::ShowComment(std::string_view text, bool starts, bool ends)
{
    JsonObject comment = JsonEvent(name::COMMENT);
    comment[field::TEXT] = text;
    comment[field::FIRST] = starts;
    comment[field::LAST] = ends;
    m_out.Queue(JsonLine(std::move(comment)));
}

void CJsonRunView::ShowRows(const std::vector<SProgressRow>& rows)
{
    for (size_t i = 0; i < rows.size(); ++i) {
        if (i < m_rows.size() && rows[i].percent == m_rows[i].percent && rows[i].status == m_rows[i].status)
            continue;
        JsonObject progress = JsonEvent(name::PROGRESS);
        progress[field::TARGET] = i + 1;
        progress[field::NAME] = rows[i].name;
        progress[field::PERCENT] = rows[i].percent;
        progress[field::STATUS] = rows[i].status;
        m_out.Queue(JsonLine(std::move(progress)));
    }
    m_rows = rows;
}

void CJsonRunView::ShowBox(const std::string& text)
{
    JsonObject box = JsonEvent(name::BOX);
    box[field::TEXT] = text;
    m_out.Queue(JsonLine(std::move(box)));
}

void CJsonRunView::ShowAnswer()
{
    m_out.Queue(JsonLine(JsonEvent(name::ANSWERED)));
}
