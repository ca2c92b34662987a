#pragma once
// The production station as a window: the update file and its check, the
// ports to use, Start and Stop, a tile per port, the shift's totals and
// chart. Each pass is update-cli run as a child for one port, supervised
// by station::CStation as the command-line station does.

#include "FileCheck.h"
#include "ShiftFigures.h"
#include "Station.h"
#include "StationOptions.h"
#include "TileState.h"

#include <QWidget>

#include <memory>
#include <optional>
#include <string>
#include <vector>

class CPortChoice;
class CShiftChart;
class CStationTile;
class CTerminationSignals;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

class CStationWindow : public QWidget, private devupdate::station::CStationView {
    Q_OBJECT

public:
    explicit CStationWindow(const SStationOptions& options, QWidget* parent = nullptr);
    ~CStationWindow() override;

    // Starts the station on the chosen ports; false with the reason shown
    // (and in `problem`) when it cannot start.
    bool StartStation(std::string& problem);
    bool Running() const { return m_station != nullptr; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* BuildFileGroup();
    QWidget* BuildPortGroup();
    QWidget* BuildShiftArea();
    void Browse();
    void FileChosen();
    void ShowCheck(const SFileCheckResult& result);
    void RememberChoice();
    void StartClicked();
    void StopClicked();
    void TakeSignal(int signal);
    // True when a port is in the middle of an update.
    bool Updating() const;
    bool ConfirmCancel();
    void MakeTiles(const std::vector<devupdate::station::CStationPort>& ports);
    // Before Start: a tile in "Ready" for each ticked port.
    void ShowChosenTiles();
    void Tick();
    void ShowTiles();
    void ShowTotals();
    void Finished();
    // Start, Stop, the file and the ports as while the station runs or not.
    void ShowRunning(bool running);
    void ShowTrace(const QString& path);
    size_t IndexOf(const devupdate::station::CStationPort& port) const;

    // station::CStationView
    void Start(const std::vector<devupdate::station::CStationPort>& ports) override;
    void ChildEvent(const devupdate::station::CStationPort& port, const std::string& line, const nlohmann::json& event) override;
    void ChildError(const devupdate::station::CStationPort& port, const std::string& line) override;
    void PassLost(const devupdate::station::CStationPort& port, const std::string& reason, int status) override;
    void PassEnded(const devupdate::station::CStationPort& port, int status) override;
    void TraceKept(const devupdate::station::CStationPort& port, const std::string& path) override;
    void Summary(const std::vector<devupdate::station::CStationPort>& ports, int exitStatus) override;

    SStationOptions m_options;
    std::string m_program;  // the update-cli each pass runs
    std::string m_configPath;
    std::string m_logFile;
    SFileCheckResult m_check;
    bool m_quitWhenDone = false;

    CFileCheck* m_fileCheck;
    QLineEdit* m_file = nullptr;
    QPushButton* m_browse = nullptr;
    QLabel* m_checkText = nullptr;
    QLabel* m_sha = nullptr;
    CPortChoice* m_ports = nullptr;
    QPushButton* m_start = nullptr;
    QPushButton* m_stop = nullptr;
    QLabel* m_log = nullptr;
    QLabel* m_problem = nullptr;
    QLabel* m_passes = nullptr;
    QLabel* m_failures = nullptr;
    QLabel* m_yield = nullptr;
    QLabel* m_rate = nullptr;
    QGridLayout* m_tileGrid = nullptr;
    CShiftChart* m_chart = nullptr;
    QTimer* m_timer;
    CTerminationSignals* m_signals;

    std::unique_ptr<devupdate::station::CStation> m_station;
    std::vector<CStationTile*> m_tiles;
    std::vector<SLastPass> m_last;
    std::vector<std::chrono::steady_clock::time_point> m_answeredAt;
    std::optional<CShiftFigures> m_figures;
};

// The update-cli beside this program: update-cli in the build, devupdate-cli
// when installed; empty when neither is there.
std::string UpdateCliProgram();
// The run log's default: $XDG_STATE_HOME/update/station-YYYY-MM-DD.jsonl
// ($HOME/.local/state when XDG_STATE_HOME is not an absolute path).
std::string DefaultLogFile();
