// The worker's account of a run: the start of a run's state, the records it
// worked on and the outcome built from them.

#include "UpdateRunState.h"

#include "StringTable.h"

#include <system_error>

using namespace devupdate::link;
using namespace devupdate::xsvf;
using namespace devupdate::res;

namespace devupdate::update {

namespace {

// A line that keeps sending must not hold the start of a run for ever.
constexpr auto MAX_DRAIN_TIME = std::chrono::seconds(2);

std::string StatusTextOf(ERecordResult result)
{
    switch (result) {
    case ERecordResult::Failed: return res::LoadString(res::IDS_UNSUCCESSFUL);
    case ERecordResult::Skipped: return res::LoadString(res::IDS_UPDATE_UNKNOWN);
    case ERecordResult::Refused: return res::LoadString(res::IDS_MISSING_TARGET);
    case ERecordResult::Cancelled: return res::LoadString(res::IDS_CANCELLED);
    default: return {};
    }
}

}  // namespace

bool CUpdateRunState::OpenAndDrainPort(const std::string& deviceName)
{
    if (!m_comPort.Open(deviceName, DEVICE_BAUD, OPEN_TIMEOUT_MS))
        return false;
    m_comPort.SetTimeouts(WAKEUP_TIMEOUT_MS);
    const auto deadline = std::chrono::steady_clock::now() + MAX_DRAIN_TIME;
    uint8_t discarded = 0;
    while (m_comPort.Read(&discarded, 1) && std::chrono::steady_clock::now() < deadline) {
    }
    return true;
}

void CUpdateRunState::ResetRunResults()
{
    SetMessage(res::LoadString(res::IDS_SWITCH_DEVICE));
    for (int i = 0; i < MAX_TARGETS; ++i) {
        m_targetResult[i].percent = 0;
        SetTargetStatus(i, {});
    }
    m_currentTarget = 0;
    m_unexpectedAnswers = 0;
    m_deviceAnswered = 0;
    m_cancelRequested = 0;
    m_cancelConfirmed = 0;
    m_endedByCancel = 0;
    m_cancelReason = ECancelReason::User;
    m_osError.clear();
    m_records.clear();
    m_recordOpen = false;
    m_bodyEndSeen = false;
    m_bodyPlace = EBodyPlace::BeforeNumber;
    m_workerEnding = ERunEnding::Failed;
    m_stopEnding = ERunEnding::Failed;
}

SRunOutcome CUpdateRunState::TakeWorkerOutcome()
{
    if (m_bodyPlace != EBodyPlace::Unknown && !m_bodyEndSeen)
        m_bodyEndSeen = ListRecordsNotReached();
    return BuildOutcome();
}

void CUpdateRunState::NotePortFailure()
{
    if (m_comPort.LastErrno() != 0)
        m_osError = std::error_code(m_comPort.LastErrno(), std::generic_category()).message();
}

SRunOutcome CUpdateRunState::BuildOutcome()
{
    SRunOutcome outcome;
    outcome.message = Message();
    outcome.messageBox = m_runState == RunEndedWithMessage;
    outcome.targetCount = static_cast<int>(m_targetCount);
    outcome.bodyComplete = m_bodyEndSeen;
    outcome.osError = m_osError;
    outcome.records = m_records;
    for (SRecordOutcome& record : outcome.records) {
        if (record.index < MAX_TARGETS) {
            record.status = TargetStatus(record.index);
            record.percent = m_targetResult[record.index].percent;
        } else {
            record.status = StatusTextOf(record.result);
        }
        if (record.result == ERecordResult::Updated)
            outcome.targetsUpdated += 1;
    }
    outcome.ending = m_workerEnding;
    if (outcome.ending == ERunEnding::AllUpdated && !outcome.EveryTargetUpdated())
        outcome.ending = ERunEnding::SomeNotUpdated;
    if (outcome.ending == ERunEnding::Cancelled && m_cancelReason == ECancelReason::WakeupTimeout) {
        outcome.ending = ERunEnding::WakeupTimeout;
        outcome.message = WakeupTimeoutText(m_wakeupSeconds);
        SetMessage(outcome.message);
    }
    return outcome;
}

bool CUpdateRunState::ListRecordsNotReached()
{
    if (m_updateFile == nullptr)
        return false;
    const EFileVersion version = m_fileVersion;
    if (m_bodyPlace == EBodyPlace::InData) {
        const uint32_t rest = m_dataConsumed < m_dataLength ? m_dataLength - m_dataConsumed : 0;
        if (!SkipRecordData(m_updateFile, version, rest))
            return false;
    }
    for (;;) {
        SRecordHeader header;
        if (!ReadRecordNumber(m_updateFile, header.number))
            return false;
        if (header.number == 0)
            return true;
        if (!ReadRecordHeader(m_updateFile, version, header))
            return false;
        SRecordOutcome record;
        record.index = static_cast<int>(m_records.size());
        record.number = header.number;
        record.type = header.type;
        if (record.index < static_cast<int>(m_targetCount))
            record.name = TrimName(m_targetName[record.index]);
        m_records.push_back(record);
        if (!SkipRecordData(m_updateFile, version, header.length))
            return false;
    }
}

void CUpdateRunState::BeginRecord(const SRecordHeader& header)
{
    SRecordOutcome record;
    record.index = m_currentTarget;
    record.number = header.number;
    record.type = header.type;
    if (record.index < static_cast<int>(m_targetCount))
        record.name = TrimName(m_targetName[record.index]);
    m_records.push_back(record);
    m_recordOpen = true;
    m_bodyPlace = EBodyPlace::InData;
    m_recordStart = std::chrono::steady_clock::now();
    m_recordBytesBefore = m_comPort.BytesWritten();
}

void CUpdateRunState::EndRecord(ERecordResult result)
{
    if (!m_recordOpen || m_records.empty())
        return;
    SRecordOutcome& record = m_records.back();
    record.result = result;
    record.bytesSent = m_comPort.BytesWritten() - m_recordBytesBefore;
    record.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_recordStart).count();
    m_recordOpen = false;
}

void CUpdateRunState::EndWorker(ERunEnding ending, bool withMessage)
{
    const bool cancelled = ending == ERunEnding::Cancelled;
    EndRecord(cancelled ? ERecordResult::Cancelled : ERecordResult::Failed);
    m_bodyEndSeen = ending == ERunEnding::AllUpdated;
    m_workerEnding = ending;
    m_runState = withMessage ? RunEndedWithMessage : RunEnded;
}

}  // namespace devupdate::update
