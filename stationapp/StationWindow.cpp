#include "StationWindow.h"

#include "PortChoice.h"
#include "PortName.h"
#include "ShiftChart.h"
#include "StationConfig.h"
#include "StationTile.h"
#include "StringTable.h"
#include "TerminationSignals.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <csignal>
#include <ctime>
#include <unistd.h>

using namespace devupdate;
using namespace devupdate::link;
using namespace devupdate::res;
using namespace devupdate::update;
using namespace devupdate::station;

namespace {

QLabel* FigureLabel(QWidget* parent)
{
    auto* label = new QLabel(parent);
    QFont font = label->font();
    font.setPixelSize(22);
    font.setBold(true);
    label->setFont(font);
    label->setAlignment(Qt::AlignCenter);
    label->setTextFormat(Qt::PlainText);
    return label;
}

bool Executable(const std::string& path)
{
    return access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::string UpdateCliProgram()
{
    const std::string folder = ProgramDirectory();
    for (const char* name : {"update-cli", "devupdate-cli"}) {
        if (!folder.empty() && Executable(folder + name))
            return folder + name;
    }
    return {};
}

std::string DefaultLogFile()
{
    std::string folder;
    if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && state[0] == '/')
        folder = state;
    else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0')
        folder = std::string(home) + "/.local/state";
    if (folder.empty())
        return {};
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    char day[16] = "";
    if (localtime_r(&now, &local) != nullptr)
        (void)std::strftime(day, sizeof day, "%Y-%m-%d", &local);
    return folder + "/update/station-" + day + ".jsonl";
}

CStationWindow::CStationWindow(const SStationOptions& options, QWidget* parent)
    : QWidget(parent),
      m_options(options),
      m_program(UpdateCliProgram()),
      m_configPath(StationConfigPath()),
      m_logFile(options.logFile.empty() ? DefaultLogFile() : options.logFile),
      m_fileCheck(new CFileCheck(m_program, this)),
      m_timer(new QTimer(this)),
      m_signals(new CTerminationSignals([this](int signal) { TakeSignal(signal); }))
{
    setWindowTitle(QString("Update station %1").arg(res::PROGRAM_VERSION));
    m_signals->setParent(this);
    const SStationConfig remembered = ReadStationConfig(m_configPath);
    auto* left = new QVBoxLayout;
    left->addWidget(BuildFileGroup());
    left->addWidget(BuildPortGroup(), 1);
    auto* buttons = new QHBoxLayout;
    m_start = new QPushButton("&Start", this);
    m_stop = new QPushButton("S&top", this);
    m_stop->setEnabled(false);
    for (QPushButton* button : {m_start, m_stop}) {
        button->setMinimumHeight(40);
        QFont font = button->font();
        font.setPixelSize(16);
        font.setBold(true);
        button->setFont(font);
        buttons->addWidget(button);
    }
    left->addLayout(buttons);
    m_log = new QLabel(this);
    m_log->setWordWrap(true);
    m_log->setTextFormat(Qt::PlainText);
    m_log->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_log->setText(QString::fromStdString("Run log: " + (m_logFile.empty() ? "(no folder for it)" : m_logFile)));
    left->addWidget(m_log);
    m_problem = new QLabel(this);
    m_problem->setWordWrap(true);
    m_problem->setTextFormat(Qt::PlainText);
    m_problem->setStyleSheet("color: #b71c1c;");
    left->addWidget(m_problem);
    auto* leftPanel = new QWidget(this);
    leftPanel->setLayout(left);
    leftPanel->setFixedWidth(430);
    left->setContentsMargins(0, 0, 0, 0);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(leftPanel);
    layout->addWidget(BuildShiftArea(), 1);

    connect(m_start, &QPushButton::clicked, this, &CStationWindow::StartClicked);
    connect(m_stop, &QPushButton::clicked, this, &CStationWindow::StopClicked);
    connect(m_timer, &QTimer::timeout, this, &CStationWindow::Tick);
    connect(m_fileCheck, &CFileCheck::Checked, this, &CStationWindow::ShowCheck);
    connect(m_ports, &CPortChoice::ChoiceChanged, this, &CStationWindow::ShowChosenTiles);
    m_ports->Fill(options.ports.empty() ? remembered.ports : options.ports);
    ShowChosenTiles();
    m_file->setText(QString::fromStdString(options.file.empty() ? remembered.file : options.file));
    FileChosen();
    ShowTotals();
    if (m_program.empty())
        m_problem->setText("update-cli is not beside this program: no station can start.");
}

CStationWindow::~CStationWindow() = default;

QWidget* CStationWindow::BuildFileGroup()
{
    auto* group = new QGroupBox("Update file", this);
    auto* layout = new QVBoxLayout(group);
    auto* row = new QHBoxLayout;
    m_file = new QLineEdit(group);
    m_browse = new QPushButton("&Browse...", group);
    row->addWidget(m_file, 1);
    row->addWidget(m_browse);
    layout->addLayout(row);
    m_checkText = new QLabel(group);
    m_checkText->setTextFormat(Qt::PlainText);
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setPixelSize(11);  // a check's line fits the panel's width
    m_checkText->setFont(fixed);
    m_checkText->setWordWrap(true);
    m_checkText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_checkText);
    m_sha = new QLabel(group);
    m_sha->setTextFormat(Qt::PlainText);
    m_sha->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_sha);
    connect(m_browse, &QPushButton::clicked, this, &CStationWindow::Browse);
    connect(m_file, &QLineEdit::editingFinished, this, &CStationWindow::FileChosen);
    return group;
}

