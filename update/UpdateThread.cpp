#include "UpdateThread.h"

#include "ComPort.h"
#include "StringTable.h"
#include "UpdateFileReader.h"
#include "UpdateRunState.h"
#include "XsvfPlayer.h"

using namespace devupdate::link;
using namespace devupdate::xsvf;
using namespace devupdate::res;

namespace devupdate::update {

namespace {

constexpr int WAKEUP_ANSWERS_NEEDED = 5;
constexpr int MAX_TIMEOUTS = 20;
constexpr int MAX_UNEXPECTED_ANSWERS = 4;

// One run of the worker. Every step returns false when the run has ended
// (m_runState then holds the ending).
class CUpdateWorker {
public:
    explicit CUpdateWorker(CUpdateRunState& run) : m_run(run), m_port(run.m_comPort) {}

    void Run();

private:
    // The final write of m_runState; nothing of the run state is touched after it.
    void EndQuietly(ERunEnding ending)
    {
        m_ended = true;
        m_run.EndWorker(ending, false);
    }
    void EndWithMessage(ERunEnding ending)
    {
        m_ended = true;
        m_run.EndWorker(ending, true);
    }
    // The end after ReadAnswer gave ANS_STOP: it has said why.
    void EndOnStop() { EndWithMessage(m_run.m_stopEnding); }
    // The run ends because the user asked to cancel.
    void EndCancelled()
    {
        m_run.EndByCancel();
        EndQuietly(ERunEnding::Cancelled);
    }
    // A cancel check: ends the run quietly when the user asked to cancel.
    bool Cancelled();
    // Every byte for the device goes out through Send: a write the line
    // refused ends the run at once, as a vanished port does (false).
    bool Send(const uint8_t* data, size_t n);
    bool WriteByte(uint8_t byte) { return Send(&byte, 1); }
    bool WritePair(uint8_t first, uint8_t second);
    // The port failed (a write refused, the adapter gone): "Failed: Target
    // is not responding", the current row "unsuccessful", the reason kept.
    void EndOnPortFailure();
    int ReadNextAnswer() { return ReadAnswer(m_port, m_timeouts, m_run); }
    void MarkCurrent(int stringId, ERecordResult result);

    bool WakeUp();
    bool WaitForReady();
    bool ReadRecordNumber(unsigned& number);
    bool ReadRecordHeader(unsigned number);
    // The device's answer to the selection: ANS_ACK to go on with the data.
    int SelectTarget(unsigned number);
    bool HandleSelection(int answer);
    bool DownloadFirmware();
    bool LoadBlock(unsigned& blockSize);
    bool PlayXsvfTarget();
    void TargetDone();
    void FinishRun();

