#include "UpdateRunState.h"

#include "StringTable.h"
#include "UpdateThread.h"


CUpdateRunState* g_pUpdateDlg = nullptr;

namespace {

bool IsTargetIndex(int index)
{
    return index >= 0 && index < MAX_TARGETS;
}

}  // namespace

CUpdateRunState::CUpdateRunState() = default;

CUpdateRunState::~CUpdateRunState()
{
    // Normally the front end has released the run; if it is torn down in the
    // middle of one, stop the worker before the state it uses disappears.
    if (m_worker.joinable()) {
        m_cancelRequested = 1;
        m_worker.join();
    }
    if (g_pUpdateDlg == this)
        g_pUpdateDlg = nullptr;
    CloseUpdateFile();
}

std::string CUpdateRunState::Message() const
{
    std::lock_guard<std::mutex> lock(m_textMutex);
    return m_message;
}

void CUpdateRunState::SetMessage(const std::string& text)
{
    {
        std::lock_guard<std::mutex> lock(m_textMutex);
        if (m_message == text)
            return;
        m_message = text;
    }
    OnMessageChanged(text);
}

std::string CUpdateRunState::TargetStatus(int index) const
{
    if (!IsTargetIndex(index))
        return {};
    std::lock_guard<std::mutex> lock(m_textMutex);
    return m_targetResult[index].status;
}

void CUpdateRunState::SetTargetStatus(int index, const std::string& text)
{
    if (!IsTargetIndex(index))
        return;
    {
        std::lock_guard<std::mutex> lock(m_textMutex);
        m_targetResult[index].status = text;
    }
    OnRowChanged(index);
}

std::string CUpdateRunState::TargetRowText(int index) const
{
    if (!IsTargetIndex(index))
        return {};
    return res::Format("%d%% %s", m_targetResult[index].percent.load(), TargetStatus(index).c_str());
}

void CUpdateRunState::ConfirmCancel()
{
    // The confirmation first: the worker that sees the request must see it too.
    m_cancelConfirmed = 1;
    m_cancelRequested = 1;
}

void CUpdateRunState::EndByCancel()
{
    if (m_cancelConfirmed != 0) {
        for (int i = m_currentTarget; i < static_cast<int>(m_targetCount); ++i)
            SetTargetStatus(i, res::LoadString(res::IDS_CANCELLED));
        SetMessage(res::LoadString(res::IDS_CANCELLED_BY_USER));
    }
    m_endedByCancel = 1;
}

void CUpdateRunState::ShowMessageBox(const std::string& text)
{
    std::fprintf(stderr, "%s\n", text.c_str());
}

