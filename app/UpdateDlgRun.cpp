// The run as the window sees it: start, the run timer, cancel.

#include "UpdateDlg.h"

#include "LatencyWarning.h"
#include "PortName.h"
#include "PortOpenFailure.h"
#include "StringTable.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTimer>

using namespace devupdate;
using namespace devupdate::link;
using namespace devupdate::xsvf;
using namespace devupdate::res;
using namespace devupdate::update;

void CUpdateDlg::OnUpdateButton()
{
    CUpdateRun::SRunPort port;
    const int index = m_portList->currentIndex();
    if (index >= 0) {
        port.deviceName = ComDeviceName(static_cast<unsigned>(index + 1));
        port.shortName = ComShortName(static_cast<unsigned>(index + 1));
    }
    // The window's check tells the user about a failure itself.
    if (!m_run.PrepareRun(port, {CheckUpdateFile(), {}})) {
        m_lastOutcome = m_run.FinishRun();
        if (!m_lastOutcome.message.empty())
            ShowMessageBox(m_lastOutcome.message);
        return;
    }
    // Shown while the device is woken up; the run's own texts replace it.
    const std::string latency = LatencyWarning(port.deviceName, m_run.FileName());
    if (!latency.empty())
        m_run.SetMessage(m_run.Message() + " " + latency);
    UpdateData(false);
    SetRunControls(false);
    if (!m_run.StartRun()) {
        m_lastOutcome = m_run.FinishRun();
        m_run.SetMessage(res::LoadString(res::IDS_IDLE_HINT));
        UpdateData(false);
        SetRunControls(true);
        ShowMessageBox(m_lastOutcome.message);
        return;
    }
    m_runTimer.start();
}

void CUpdateDlg::OnTimer()
{
    switch (m_follower.Look().runState) {
    case RunIdle:
        break;
    case RunActive:
        if (m_follower.TakeRefresh())
            UpdateData(false);
        ServeWorkerMessageBox();
        break;
    case RunEndedWithMessage:
        CloseWarning();
        UpdateData(false);
        // Stopped before the box: no second tick opens a second box.
        m_runTimer.stop();
        // Nobody is left to close a box once the program was told to end.
        if (!m_exitRequested)
            ShowMessageBox(m_run.Message());
        ReturnToIdle();
        break;
    case RunEnded:
        ReturnToIdle();
        break;
    default:
        break;
    }
}

void CUpdateDlg::ReturnToIdle()
{
    UpdateData(false);  // final rows and message while the state is not idle
    m_lastOutcome = m_run.FinishRun();
    SetRunControls(true);
    setFocus();
    m_runTimer.stop();
    CloseWarning();
    if (m_exitRequested)
        OnExitButton();
}

void CUpdateDlg::OnCancelButton()
{
    if (m_warningDlg)
        return;
    if (!m_run.DeviceAnswered()) {
        m_run.RequestCancel();
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
    if (!m_run.DeviceAnswered()) {
        m_run.RequestCancel();
        return;
    }
    m_run.ConfirmCancel();
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
