#pragma once
// CUpdateDlg: the program's one window. It holds the port list, the update
// file field, the buttons that start and cancel a run and the "Update info"
// area with one row per target of the checked file. It holds the run (file
// check, message line and the update itself) and observes it.
//
// All window work happens on the window's thread; the worker only changes
// the run and asks for a refresh, which the 200 ms run timer carries into
// the controls. The one exception, a message box the worker asks for, is
// carried over to the window's thread (ShowMessageBox).
//
// Closing (close box, Escape, "Exit") is refused while a run holds the
// controls; when the window ends it writes "update.cfg" beside the program.

#include "RunFollower.h"
#include "UpdateRun.h"

#include "WarningDlg.h"

#include <QDialog>
#include <QFont>
#include <QIcon>
#include <QPointer>
#include <QRect>
#include <QTimer>

#include <array>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>

class QComboBox;
class QDragEnterEvent;
class QDragMoveEvent;
class QDropEvent;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMimeData;
class QProgressBar;
class QPushButton;

class CUpdateDlg : public QDialog, public devupdate::update::CRunObserver {
public:
    // Command of the About entry in the dialog's context menu.
    static constexpr unsigned ID_SYSMENU_INFO = 16;
    // The run timer's period.
    static constexpr int RUN_TIMER_MS = 200;
    // Fixed metrics of the run display, in pixels.
    static constexpr int ROW_PITCH = 25;
    static constexpr int ROW_HEIGHT = 20;
    static constexpr int GROUP_EXTRA = 5;
    static constexpr int COLUMN_GAP = 10;
    static constexpr int RIGHT_MARGIN = 2;

    // programDir: where "update.cfg" lives and the file dialog starts,
    // ending in '/'. The window is built from template 102 at once; its
    // initialisation (OnInitDialog) runs when it is first shown.
    explicit CUpdateDlg(std::string programDir = devupdate::link::ProgramDirectory(), QWidget* parent = nullptr);
    ~CUpdateDlg() override;

    // A file given on the command line: shown and checked at start instead
    // of the remembered one (the port is still the remembered one). Call
    // before the window is first shown.
    void OpenAtStart(std::string fileName) { m_startFile = std::move(fileName); }

    // ---- the dialog's framework operations ---------------------------------
    // Title, icon, port list, setting file, the check of the remembered
    // file; runs once, before the window is first shown.
    bool OnInitDialog();
    // saveAndValidate true: controls -> members (file name); false: members
    // -> controls (file name, message line and, while a run is not idle,
    // the target rows).
    void DoDataExchange(bool saveAndValidate);
    void UpdateData(bool saveAndValidate) { DoDataExchange(saveAndValidate); }
    // Writes the setting file and removes the run display; runs once, when
    // the dialog ends.
    void DestroyWindow();
    // enable true: idle controls; false: only "Cancel" usable, focus on it.
    void SetRunControls(bool enable);
    // The About entry (ID_SYSMENU_INFO) opens the About box, modally, also
    // during a run; other ids are ignored.
    void OnSysCommand(unsigned id);

    // ---- run display ---------------------------------------------------------
    // One row per target of the checked file (at most MAX_TARGETS): name,
    // progress bar (ids 1020..1029), "0%"; the window grows by ROW_PITCH per row.
    void BuildRunDisplay(const std::vector<devupdate::update::SRunSnapshot::SRow>& targets);
    // Removes the rows and hides the header labels; the window keeps its
    // height until the next BuildRunDisplay.
    void TearDownRunDisplay();

    // ---- file selection -------------------------------------------------------
    // The window's side of the file check: rows removed, idle message, the
    // header check, a message box on failure, the rows of the file on
    // success. On success the update file is left open at the body.
    bool CheckUpdateFile();
    // The file's signature as the file field's tool tip ("signed by ...",
    // "not signed"); none when the file could not be opened.
    void ShowSignature();
    // False only when the start name's folder does not exist (the file
    // dialog would refuse it); true when a file was chosen (and checked) or
    // the dialog was cancelled.
    bool BrowseForFile();
    void OnBrowseButton();
    void OnOpenButton();
    // Shows fileName in the file field and checks it, as a file chosen in
    // the file dialog.
    void OpenUpdateFile(const std::string& fileName);
    // An update file dragged from a file manager: one local file, while no
    // run is active.
    bool AcceptsFileDrop(const QMimeData& data) const;

    // ---- setting file ---------------------------------------------------------
    // Reads "update.cfg": the file name and the selected port. False when the
    // file is missing or unusable (the caller then empties the file name).
    bool ReadPortSetting();
    // Replaces "update.cfg" with the file name and the selected port index;
    // failures are silent.
    void WritePortSetting();

    // ---- the run --------------------------------------------------------------
    void OnUpdateButton();
    void OnTimer();
    void OnCancelButton();
    void OnExitButton();
    // Closes the cancel warning if it is open and enables "Cancel" again.
    void CloseWarning();
    // The warning's "Yes": the run's cancel, confirmed.
    void ConfirmCancel() { m_run.ConfirmCancel(); }
    // A termination signal: a run is cancelled (before the device answered)
    // or its cancel confirmed as "Yes" does; the window then ends as "Exit"
    // does, at once when no run holds it, else when the run has ended.
    void OnTerminationSignal();

