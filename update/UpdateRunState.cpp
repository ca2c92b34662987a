#include "UpdateRunState.h"

#include "StringTable.h"
#include "UpdateThread.h"

#include <chrono>
#include <system_error>

CUpdateRunState* g_pUpdateDlg = nullptr;

namespace {

bool IsTargetIndex(int index)
{
    return index >= 0 && index < MAX_TARGETS;
}

// A line that keeps sending must not hold the start of a run for ever.
constexpr auto MAX_DRAIN_TIME = std::chrono::seconds(2);

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
    std::lock_guard<std::mutex> lock(m_textMutex);
    m_targetResult[index].status = text;
}

std::string CUpdateRunState::TargetRowText(int index) const
{
    if (!IsTargetIndex(index))
        return {};
    return res::Format("%d%% %s", m_targetResult[index].percent.load(), TargetStatus(index).c_str());
}

bool CUpdateRunState::OpenAndDrainPort(const std::string& deviceName)
{
    if (!m_comPort.Open(deviceName, 57600, 2000))
        return false;
    m_comPort.SetTimeouts(1);
    const auto deadline = std::chrono::steady_clock::now() + MAX_DRAIN_TIME;
    uint8_t discarded = 0;
    while (m_comPort.Read(&discarded, 1) && std::chrono::steady_clock::now() < deadline) {
    }
    return true;
}

void CUpdateRunState::BeginRecordData(unsigned flags, unsigned type, uint32_t length)
{
    m_targetFlags = flags;
    m_targetType = type;
    m_dataLength = length;
    m_dataConsumed = 0;
    m_runPending = 0;
    m_dataEnd = false;
}

void CUpdateRunState::PrepareRun()
{
    SetMessage(res::LoadString(res::IDS_SWITCH_DEVICE));
    for (int i = 0; i < MAX_TARGETS; ++i) {
        m_targetResult[i].percent = 0;
        SetTargetStatus(i, {});
    }
    m_currentTarget = 0;
    g_unexpectedAnswers = 0;
    m_deviceAnswered = 0;
    m_cancelRequested = 0;
    m_cancelConfirmed = 0;
    m_endedByCancel = 0;
}

bool CUpdateRunState::LaunchWorker()
{
    if (m_worker.joinable())
        m_worker.join();
    m_runState = RunActive;
    m_refreshPending = 0;
    try {
        m_worker = std::thread(UpdateThread, this);
    } catch (const std::system_error&) {
        m_runState = RunIdle;
        return false;
    }
    return true;
}

void CUpdateRunState::ReleaseRunResources()
{
    // The worker's last action was its final write of m_runState.
    if (m_worker.joinable())
        m_worker.join();
    CloseUpdateFile();
    m_comPort.Close();
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
