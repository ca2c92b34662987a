// The run as the window sees it: start, the run timer, cancel.

#include "UpdateDlg.h"

#include "LatencyWarning.h"
#include "PortOpenFailure.h"
#include "StringTable.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTimer>

namespace {

// Shown when the worker thread cannot be started; the run never began.
constexpr char kWorkerNotStarted[] = "Error: the update could not be started.\n";

}  // namespace

void CUpdateDlg::OnUpdateButton()
{
    if (!CheckUpdateFile())
        return;
    UpdateData(true);
    const int index = m_portList->currentIndex();
    if (index < 0) {
        ShowMessageBox(res::LoadString(res::IDS_NO_PORT_SELECTED));
        CloseUpdateFile();
        return;
    }
    const int port = index + 1;
    const std::string portName = res::Format("\\\\.\\COM%d", port);
    if (!OpenAndDrainPort(portName)) {
        const std::string shortName = res::Format("COM%d", port);
        ShowMessageBox(res::Format(res::LoadString(res::IDS_PORT_IN_USE).c_str(), shortName.c_str()) +
                       ExplainPortOpenFailure(portName, m_comPort.LastErrno()));
        CloseUpdateFile();
        return;
    }
    PrepareRun();
    // Shown while the device is woken up; the run's own texts replace it.
    const std::string latency = LatencyWarning(portName, m_fileName);
    if (!latency.empty())
        SetMessage(Message() + " " + latency);
    UpdateData(false);
    SetRunControls(false);
    if (!LaunchWorker()) {
        ReleaseRunResources();
        SetMessage(res::LoadString(res::IDS_IDLE_HINT));
        UpdateData(false);
        SetRunControls(true);
        ShowMessageBox(kWorkerNotStarted);
        return;
    }
    m_runTimer.start();
}

void CUpdateDlg::OnTimer()
{
    switch (m_runState.load()) {
    case RunIdle:
        break;
    case RunActive:
        if (m_refreshPending) {
            // Cleared first: a refresh the worker asks for meanwhile is kept.
            m_refreshPending = 0;
            UpdateData(false);
        }
        ServeWorkerMessageBox();
        break;
    case RunEndedWithMessage:
        CloseWarning();
        UpdateData(false);
        // Stopped before the box: no second tick opens a second box.
        m_runTimer.stop();
        // Nobody is left to close a box once the program was told to end.
        if (!m_exitRequested)
            ShowMessageBox(Message());
        FinishRun();
        break;
    case RunEnded:
        FinishRun();
        break;
    default:
        break;
    }
}

void CUpdateDlg::FinishRun()
{
    UpdateData(false);  // final rows and message while the state is not idle
    ReleaseRunResources();
    SetRunControls(true);
    setFocus();
    m_runTimer.stop();
    m_runState = RunIdle;
    CloseWarning();
    if (m_exitRequested)
        OnExitButton();
}

void CUpdateDlg::OnCancelButton()
{
    if (m_warningDlg)
        return;
    if (!m_deviceAnswered) {
        RequestCancel();
        return;
    }
    m_warningDlg = new CWarningDlg(res::LoadString(res::IDS_CANCEL_WARNING), *this);
    m_warningDlg->Create();
    m_cancelButton->setEnabled(false);
}

void CUpdateDlg::OnTerminationSignal()
{
    m_exitRequested = true;
    // An open box (a file check's message, About, the worker's question)
    // would hold the exit, or the worker, in its own event loop.
    if (QWidget* modal = QApplication::activeModalWidget(); modal != nullptr && modal != this)
        modal->close();
    if (!m_controlsLocked) {
        QTimer::singleShot(0, this, [this] { OnExitButton(); });
        return;
    }
    if (!m_deviceAnswered) {
        RequestCancel();
        return;
    }
    ConfirmCancel();
    CloseWarning();
}

void CUpdateDlg::CloseWarning()
{
    if (!m_warningDlg)
        return;
    // "Cancel" comes back only while a run holds the controls: a run that
    // ended meanwhile has already set it to idle (disabled).
    m_cancelButton->setEnabled(m_controlsLocked != 0);
    CWarningDlg* warning = m_warningDlg;
    m_warningDlg = nullptr;
    // The warning may be inside its own button handler: delete it later.
    warning->hide();
    warning->deleteLater();
}
