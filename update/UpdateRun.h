#pragma once
// An update run as a front end holds it: the window, update-cli and the
// tests each own one (several may run side by side in one process). It owns
// the worker, the port, the update file, the record buffer, the answer
// counter and the JTAG transport; it tells its observer what happens and
// gives a snapshot for display.
//
// The observer must outlive the run: a holder declares the run after
// everything its observer uses, so that the run is destroyed first; its
// destructor cancels a run still going on and waits for the worker.

#include "RunObserver.h"
#include "RunSnapshot.h"
#include "UpdateRunState.h"

#include <string>
#include <thread>

namespace devupdate::update {

class CUpdateRun {
public:
    using SCheckResult = CUpdateRunState::SCheckResult;

    explicit CUpdateRun(CRunObserver& observer) : m_state(&observer) {}
    ~CUpdateRun();
    CUpdateRun(const CUpdateRun&) = delete;
    CUpdateRun& operator=(const CUpdateRun&) = delete;

    // ---- the files of the run ------------------------------------------------
    const std::string& FileName() const { return m_state.m_fileName; }
    void SetFileName(const std::string& fileName) { m_state.m_fileName = fileName; }
    // The XSVF trace; empty: xsvf_debug.txt in the current folder.
    void SetTracePath(const std::string& path) { m_state.m_tracePath = path; }
    // Signatures are required even when no key is trusted (update-cli --require-signature).
    void SetRequireSignature(bool require) { m_state.m_requireSignature = require; }
    // The file's signature as the last check found it.
    const SSignatureCheck& Signature() const { return m_state.m_signatureCheck; }
    // The header check of FileName() while no run is going on (see
    // CUpdateRunState::CheckUpdateFileHeader); the snapshot then names the
    // file's targets.
    SCheckResult CheckUpdateFileHeader() { return m_state.CheckUpdateFileHeader(); }
    void CloseUpdateFile() { m_state.CloseUpdateFile(); }

    // ---- the message line (the front end sets its idle texts) -------------
    std::string Message() const { return m_state.Message(); }
    void SetMessage(const std::string& text) { m_state.SetMessage(text); }

    // ---- the run's life: every front end goes through these --------------
    // A port as the front end names it: the device to open and the name its
    // "in use" message shows. An empty device: no port selected.
    struct SRunPort {
        std::string deviceName;
        std::string shortName;
    };
    // The file check, the port opened and drained, every result reset and
    // message 111 set. False when the run cannot start: file and port are
    // then released and FinishRun tells why.
    bool PrepareRun(const SRunPort& port);
    // The same after the front end checked the file itself (and, on
    // failure, told the user already: check.message is then empty).
    bool PrepareRun(const SRunPort& port, const SCheckResult& check);
    // The worker started. False when the thread cannot be started;
    // FinishRun then tells so.
    bool StartRun();
    // The worker is still at work; once false, FinishRun may be called.
    bool IsRunActive() const { return m_state.m_runState == RunActive; }
    // No run is prepared or going on (FinishRun has been called).
    bool IsIdle() const { return m_state.m_runState == RunIdle; }
    // After the worker has ended (or the run could not start): waits for its
    // thread, lists the records it did not reach, releases the update file
    // and the port, returns to idle and reports the outcome (also to the
    // observer's OnRunEnded).
    SRunOutcome FinishRun();
    // After the worker has ended: it read the body's end mark and sent the end byte.
    bool WorkerReachedBodyEnd() const { return m_state.WorkerReachedBodyEnd(); }

    // ---- cancel (see CUpdateRunState) ---------------------------------------
    void RequestCancel(ECancelReason reason = ECancelReason::User) { m_state.RequestCancel(reason); }
    void ConfirmCancel() { m_state.ConfirmCancel(); }
    // The front end gave up waiting `seconds` for the device's first answer.
    void GiveUpWaking(double seconds) { m_state.GiveUpWaking(seconds); }
    // The device answered the wake-up: a cancel now asks first.
    bool DeviceAnswered() const { return m_state.m_deviceAnswered != 0; }

    // ---- display ---------------------------------------------------------------
    SRunSnapshot Snapshot() const;
    // The worker asked for a redraw since the last call (see CRunFollower).
    bool TakeRefresh() { return m_state.m_refreshPending.exchange(0) != 0; }

    // For tests and fuzz harnesses that drive the worker themselves or look
    // inside; front ends never use it.
    CUpdateRunState& State() { return m_state; }
    const CUpdateRunState& State() const { return m_state; }

private:
    CUpdateRunState m_state;
    std::thread m_worker;
    std::string m_startFailure;
};

}  // namespace devupdate::update
