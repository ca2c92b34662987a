#include "UpdateDlg.h"

#include "AboutDlg.h"
#include "DialogBuilder.h"
#include "PortName.h"
#include "PortToolTips.h"
#include "StringTable.h"

#include <QAction>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QThread>

using namespace devupdate;
using namespace devupdate::link;
using namespace devupdate::xsvf;
using namespace devupdate::res;
using namespace devupdate::update;

namespace {

template <typename T>
T* ControlAs(const std::map<int, QWidget*>& controls, int id)
{
    return static_cast<T*>(controls.at(id));
}

}  // namespace

CUpdateDlg::CUpdateDlg(std::string programDir, QWidget* parent)
    : QDialog(parent), m_programDir(std::move(programDir)), m_icon(ProgramIcon())
{
    BindControls();
    ConnectControls();
    m_runTimer.setInterval(RUN_TIMER_MS);
    connect(&m_runTimer, &QTimer::timeout, this, [this] { OnTimer(); });
}

CUpdateDlg::~CUpdateDlg()
{
    // A worker still waiting for its box must not hold up the window's end.
    {
        std::lock_guard<std::mutex> lock(m_boxMutex);
        m_boxClosed = true;
    }
    m_boxAnswered.notify_all();
}

void CUpdateDlg::BindControls()
{
    const auto controls = BuildDialog(*this, RequireDialogTemplate(res::IDD_UPDATE_DIALOG));
    m_cancelButton = ControlAs<QPushButton>(controls, res::IDC_CANCEL_RUN);
    m_updateButton = ControlAs<QPushButton>(controls, res::IDC_UPDATE);
    m_browseButton = ControlAs<QPushButton>(controls, res::IDC_BROWSE);
    m_openButton = ControlAs<QPushButton>(controls, res::IDC_OPEN);
    m_exitButton = ControlAs<QPushButton>(controls, res::IDC_EXIT);
    m_statusHeader = ControlAs<QLabel>(controls, res::IDC_HEADER_STATUS);
    m_progressHeader = ControlAs<QLabel>(controls, res::IDC_HEADER_PROGRESS);
    m_applicationHeader = ControlAs<QLabel>(controls, res::IDC_HEADER_APPLICATION);
    m_portList = ControlAs<QComboBox>(controls, res::IDC_PORT_LIST);
    m_updateInfoBox = ControlAs<QGroupBox>(controls, res::IDC_UPDATE_INFO);
    m_fileEdit = ControlAs<QLineEdit>(controls, res::IDC_FILE_EDIT);
    m_messageEdit = ControlAs<QLineEdit>(controls, res::IDC_MESSAGE);
}

void CUpdateDlg::ConnectControls()
{
    connect(m_openButton, &QPushButton::clicked, this, [this] { OnOpenButton(); });
    connect(m_browseButton, &QPushButton::clicked, this, [this] { OnBrowseButton(); });
    connect(m_updateButton, &QPushButton::clicked, this, [this] { OnUpdateButton(); });
    connect(m_exitButton, &QPushButton::clicked, this, [this] { OnExitButton(); });
    connect(m_cancelButton, &QPushButton::clicked, this, [this] { OnCancelButton(); });
    // The title-bar menu belongs to the window manager: the About entry is
    // offered in the context menu and on the entry's mnemonic key.
    auto* aboutKey = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_O), this);
    connect(aboutKey, &QShortcut::activated, this, [this] { OnSysCommand(ID_SYSMENU_INFO); });
    // Update files dropped from a file manager, also onto the line edits.
    setAcceptDrops(true);
    m_fileEdit->installEventFilter(this);
    m_messageEdit->installEventFilter(this);
}

bool CUpdateDlg::OnInitDialog()
{
    setWindowTitle(QString::fromStdString(res::Format("%s %s", res::PROGRAM_NAME, res::PROGRAM_VERSION)));
    setWindowIcon(m_icon);
    TakeInitialRects();
    BuildRunDisplay({});
    m_run.SetFileName({});
    m_run.SetMessage(res::LoadString(res::IDS_IDLE_HINT));
    for (unsigned n = 1; n <= COM_PORT_COUNT; ++n)
        m_portList->addItem(QString::fromStdString(res::Format("Com%u", n)));
    new CPortToolTips(*m_portList);  // owned by the list
    SetRunControls(true);
    const bool haveSetting = ReadPortSetting();
    if (!haveSetting) {
        m_run.SetFileName({});
        m_portList->setCurrentIndex(0);
    }
    if (m_startFile)
        m_run.SetFileName(*m_startFile);
    UpdateData(false);
    // A remembered or given file that does not pass shows its message box now.
    if (!m_run.FileName().empty()) {
        CheckUpdateFile();
        m_run.CloseUpdateFile();
    }
    // The first enabled tab stop, the port list, starts with the focus.
    m_portList->setFocus();
    return true;
}

