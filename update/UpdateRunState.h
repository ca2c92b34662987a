#pragma once
// The state of one update run, shared by the run's front-end side (CUpdateRun)
// and its worker. Front ends never reach it: they hold a CUpdateRun, hear
// its observer and read its snapshots.
//
// Hand-over rules: before the worker starts only the front end's side writes
// here. While m_runState is RunActive the worker alone uses the port, the
// update file and the record fields; the front end reads texts and numbers
// for display and writes the cancel request. The worker alone decides how
// the run ended: on a cancel it writes the cancelled texts itself, so that a
// request that comes too late changes nothing. It writes m_runState last;
// after that it touches nothing and the front end may close file and port.
// Flags are atomics; the texts both threads write (m_message, the status
// texts) are only reached through the accessors, under one mutex.

#include "ComPort.h"
#include "JtagTransport.h"
#include "RunObserver.h"
#include "RunSnapshot.h"
#include "RunOutcome.h"
#include "SignatureCheck.h"
#include "UpdateFileBody.h"
#include "XsvfHost.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace devupdate::update {

constexpr int MAX_TARGETS = 10;

enum RunState : int {
    RunIdle = 0,
    RunActive = 1,
    RunEnded = 2,             // worker finished, no message box
    RunEndedWithMessage = 3,  // worker finished, show m_message
};

// Why the front end asked the worker to stop.
enum class ECancelReason : int { User, WakeupTimeout };

struct STargetResult {
    std::atomic<int> percent{0};
    std::string status;  // only through CUpdateRunState's accessors
};

class CUpdateRunState final : public xsvf::CXsvfHost {
public:
    // observer: who hears of the run; none: the defaults of CRunObserver.
    explicit CUpdateRunState(CRunObserver* observer = nullptr) : m_observer(observer) {}
    ~CUpdateRunState();
    CUpdateRunState(const CUpdateRunState&) = delete;
    CUpdateRunState& operator=(const CUpdateRunState&) = delete;

    // ---- texts shared by both threads ------------------------------------
    std::string Message() const;
    void SetMessage(const std::string& text);
    std::string TargetStatus(int index) const;
    void SetTargetStatus(int index, const std::string& text);
    // The row text "%d%% %s" of a target.
    std::string TargetRowText(int index) const;
    // The message and a row per target named in the header, under one lock.
    void TakeTexts(SRunSnapshot& snapshot) const;

    // ---- the file check (no user interface) ------------------------------
    struct SCheckResult {
        bool ok = false;
        std::string message;  // the message box text on failure
    };
    // Checks the file named by m_fileName and reads its header: fills
    // m_fileVersion, m_targetCount and m_targetName. On success m_updateFile
    // stays open at the start of the body; on failure it is closed and
    // m_targetCount is 0 where the header was at fault.
    SCheckResult CheckUpdateFileHeader();
    // Closes the update file; a read that failed on it (not the end of the
    // file) is kept in m_readError until the next check.
    void CloseUpdateFile();

    // After the worker has ended: it read the body's end mark and sent the end byte.
    bool WorkerReachedBodyEnd() const { return m_bodyEndSeen; }

    // Opens the port (57600 baud, time-out 2000), then drains its input with
    // time-out 1. False when the port cannot be opened or set up.
    bool OpenAndDrainPort(const std::string& deviceName);
    // The start of a run's last step (also for those who open a line of
    // their own): message 111, all results and the worker's account reset,
    // current target 0, unexpected-answer count 0, cancel flag cleared.
    void ResetRunResults();
    // After the worker has ended: the records it did not reach listed, the
    // outcome built. The update file is still open.
    SRunOutcome TakeWorkerOutcome();

    // ---- cancel ------------------------------------------------------------
    // Both only ask: the worker ends at its next check point, and only a run
    // that ended there (m_endedByCancel) counts as cancelled. A request after
    // the worker sent the end byte, or ended otherwise, changes nothing.
    // Cancel without confirmation (before the device has answered).
    void RequestCancel(ECancelReason reason = ECancelReason::User)
    {
        m_cancelReason = reason;
        m_cancelRequested = 1;
    }
    // The worker's side: the port failed; its system reason goes into the outcome.
    void NotePortFailure();
    // The front end gave up waiting `seconds` for the device's first answer:
    // the run ends as a wake-up time-out whose final message says so.
    void GiveUpWaking(double seconds)
    {
        m_wakeupSeconds = seconds;
        RequestCancel(ECancelReason::WakeupTimeout);
    }
    // The confirmed cancel: the worker's cancel ending then also marks the
    // targets from the current one to the last "cancelled" and sets message 118.
    void ConfirmCancel();
    // The worker's side: the run ends here because of the cancel request.
    void EndByCancel();

