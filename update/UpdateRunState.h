#pragma once
// The run state that the window (or the command line) and the update worker
// share. The front ends derive from this class; g_pUpdateDlg points at it.
//
// Hand-over rules: before the worker starts only the front end writes here.
// While m_runState is RunActive the worker alone uses the port, the update
// file and the record fields; the front end reads texts and numbers for
// display and writes the cancel request. The worker alone decides how the
// run ended: on a cancel it writes the cancelled texts itself, so that a
// request that comes too late changes nothing. It writes m_runState last; after
// that it touches nothing and the front end may close file and port.
// Flags are atomics; the texts both threads write (m_message, the status
// texts) are only reached through the accessors, under one mutex.

#include "ComPort.h"
#include "RunOutcome.h"
#include "UpdateFileBody.h"
#include "XsvfHost.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

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

class CUpdateRunState : public CXsvfHost {
public:
    CUpdateRunState();
    virtual ~CUpdateRunState();
    CUpdateRunState(const CUpdateRunState&) = delete;
    CUpdateRunState& operator=(const CUpdateRunState&) = delete;

    // ---- texts shared by both threads ------------------------------------
    std::string Message() const;
    void SetMessage(const std::string& text);
    std::string TargetStatus(int index) const;
    void SetTargetStatus(int index, const std::string& text);
    // The row text "%d%% %s" of a target.
    std::string TargetRowText(int index) const;

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

    // ---- the run's life: every front end goes through these -------------
    // A port as the front end names it: the device to open and the name its
    // "in use" message shows. An empty device: no port selected.
    struct SRunPort {
        std::string deviceName;
        std::string shortName;
    };
    // The file check (CheckFileForRun), the port opened and drained, every
    // result reset and message 111 set. False when the run cannot start:
    // file and port are then released and FinishRun tells why.
    bool PrepareRun(const SRunPort& port);
    // m_runState = RunActive and the worker started. False when the thread
    // cannot be started; FinishRun then tells so.
    bool StartRun();
    // The worker is still at work; once false, FinishRun may be called.
    bool IsRunActive() const { return m_runState == RunActive; }
    // After the worker has ended (or the run could not start): waits for its
    // thread, lists the records it did not reach, releases the update file
    // and the port, returns to RunIdle and reports the outcome (OnRunEnded).
    SRunOutcome FinishRun();
    // After the worker has ended: it read the body's end mark and sent the end byte.
    bool WorkerReachedBodyEnd() const { return m_bodyEndSeen; }

    // Opens the port (57600 baud, time-out 2000), then drains its input with
    // time-out 1. False when the port cannot be opened or set up.
    bool OpenAndDrainPort(const std::string& deviceName);
    // PrepareRun's last step, for those who open a line of their own: message
    // 111, all results and the worker's account reset, current target 0,
    // unexpected-answer count 0, cancel flag cleared.
    void ResetRunResults();

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
    // Where a stop that ReadAnswer saw came from (the worker ends with it).
    ERunEnding m_stopEnding = ERunEnding::Failed;

    // ---- CXsvfHost --------------------------------------------------------
    bool IsCancelRequested() const override { return m_cancelRequested != 0; }
    CComPort& ComPort() override { return m_comPort; }
    std::string TracePath() const override { return m_tracePath; }
    // The front end's one message box. The default writes to stderr.
    void ShowMessageBox(const std::string& text) override;
    // OnXsvfComment: the XSVF comment event, on the worker thread. The
    // default (CXsvfHost) echoes to standard output, as the window does;
    // update-cli takes the pieces to print them itself.

    // ---- the shared run state ---------------------------------------------
    std::string m_fileName;
    std::string m_tracePath;  // the XSVF trace; empty: xsvf_debug.txt in the current folder
    FILE* m_updateFile = nullptr;
    std::string m_readError;  // why reading the update file failed; empty when it did not
    EFileVersion m_fileVersion = EFileVersion::V1_00;
    unsigned m_targetCount = 0;
    std::string m_targetName[MAX_TARGETS];
    std::atomic<int> m_cancelRequested{0};
    std::atomic<int> m_cancelConfirmed{0};
    // Written by the worker before its final m_runState: it ended on the cancel.
    std::atomic<int> m_endedByCancel{0};
    std::atomic<uint8_t> m_deviceAnswered{0};
    std::atomic<int> m_refreshPending{0};
    CComPort m_comPort;
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

protected:
    // Called after every change of the message line, on the thread that made
    // it, outside the text lock. Front ends that log every change hook in here.
    virtual void OnMessageChanged(const std::string& text) { (void)text; }
    // A row's percent or status changed; called on the thread that changed
    // it, often (after every XSVF command), so keep it cheap.
    virtual void OnRowChanged(int index) { (void)index; }
    // FinishRun's report, on the front end's thread.
    virtual void OnRunEnded(const SRunOutcome& outcome) { (void)outcome; }
    // The file check of PrepareRun. The window replaces it with its own,
    // which shows its message itself (and then leaves `message` empty).
    virtual SCheckResult CheckFileForRun() { return CheckUpdateFileHeader(); }

private:
    // The records behind the worker's last one, read from the body as far as
    // it is readable; true when the end mark was reached.
    bool ListRecordsNotReached();
    SRunOutcome BuildOutcome();

    enum class EBodyPlace { BeforeNumber, InData, Unknown };

    mutable std::mutex m_textMutex;
    std::string m_message;
    std::thread m_worker;
    std::string m_startFailure;
    std::atomic<ECancelReason> m_cancelReason{ECancelReason::User};
    double m_wakeupSeconds = 0;  // the front end's thread only
    // Written by the worker during the run, read after it has ended.
    std::vector<SRecordOutcome> m_records;
    bool m_recordOpen = false;
    bool m_bodyEndSeen = false;
    EBodyPlace m_bodyPlace = EBodyPlace::BeforeNumber;
    ERunEnding m_workerEnding = ERunEnding::Failed;
    std::chrono::steady_clock::time_point m_recordStart{};
    uint64_t m_recordBytesBefore = 0;
};

// The run state the worker reaches; set by UpdateThread as its first action.
extern CUpdateRunState* g_pUpdateDlg;