    CUpdateRunState& m_run;
    CComPort& m_port;
    int m_timeouts = 0;
    int m_targetsUpdated = 0;
    bool m_ended = false;
    uint8_t m_sendBuffer[MAX_BLOCK_PAYLOAD + 2] = {};
};

bool CUpdateWorker::Cancelled()
{
    if (m_run.m_cancelRequested == 0)
        return false;
    EndCancelled();
    return true;
}

bool CUpdateWorker::Send(const uint8_t* data, size_t n)
{
    if (m_port.Write(data, n))
        return true;
    EndOnPortFailure();
    return false;
}

bool CUpdateWorker::WritePair(uint8_t first, uint8_t second)
{
    const uint8_t pair[2] = {first, second};
    return Send(pair, 2);
}

void CUpdateWorker::EndOnPortFailure()
{
    m_run.NotePortFailure();
    m_run.SetMessage(res::LoadString(res::IDS_NOT_RESPONDING));
    MarkCurrent(res::IDS_UNSUCCESSFUL, ERecordResult::Failed);
    EndWithMessage(ERunEnding::NotResponding);
}

void CUpdateWorker::MarkCurrent(int stringId, ERecordResult result)
{
    m_run.SetTargetStatus(m_run.m_currentTarget, res::LoadString(stringId));
    m_run.m_refreshPending = 1;
    m_run.EndRecord(result);
}

bool CUpdateWorker::WakeUp()
{
    m_run.SetDeviceAnswered(false);
    int answers = 0;
    while (answers < WAKEUP_ANSWERS_NEEDED) {
        if (!WriteByte(CMD_WAKEUP))
            return false;
        uint8_t byte = 0;
        if (m_port.Read(&byte, 1)) {
            answers = byte == ANS_ACK ? answers + 1 : 0;
        } else if (m_port.IsGone()) {
            // The adapter was unplugged: waiting on would never end.
            EndOnPortFailure();
            return false;
        }
        if (Cancelled())
            return false;
    }
    return true;
}

bool CUpdateWorker::WaitForReady()
{
    m_run.SetDeviceAnswered(true);
    m_timeouts = 0;
    m_run.SetMessage(res::LoadString(res::IDS_RUNNING_UPDATE));
    m_run.m_refreshPending = 1;
    if (!WriteByte(CMD_START))
        return false;
    m_port.SetTimeouts(ANSWER_TIMEOUT_MS);
    for (;;) {
        const int answer = ReadNextAnswer();
        if (answer == ANS_STOP) {
            EndOnStop();
            return false;
        }
        if (Cancelled())
            return false;
        if (answer == ANS_READY)
            return true;
    }
}

bool CUpdateWorker::ReadRecordNumber(unsigned& number)
{
    if (update::ReadRecordNumber(m_run.m_updateFile, number))
        return true;
    m_run.ReportFileFormatError();
    return false;
}

bool CUpdateWorker::ReadRecordHeader(unsigned number)
{
    SRecordHeader header;
    header.number = number;
    if (!m_run.LoadRecordHeader(header)) {
        m_run.ReportFileFormatError();
        return false;
    }
    m_run.BeginRecord(header);
    return true;
}

int CUpdateWorker::SelectTarget(unsigned number)
{
    const unsigned type = m_run.m_targetType;
    if (type != TARGET_FIRMWARE && type != TARGET_XSVF) {
        m_run.m_targetType = TARGET_SKIP;
        return ANS_REFUSE;
    }
    if (!WriteByte(CMD_SELECT))
        return ANS_STOP;
    int answer = 0;
    do {
        if (!WritePair(static_cast<uint8_t>(number), static_cast<uint8_t>(~number)))
            return ANS_STOP;
        if (Cancelled())
            return ANS_STOP;
        answer = ReadNextAnswer();
    } while (answer == ANS_RETRY);
    if (type != TARGET_FIRMWARE && answer == ANS_ACK) {
        if (!WritePair(static_cast<uint8_t>(type >> 8), static_cast<uint8_t>(type)))
            return ANS_STOP;
        answer = ReadNextAnswer();
    }
    return answer;
}

bool CUpdateWorker::HandleSelection(int answer)
{
    switch (answer) {
    case ANS_ACK:
        return true;
    case ANS_REFUSE:
        if (m_run.m_targetType == TARGET_SKIP)
            MarkCurrent(res::IDS_UPDATE_UNKNOWN, ERecordResult::Skipped);
        else
            MarkCurrent(res::IDS_MISSING_TARGET, ERecordResult::Refused);
        m_run.m_targetType = TARGET_SKIP;
        return true;
    case ANS_STOP:
        // A cancel seen during the selection has already ended the run.
        if (!m_ended)
            EndOnStop();
        return false;
    default:
        MarkCurrent(res::IDS_UNSUCCESSFUL, ERecordResult::Failed);
        m_run.m_targetType = TARGET_SKIP;
        return true;
    }
}

bool CUpdateWorker::LoadBlock(unsigned& blockSize)
{
    uint8_t high = 0;
    uint8_t low = 0;
    if (!m_run.ReadDataByte(high) || !m_run.ReadDataByte(low))
        return false;
    const unsigned count = (unsigned{high} << 8) | low;
    if (count > MAX_BLOCK_PAYLOAD)
        return false;
    m_sendBuffer[0] = high;
    m_sendBuffer[1] = low;
    for (unsigned i = 0; i < count; ++i) {
        if (!m_run.ReadDataByte(m_sendBuffer[2 + i]))
            return false;
    }
    blockSize = count + 2;
    return true;
}

bool CUpdateWorker::DownloadFirmware()
{
    int answer = ANS_ACK;
    unsigned blockSize = 0;
    for (;;) {
        if (Cancelled())
            return false;
        if (answer == ANS_ACK) {
            if (!LoadBlock(blockSize)) {
                m_run.ReportFileFormatError();
                return false;
            }
            m_run.UpdateProgress();
        }
        if (!Send(m_sendBuffer, blockSize))
            return false;
        answer = ReadNextAnswer();
        while (answer == ANS_WAIT) {
            if (Cancelled())
                return false;
            answer = ReadNextAnswer();
        }
        if (answer == ANS_ACK && m_run.m_dataEnd)
            break;
        if (answer == ANS_REFUSE) {
            if (m_run.m_dataEnd)
                break;
            MarkCurrent(res::IDS_UNSUCCESSFUL, ERecordResult::Failed);
            return true;
        }
        if (answer == ANS_STOP) {
            EndOnStop();
            return false;
        }
    }
    TargetDone();
    return true;
}

bool CUpdateWorker::PlayXsvfTarget()
{
    const int result = PlayXsvf(m_run, m_run.m_jtagTransport);
    if (result == XSVF_SUCCESS) {
        TargetDone();
        return true;
    }
    if (result == XSVF_CANCELLED) {
        EndCancelled();
        return false;
    }
    // A frame the line refused, or no answer from a port that vanished.
    const bool portFailed = result == XSVF_ERROR_WRITE || (result == XSVF_ERROR_NOANSWER && m_port.IsGone());
    if (portFailed)
        m_run.NotePortFailure();
    m_run.SetMessage(res::Format("%s", XsvfErrorText(result).c_str()));
    MarkCurrent(res::IDS_UNSUCCESSFUL, ERecordResult::Failed);
    const bool silent = result == XSVF_ERROR_NOANSWER || result == XSVF_ERROR_WRITE;
    EndWithMessage(silent ? ERunEnding::NotResponding : ERunEnding::Failed);
    return false;
}

void CUpdateWorker::TargetDone()
{
    m_run.SetTargetPercent(m_run.m_currentTarget, 100);
    m_run.EndRecord(ERecordResult::Updated);
    m_targetsUpdated += 1;
}

void CUpdateWorker::FinishRun()
{
    // Every record was answered already: a line that fails the session's
    // last byte changes nothing of the outcome but its reason.
    const uint8_t end = CMD_END;
    if (!m_port.Write(&end, 1))
        m_run.NotePortFailure();
    m_run.SetMessage(res::Format(res::LoadString(res::IDS_TARGETS_UPDATED).c_str(), m_targetsUpdated,
                                 static_cast<int>(m_run.m_targetCount)));
    // The outcome decides whether this was a success: it compares the
    // records with the header's targets.
    EndWithMessage(ERunEnding::AllUpdated);
}

void CUpdateWorker::Run()
{
    if (!WakeUp() || !WaitForReady())
        return;
    m_run.m_currentTarget = 0;
    m_targetsUpdated = 0;
    unsigned number = 0;
    if (!ReadRecordNumber(number))
        return;
    while (number != 0) {
        if (!ReadRecordHeader(number))
            return;
        if (!HandleSelection(SelectTarget(number)))
            return;
        bool goOn = true;
        if (m_run.m_targetType == TARGET_FIRMWARE)
            goOn = DownloadFirmware();
        else if (m_run.m_targetType == TARGET_XSVF)
            goOn = PlayXsvfTarget();
        if (!goOn)
            return;
        if (!m_run.SkipTargetRest()) {
            EndQuietly(ERunEnding::Failed);
            return;
        }
        m_run.RecordPassed();
        m_run.m_currentTarget += 1;
        if (!ReadRecordNumber(number))
            return;
    }
    FinishRun();
}

}  // namespace

int ReadAnswer(CComPort& port, int& timeoutCount, CUpdateRunState& run)
{
    uint8_t byte = 0;
    if (port.Read(&byte, 1)) {
        timeoutCount = 0;
        switch (byte) {
        case ANS_ACK:
        case ANS_REFUSE:
        case ANS_READY:
            run.m_unexpectedAnswers = 0;
            return byte;
        case ANS_WAIT:
            return ANS_WAIT;
        default:
            run.m_unexpectedAnswers += 1;
            if (run.m_unexpectedAnswers < MAX_UNEXPECTED_ANSWERS)
                return ANS_RETRY;
            run.SetMessage(res::LoadString(byte == ANS_RETRY ? res::IDS_CRC_ERROR : res::IDS_WRONG_ANSWER));
            run.m_stopEnding = ERunEnding::Failed;
            return ANS_STOP;
        }
    }
    // A vanished port (unplugged adapter) will never answer again: give up
    // now rather than read on as if the device were only slow.
    timeoutCount = port.IsGone() ? MAX_TIMEOUTS : timeoutCount + 1;
    if (timeoutCount < MAX_TIMEOUTS)
        return ANS_WAIT;
    if (port.IsGone())
        run.NotePortFailure();
    run.SetMessage(res::LoadString(res::IDS_NOT_RESPONDING));
    run.SetTargetStatus(run.m_currentTarget, res::LoadString(res::IDS_UNSUCCESSFUL));
    run.m_refreshPending = 1;
    run.m_stopEnding = ERunEnding::NotResponding;
    return ANS_STOP;
}

unsigned UpdateThread(CUpdateRunState* run)
{
    CUpdateWorker worker(*run);
    worker.Run();
    return 0;
}

}  // namespace devupdate::update
