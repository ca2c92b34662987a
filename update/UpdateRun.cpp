// The life of an update run, the same for every front end: prepare, start,
// follow, finish with the outcome as a value.

#include "UpdateRun.h"

#include "PortOpenFailure.h"
#include "RunOutputs.h"
#include "StringTable.h"
#include "UpdateThread.h"

#include <system_error>

using namespace devupdate::link;
using namespace devupdate::xsvf;
using namespace devupdate::res;

namespace devupdate::update {

namespace {

// Shown when the worker thread cannot be started; the run never began.
constexpr char WORKER_NOT_STARTED[] = "Error: the update could not be started.\n";

}  // namespace

CUpdateRun::~CUpdateRun()
{
    // Normally the front end has finished the run; if it is torn down in the
    // middle of one, the worker stops before the observer and the state go.
    if (m_worker.joinable()) {
        m_state.m_cancelRequested = 1;
        m_worker.join();
    }
}

bool CUpdateRun::PrepareRun(const SRunPort& port)
{
    if (m_worker.joinable())
        m_worker.join();
    return PrepareRun(port, m_state.CheckUpdateFileHeader());
}

bool CUpdateRun::PrepareRun(const SRunPort& port, const SCheckResult& check)
{
    if (m_worker.joinable())
        m_worker.join();
    m_startFailure.clear();
    if (!check.ok) {
        m_startFailure = check.message;
        return false;
    }
    // The trace's place is known good before the device is touched.
    if (std::string trace = TracePreflightFailure(m_state.m_updateFile, m_state.m_fileVersion, m_state.m_tracePath);
        !trace.empty()) {
        m_startFailure = trace;
        m_state.CloseUpdateFile();
        return false;
    }
    if (port.deviceName.empty()) {
        m_startFailure = res::LoadString(res::IDS_NO_PORT_SELECTED);
        m_state.CloseUpdateFile();
        return false;
    }
    if (!m_state.OpenAndDrainPort(port.deviceName)) {
        // The message of the original, then why the port could not be opened.
        m_startFailure = res::Format(res::LoadString(res::IDS_PORT_IN_USE).c_str(), port.shortName.c_str()) +
                         ExplainPortOpenFailure(port.deviceName, m_state.m_comPort.LastErrno());
        m_state.CloseUpdateFile();
        return false;
    }
    m_state.ResetRunResults();
    return true;
}

bool CUpdateRun::StartRun()
{
    m_state.m_runState = RunActive;
    m_state.m_refreshPending = 0;
    try {
        m_worker = std::thread(UpdateThread, &m_state);
    } catch (const std::system_error&) {
        m_state.m_runState = RunIdle;
        m_startFailure = WORKER_NOT_STARTED;
        return false;
    }
    return true;
}

SRunOutcome CUpdateRun::FinishRun()
{
    // The worker's last action was its final write of m_runState.
    if (m_worker.joinable())
        m_worker.join();
    SRunOutcome outcome;
    if (m_state.m_runState == RunEnded || m_state.m_runState == RunEndedWithMessage)
        outcome = m_state.TakeWorkerOutcome();
    else
        outcome.message = m_startFailure;
    m_state.CloseUpdateFile();
    m_state.m_comPort.Close();
    m_state.m_runState = RunIdle;
    m_state.Observer().OnRunEnded(outcome);
    return outcome;
}

SRunSnapshot CUpdateRun::Snapshot() const
{
    SRunSnapshot snapshot;
    snapshot.runState = m_state.m_runState;
    snapshot.deviceAnswered = m_state.m_deviceAnswered != 0;
    snapshot.currentTarget = m_state.m_currentTarget;
    snapshot.bytesWritten = m_state.m_comPort.BytesWritten();
    m_state.TakeTexts(snapshot);
    return snapshot;
}

}  // namespace devupdate::update