    // Shows a message box (warning icon, OK, caption "Update") and waits for
    // it to close. Callable from the window's thread and, during a run, from
    // the worker: the box then opens on the window's thread at the next run
    // timer tick (within RUN_TIMER_MS) and the worker waits until it is
    // closed, or until the window is destroyed.
    void ShowMessageBox(const std::string& text) override;
    // XSVF comments are echoed to standard output (the observer's default).

    // ---- for tests and screenshots ------------------------------------------
    QWidget* Control(int id) const;
    QLabel* NameLabel(int row) const { return m_nameLabels.at(row); }
    QLabel* StatusLabel(int row) const { return m_statusLabels.at(row); }
    QProgressBar* ProgressBar(int row) const { return m_progressBars.at(row); }
    CWarningDlg* WarningDlg() const { return m_warningDlg; }
    bool IsRunDisplayBuilt() const { return m_runDisplayBuilt; }
    bool ControlsLocked() const { return m_controlsLocked != 0; }
    const std::string& ProgramDir() const { return m_programDir; }
    bool IsRunTimerActive() const { return m_runTimer.isActive(); }
    // The outcome of the last run (or of the last attempt to start one).
    const devupdate::update::SRunOutcome& LastOutcome() const { return m_lastOutcome; }
    // The run the window holds; tests look inside through it.
    devupdate::update::CUpdateRun& Run() { return m_run; }

    // ---- QDialog ------------------------------------------------------------
    // The first show runs OnInitDialog.
    void setVisible(bool visible) override;
    // The close box and Escape; refused during a run.
    void reject() override;
    // Ends the dialog (refused during a run), then DestroyWindow.
    void done(int result) override;

protected:
    // The window-thread half of ShowMessageBox: a modal message box. Tests
    // replace it to capture the text instead of blocking.
    virtual void PresentMessageBox(const std::string& text);
    // The open-file dialog, started with initialName (a folder and a name
    // or pattern). The chosen path, or nothing when the user cancelled.
    virtual std::optional<std::string> RunFileDialog(const std::string& initialName);

    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    // A file dragged over the line edits is the window's, not their text.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BindControls();
    void ConnectControls();
    void TakeInitialRects();
    void CreateTargetRow(int row, const std::string& name, int nameLeft, int nameWidth, int barLeft, int barWidth,
                         int statusLeft, int statusWidth, int top);
    void RefreshTargetRows(const devupdate::update::SRunSnapshot& seen);
    // The end of a run: outcome taken, file and port released, controls idle.
    void ReturnToIdle();
    // Shows the box the worker asked for, if any, and releases the worker.
    void ServeWorkerMessageBox();

    std::string m_programDir;
    std::optional<std::string> m_startFile;
    QIcon m_icon;
    QTimer m_runTimer;
    int m_controlsLocked = 0;
    bool m_initialized = false;
    bool m_windowDestroyed = false;
    QPointer<CWarningDlg> m_warningDlg;
    devupdate::update::SRunOutcome m_lastOutcome;

    // The worker's message box request (std primitives, so that the hand-over
    // is visible to the thread checker, unlike Qt's queued calls).
    std::mutex m_boxMutex;
    std::condition_variable m_boxAnswered;
    std::string m_boxText;
    bool m_boxRequested = false;
    bool m_boxShowing = false;
    bool m_boxClosed = false;  // the window is going away: requests return at once
    bool m_exitRequested = false;  // a termination signal: end after the run

    // Controls of template 102.
    QPushButton* m_cancelButton = nullptr;
    QPushButton* m_updateButton = nullptr;
    QPushButton* m_browseButton = nullptr;
    QPushButton* m_openButton = nullptr;
    QPushButton* m_exitButton = nullptr;
    QLabel* m_statusHeader = nullptr;
    QLabel* m_progressHeader = nullptr;
    QLabel* m_applicationHeader = nullptr;
    QComboBox* m_portList = nullptr;
    QGroupBox* m_updateInfoBox = nullptr;
    QLineEdit* m_fileEdit = nullptr;
    QLineEdit* m_messageEdit = nullptr;

    // Run display: rectangles taken once at initialisation, before anything
    // moved (relative to the dialog), and the rows.
    QRect m_dialogRect;
    QRect m_groupRect;
    QRect m_statusRect;
    QRect m_progressRect;
    QRect m_applicationRect;
    bool m_runDisplayBuilt = false;
    QFont m_displayFont;
    std::array<QLabel*, devupdate::update::MAX_TARGETS> m_nameLabels{};
    std::array<QLabel*, devupdate::update::MAX_TARGETS> m_statusLabels{};
    std::array<QProgressBar*, devupdate::update::MAX_TARGETS> m_progressBars{};

    // Last: destroyed first, so that a worker still at work is stopped while
    // everything it reaches through ShowMessageBox is still there.
    devupdate::update::CUpdateRun m_run{*this};
    devupdate::update::CRunFollower m_follower{m_run};
};