QWidget* CStationWindow::BuildPortGroup()
{
    auto* group = new QGroupBox("&Ports", this);
    auto* layout = new QVBoxLayout(group);
    m_ports = new CPortChoice(group);
    layout->addWidget(m_ports);
    auto* refresh = new QPushButton("&Refresh", group);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(refresh);
    layout->addLayout(row);
    connect(refresh, &QPushButton::clicked, this, [this] {
        m_ports->Fill(m_ports->Chosen());
        ShowChosenTiles();
    });
    return group;
}

QWidget* CStationWindow::BuildShiftArea()
{
    auto* area = new QWidget(this);
    auto* layout = new QVBoxLayout(area);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* totals = new QFrame(area);
    totals->setFrameShape(QFrame::StyledPanel);
    auto* strip = new QHBoxLayout(totals);
    m_passes = FigureLabel(totals);
    m_failures = FigureLabel(totals);
    m_yield = FigureLabel(totals);
    m_rate = FigureLabel(totals);
    for (QLabel* label : {m_passes, m_failures, m_yield, m_rate})
        strip->addWidget(label, 1);
    layout->addWidget(totals);
    auto* tiles = new QWidget(area);
    m_tileGrid = new QGridLayout(tiles);
    m_tileGrid->setContentsMargins(0, 0, 0, 0);
    m_tileGrid->setSpacing(6);
    layout->addWidget(tiles, 1);
    m_chart = new CShiftChart(area);
    m_chart->setFixedHeight(190);
    layout->addWidget(m_chart);
    return area;
}

void CStationWindow::Browse()
{
    const QString chosen = QFileDialog::getOpenFileName(this, "Update file", m_file->text(),
                                                        "Update files (*.upd);;All files (*)");
    if (chosen.isEmpty())
        return;
    m_file->setText(chosen);
    FileChosen();
}

void CStationWindow::FileChosen()
{
    const std::string file = m_file->text().toStdString();
    m_check = {};
    m_sha->clear();
    m_checkText->setText(file.empty() ? "No update file chosen." : "Checking...");
    if (!file.empty() && !m_program.empty())
        m_fileCheck->Check(file);
}

void CStationWindow::ShowCheck(const SFileCheckResult& result)
{
    m_check = result;
    m_checkText->setStyleSheet(result.ok ? QString() : "color: #b71c1c;");
    m_checkText->setText(QString::fromStdString(result.text));
    m_sha->setText(result.sha256.empty() ? QString()
                                         : QString::fromStdString("SHA-256 " + result.sha256.substr(0, 16) + "..."));
    m_sha->setToolTip(QString::fromStdString(result.sha256));
}

void CStationWindow::RememberChoice()
{
    std::string error;
    if (!m_configPath.empty() &&
        !WriteStationConfig(m_configPath, {m_file->text().toStdString(), m_ports->Chosen()}, error))
        std::fprintf(stderr, "update-station: %s\n", error.c_str());
}

void CStationWindow::StartClicked()
{
    std::string problem;
    (void)StartStation(problem);
}

void CStationWindow::StopClicked()
{
    if (!m_station)
        return;
    // The first Stop lets the updates finish their pass; another one while
    // they run asks, then cancels them.
    if (!m_station->Stopping()) {
        m_station->Signal(SIGHUP);
        m_stop->setText("Cancel upda&tes");
        return;
    }
    if (Updating() && ConfirmCancel())
        m_station->Signal(SIGTERM);
}

bool CStationWindow::Updating() const
{
    if (!m_station)
        return false;
    for (const station::CStationPort& port : m_station->Ports()) {
        if (!port.Closed() && port.Answered() && !port.SawEnd())
            return true;
    }
    return false;
}

bool CStationWindow::ConfirmCancel()
{
    return QMessageBox::warning(this, "Cancel the updates",
                                "Devices are being updated. Cancel their updates now?\n\n"
                                "A cancelled device keeps its old firmware in the targets not yet updated.",
                                QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

void CStationWindow::TakeSignal(int signal)
{
    // As the command-line station: SIGTERM cancels everything at once,
    // SIGHUP ends the waiting ports and lets the updates finish; the
    // program then ends.
    m_quitWhenDone = true;
    if (m_station)
        m_station->Signal(signal);
    else
        QApplication::exit(0);
}

void CStationWindow::closeEvent(QCloseEvent* event)
{
    RememberChoice();
    if (!m_station) {
        event->accept();
        return;
    }
    event->ignore();
    if (Updating()) {
        if (!ConfirmCancel())
            return;
        m_station->Signal(SIGTERM);
    } else {
        m_station->Signal(SIGHUP);
    }
    m_quitWhenDone = true;
}

void CStationWindow::ShowTrace(const QString& path)
{
    QFile file(path);
    QString text;
    if (file.open(QIODevice::ReadOnly))
        text = QString::fromUtf8(file.read(16 * 1024 * 1024));
    else
        text = QString("%1: %2").arg(path, file.errorString());
    auto* dialog = new QDialog(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle("Trace " + path);
    auto* view = new QPlainTextEdit(text, dialog);
    view->setReadOnly(true);
    view->setLineWrapMode(QPlainTextEdit::NoWrap);
    view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    auto* close = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
    connect(close, &QDialogButtonBox::rejected, dialog, &QDialog::close);
    auto* layout = new QVBoxLayout(dialog);
    layout->addWidget(view);
    layout->addWidget(close);
    dialog->resize(820, 520);
    dialog->show();
}
