#include "UpdateRunState.h"

#include "StringTable.h"

using namespace devupdate::link;
using namespace devupdate::xsvf;
using namespace devupdate::res;

namespace devupdate::update {

namespace {

bool IsTargetIndex(int index)
{
    return index >= 0 && index < MAX_TARGETS;
}

}  // namespace

CUpdateRunState::~CUpdateRunState()
{
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
    Observer().OnMessageChanged(text);
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
    Observer().OnRowChanged(index);
}

std::string CUpdateRunState::TargetRowText(int index) const
{
    if (!IsTargetIndex(index))
        return {};
    return RowText(m_targetResult[index].percent.load(), TargetStatus(index));
}

void CUpdateRunState::TakeTexts(SRunSnapshot& snapshot) const
{
    // The names change only while no run is going on, on the front end's thread.
    const unsigned rows = m_targetCount < MAX_TARGETS ? m_targetCount : MAX_TARGETS;
    std::lock_guard<std::mutex> lock(m_textMutex);
    snapshot.message = m_message;
    snapshot.rows.clear();
    for (unsigned i = 0; i < rows; ++i)
        snapshot.rows.push_back({m_targetName[i], m_targetResult[i].percent.load(), m_targetResult[i].status});
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

void CUpdateRunState::SetDeviceAnswered(bool answered)
{
    m_deviceAnswered = answered ? 1 : 0;
    if (answered)
        Observer().OnDeviceAnswered();
}

void CUpdateRunState::ShowMessageBox(const std::string& text)
{
    Observer().ShowMessageBox(text);
}

void CUpdateRunState::OnXsvfComment(const SXsvfCommentPiece& piece)
{
    Observer().OnXsvfComment(piece);
}

}  // namespace devupdate::update
