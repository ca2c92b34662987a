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
#include "XsvfHost.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

constexpr int MAX_TARGETS = 10;

enum RunState : int {
    RunIdle = 0,
    RunActive = 1,
    RunEnded = 2,             // worker finished, no message box
    RunEndedWithMessage = 3,  // worker finished, show m_message
};

// Target types of a body record.
constexpr unsigned TARGET_FIRMWARE = 0xFEFF;
constexpr unsigned TARGET_XSVF = 0xFF00;
constexpr unsigned TARGET_SKIP = 0xFF01;  // internal: not updated

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

    // ---- the start and end of a run, shared by the front ends ------------
    // Opens the port (57600 baud, time-out 2000), then drains its input with
    // time-out 1. False when the port cannot be opened or set up.
    bool OpenAndDrainPort(const std::string& deviceName);
    // Message 111, all results reset, current target 0, unexpected-answer
    // count 0, cancel flag cleared.
    void PrepareRun();
    // m_runState = RunActive, refresh flag cleared, worker started. False
    // (and back to RunIdle) when the thread cannot be started; the caller
    // then releases the run's resources.
    bool LaunchWorker();
    // After the worker has ended: waits for its thread (which has nothing
    // left to do), closes the update file and the port.
    void ReleaseRunResources();

    // ---- cancel ------------------------------------------------------------
    // Both only ask: the worker ends at its next check point, and only a run
    // that ended there (m_endedByCancel) counts as cancelled. A request after
    // the worker sent the end byte, or ended otherwise, changes nothing.
    // Cancel without confirmation (before the device has answered).
    void RequestCancel() { m_cancelRequested = 1; }
    // The confirmed cancel: the worker's cancel ending then also marks the
    // targets from the current one to the last "cancelled" and sets message 118.
    void ConfirmCancel();
    // The worker's side: the run ends here because of the cancel request.
    void EndByCancel();


    // ---- the target's data, for the firmware download and the player ------
    // Makes the record whose header was just read the current one: its data
    // are read next by ReadDataByte (for readers outside a run).
    void BeginRecordData(unsigned flags, unsigned type, uint32_t length);
    bool ReadDataByte(uint8_t& out) override;
    void UpdateProgress() override;
    // Message 112 with the file name, m_runState = RunEndedWithMessage.
    void ReportFileFormatError();
    // Passes over the unread rest of the current target: seeks where the file
    // can, reads the bytes where it cannot (a pipe). False on failure.
    bool SkipTargetRest();

    // ---- CXsvfHost --------------------------------------------------------
    bool IsCancelRequested() const override { return m_cancelRequested != 0; }
    CComPort& ComPort() override { return m_comPort; }
    // The front end's one message box. The default writes to stderr.
    void ShowMessageBox(const std::string& text) override;
    // OnXsvfComment: the XSVF comment event, on the worker thread. The
    // default (CXsvfHost) echoes to standard output, as the window does;
    // update-cli takes the pieces to print them itself.

    // ---- the shared run state ---------------------------------------------
    std::string m_fileName;
    FILE* m_updateFile = nullptr;
    std::string m_readError;  // why reading the update file failed; empty when it did not
    int m_fileVersion = 0;
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

private:
    mutable std::mutex m_textMutex;
    std::string m_message;
    std::thread m_worker;
};

// The run state the worker reaches; set by UpdateThread as its first action.
extern CUpdateRunState* g_pUpdateDlg;