    // ---- the target's data, for the firmware download and the player ------
    // Reads the fields after a record's number into `header` and makes it the
    // current target record (nothing of its data read yet). False when a
    // field cannot be read.
    bool LoadRecordHeader(SRecordHeader& header);
    bool ReadDataByte(uint8_t& out) override;
    void UpdateProgress() override;
    // A row's percent (and the open record's); rows past MAX_TARGETS have none.
    void SetTargetPercent(int index, int percent);
    // Message 112 with the file name, m_runState = RunEndedWithMessage.
    void ReportFileFormatError();
    // Passes over the unread rest of the current target: seeks where the file
    // can, reads the bytes where it cannot (a pipe). False on failure.
    bool SkipTargetRest();

    // ---- the worker's account of the run, for the outcome ------------------
    // A record whose header has been read is being worked on.
    void BeginRecord(const SRecordHeader& header);
    // The record being worked on has its result.
    void EndRecord(ERecordResult result);
    // The record's data lie behind; the next record number follows.
    void RecordPassed() { m_bodyPlace = EBodyPlace::BeforeNumber; }
    // The worker's last act: how it ended, then m_runState (RunEnded, or
    // RunEndedWithMessage when withMessage). A record still open gets
    // `cancelled` for a cancel and `failed` for anything else.
    void EndWorker(ERunEnding ending, bool withMessage);
    // The worker's side of the wake-up: the device answered (or not yet).
    void SetDeviceAnswered(bool answered);
    // Where a stop that ReadAnswer saw came from (the worker ends with it).
    ERunEnding m_stopEnding = ERunEnding::Failed;
    // Unexpected answers in a row (ReadAnswer); the fourth ends the run.
    int m_unexpectedAnswers = 0;

    // ---- CXsvfHost --------------------------------------------------------
    bool IsCancelRequested() const override { return m_cancelRequested != 0; }
    link::CComPort& ComPort() override { return m_comPort; }
    std::string TracePath() const override { return m_tracePath; }
    // Both go to the observer, on the worker thread.
    void ShowMessageBox(const std::string& text) override;
    void OnXsvfComment(const xsvf::SXsvfCommentPiece& piece) override;

    // ---- the shared run state ---------------------------------------------
    std::string m_fileName;
    std::string m_tracePath;  // the XSVF trace; empty: xsvf_debug.txt in the current folder
    FILE* m_updateFile = nullptr;
    std::string m_readError;  // why reading the update file failed; empty when it did not
    // Signatures are required even when no key is trusted (update-cli --require-signature).
    bool m_requireSignature = false;
    // The last check's signature; when it was verified, m_updateFile reads the verified copy.
    SSignatureCheck m_signatureCheck;
    EFileVersion m_fileVersion = EFileVersion::V1_00;
    unsigned m_targetCount = 0;
    std::string m_targetName[MAX_TARGETS];
    std::atomic<int> m_cancelRequested{0};
    std::atomic<int> m_cancelConfirmed{0};
    // Written by the worker before its final m_runState: it ended on the cancel.
    std::atomic<int> m_endedByCancel{0};
    std::atomic<uint8_t> m_deviceAnswered{0};
    std::atomic<int> m_refreshPending{0};
    link::CComPort m_comPort;
    xsvf::CJtagTransport m_jtagTransport;
    std::atomic<int> m_currentTarget{0};
    STargetResult m_targetResult[MAX_TARGETS];
    std::atomic<int> m_runState{RunIdle};

    // The current target record (worker only during a run).
    unsigned m_targetFlags = 0;
    unsigned m_targetType = 0;
    uint32_t m_dataLength = 0;
    uint32_t m_dataConsumed = 0;
    uint32_t m_runPending = 0;
    bool m_dataEnd = false;
    // One packed run holds at most 127 bytes; the buffer is sized for any
    // control byte so that a hostile one cannot overrun it.
    uint8_t m_runBuffer[256] = {};
    const uint8_t* m_runCursor = m_runBuffer;

private:
    // The signature check of the file just opened; takes over the verified
    // copy. False (file closed, no targets) when the file is refused.
    bool TakeSignatureCheck();
    // The records behind the worker's last one, read from the body as far as
    // it is readable; true when the end mark was reached.
    bool ListRecordsNotReached();
    SRunOutcome BuildOutcome();

    enum class EBodyPlace { BeforeNumber, InData, Unknown };

public:
    // Who hears of the run.
    CRunObserver& Observer() { return m_observer != nullptr ? *m_observer : m_unwatched; }

private:
    CRunObserver* m_observer;
    struct SUnwatched final : CRunObserver {};
    SUnwatched m_unwatched;
    mutable std::mutex m_textMutex;
    std::string m_message;
    std::atomic<ECancelReason> m_cancelReason{ECancelReason::User};
    double m_wakeupSeconds = 0;  // the front end's thread only
    std::string m_osError;       // the worker's until it ends
    // Written by the worker during the run, read after it has ended.
    std::vector<SRecordOutcome> m_records;
    bool m_recordOpen = false;
    bool m_bodyEndSeen = false;
    EBodyPlace m_bodyPlace = EBodyPlace::BeforeNumber;
    ERunEnding m_workerEnding = ERunEnding::Failed;
    std::chrono::steady_clock::time_point m_recordStart{};
    uint64_t m_recordBytesBefore = 0;
};

}  // namespace devupdate::update