void CUpdateDlg::TakeInitialRects()
{
    m_dialogRect = QRect(QPoint(0, 0), size());
    m_groupRect = m_updateInfoBox->geometry();
    m_statusRect = m_statusHeader->geometry();
    m_progressRect = m_progressHeader->geometry();
    m_applicationRect = m_applicationHeader->geometry();
}

void CUpdateDlg::DoDataExchange(bool saveAndValidate)
{
    if (saveAndValidate) {
        m_run.SetFileName(m_fileEdit->text().toLocal8Bit().toStdString());
        return;
    }
    const SRunSnapshot& seen = m_follower.Look();
    m_fileEdit->setText(QString::fromLocal8Bit(m_run.FileName().c_str()));
    m_messageEdit->setText(QString::fromLocal8Bit(seen.message.c_str()));
    m_messageEdit->setCursorPosition(0);
    if (seen.runState != RunIdle)
        RefreshTargetRows(seen);
}

void CUpdateDlg::DestroyWindow()
{
    if (m_windowDestroyed)
        return;
    m_windowDestroyed = true;
    WritePortSetting();
    TearDownRunDisplay();
}

void CUpdateDlg::SetRunControls(bool enable)
{
    m_cancelButton->setEnabled(!enable);
    m_updateButton->setEnabled(enable);
    m_browseButton->setEnabled(enable);
    m_openButton->setEnabled(enable);
    m_portList->setEnabled(enable);
    m_fileEdit->setEnabled(enable);
    m_exitButton->setEnabled(enable);
    m_controlsLocked = enable ? 0 : 1;
    if (enable)
        m_exitButton->setFocus();
    else
        m_cancelButton->setFocus();
}

void CUpdateDlg::OnSysCommand(unsigned id)
{
    if ((id & ~0xFu) != ID_SYSMENU_INFO)
        return;
    CAboutDlg about(this);
    about.exec();
}

void CUpdateDlg::OnExitButton()
{
    UpdateData(true);
    accept();
}

void CUpdateDlg::ShowMessageBox(const std::string& text)
{
    if (QThread::currentThread() == thread()) {
        PresentMessageBox(text);
        return;
    }
    std::unique_lock<std::mutex> lock(m_boxMutex);
    if (m_boxClosed)
        return;
    m_boxText = text;
    m_boxRequested = true;
    m_boxAnswered.wait(lock, [this] { return !m_boxRequested || m_boxClosed; });
}

void CUpdateDlg::ServeWorkerMessageBox()
{
    std::string text;
    {
        std::lock_guard<std::mutex> lock(m_boxMutex);
        // A tick inside the box's own event loop must not open a second one.
        if (!m_boxRequested || m_boxShowing)
            return;
        m_boxShowing = true;
        text = m_boxText;
    }
    PresentMessageBox(text);
    {
        std::lock_guard<std::mutex> lock(m_boxMutex);
        m_boxShowing = false;
        m_boxRequested = false;
    }
    m_boxAnswered.notify_all();
}

void CUpdateDlg::PresentMessageBox(const std::string& text)
{
    QMessageBox box(QMessageBox::Warning, QString::fromUtf8(res::PROGRAM_NAME),
                    QString::fromLocal8Bit(text.c_str()), QMessageBox::Ok, this);
    box.exec();
}

QWidget* CUpdateDlg::Control(int id) const
{
    return findChild<QWidget*>(QStringLiteral("ctl%1").arg(id));
}

void CUpdateDlg::setVisible(bool visible)
{
    // The dialog's initialisation runs before the window first appears.
    if (visible && !m_initialized) {
        m_initialized = true;
        OnInitDialog();
    }
    QDialog::setVisible(visible);
}

void CUpdateDlg::reject()
{
    // The close box and Escape: refused while a run holds the controls,
    // the worker still uses this object.
    if (m_controlsLocked)
        return;
    QDialog::reject();
}

void CUpdateDlg::done(int result)
{
    if (m_controlsLocked)
        return;
    QDialog::done(result);
    DestroyWindow();
}

void CUpdateDlg::contextMenuEvent(QContextMenuEvent* event)
{
    const std::string entry = res::LoadString(res::IDS_ABOUTBOX);
    if (entry.empty())
        return;
    QMenu menu(this);
    QAction* about = menu.addAction(QString::fromStdString(entry));
    if (menu.exec(event->globalPos()) == about)
        OnSysCommand(ID_SYSMENU_INFO);
}
