// The station window while the station runs: starting it, the ticks that
// read the passes' events, the tiles, the totals and the chart.

#include "StationWindow.h"

#include "JsonEvents.h"
#include "PortChoice.h"
#include "PortName.h"
#include "RunOutcome.h"
#include "ShiftChart.h"
#include "StationSetup.h"
#include "StationTile.h"

#include <QApplication>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <cmath>

using namespace devupdate;
using namespace devupdate::link;
using namespace devupdate::update;
using namespace devupdate::station;

namespace {

// The passes' events are read as often as the command-line station reads them.
constexpr int TICK_MS = 100;

int TileColumns(size_t tiles)
{
    return tiles <= 1 ? 1 : tiles <= 4 ? 2 : tiles <= 9 ? 3 : 4;
}

}  // namespace

bool CStationWindow::StartStation(std::string& problem)
{
    if (m_station)
        return false;
    SStationSettings settings;
    settings.program = m_program;
    settings.file = m_file->text().toStdString();
    settings.station = true;
    settings.passCount = m_options.passCount;
    settings.logFile = m_logFile;
    const std::vector<std::string> chosen = m_ports->Chosen();
    std::vector<CStationPort> ports;
    if (m_program.empty())
        problem = "update-cli is not beside this program";
    else if (settings.file.empty())
        problem = "choose the update file";
    else if (chosen.empty())
        problem = "choose the station's ports";
    else if (chosen.size() > MAX_STATION_PORTS)
        problem = TooManyPortsText();
    else
        problem = PrepareStationPorts(settings, chosen, std::string(), ports);
    const std::string logFolder = m_logFile.substr(0, m_logFile.find_last_of('/') + 1);
    if (problem.empty() && !logFolder.empty() && !MakePrivateFolders(logFolder, problem))
        problem = "the run log: " + problem;
    m_problem->setText(QString::fromStdString(problem));
    if (!problem.empty())
        return false;
    RememberChoice();
    MakeTiles(ports);
    m_figures.emplace(CShiftFigures::Clock::now());
    station::CStationView& view = *this;
    m_station = std::make_unique<station::CStation>(std::move(settings), std::move(ports), view);
    ShowRunning(true);
    m_station->Start();
    ShowTiles();
    ShowTotals();
    m_timer->start(TICK_MS);
    return true;
}

void CStationWindow::ShowRunning(bool running)
{
    m_start->setEnabled(!running);
    m_stop->setEnabled(running);
    m_stop->setText("S&top");
    // The file and the ports stay as the station runs them.
    for (QWidget* choice : {static_cast<QWidget*>(m_file), static_cast<QWidget*>(m_browse),
                            static_cast<QWidget*>(m_ports)})
        choice->setEnabled(!running);
}

void CStationWindow::MakeTiles(const std::vector<CStationPort>& ports)
{
    for (CStationTile* tile : m_tiles)
        delete tile;
    m_tiles.clear();
    m_last.assign(ports.size(), {});
    m_answeredAt.assign(ports.size(), {});
    const int columns = TileColumns(ports.size());
    const int rows = (static_cast<int>(ports.size()) + columns - 1) / columns;
    // Every tile the same size, whatever its text asks for.
    for (int c = 0; c < 4; ++c)
        m_tileGrid->setColumnStretch(c, c < columns ? 1 : 0);
    for (int r = 0; r < 4; ++r)
        m_tileGrid->setRowStretch(r, r < rows ? 1 : 0);
    for (size_t i = 0; i < ports.size(); ++i) {
        auto* tile = new CStationTile(QString::fromStdString(ports[i].Port()),
                                      QString::fromStdString(ports[i].Description()));
        connect(tile, &CStationTile::TraceWanted, this, &CStationWindow::ShowTrace);
        tile->Show(DescribeTile(ports[i], {}, {}), ports[i].Counts());
        m_tileGrid->addWidget(tile, static_cast<int>(i) / columns, static_cast<int>(i) % columns);
        m_tiles.push_back(tile);
    }
}

void CStationWindow::ShowChosenTiles()
{
    if (m_station)
        return;
    std::vector<CStationPort> ports;
    for (const std::string& port : m_ports->Chosen())
        ports.emplace_back(port, port, std::string());
    MakeTiles(ports);
}

void CStationWindow::Tick()
{
    if (!m_station)
        return;
    m_station->Poll(0, -1, {});
    m_station->EndPassesDone();
    ShowTiles();
    ShowTotals();
    if (!m_station->AnyPortOpen())
        Finished();
}

void CStationWindow::ShowTiles()
{
    const std::vector<CStationPort>& ports = m_station->Ports();
    for (size_t i = 0; i < ports.size() && i < m_tiles.size(); ++i)
        m_tiles[i]->Show(DescribeTile(ports[i], m_last[i], m_check.estimates), ports[i].Counts());
}

void CStationWindow::ShowTotals()
{
    const CShiftFigures figures = m_figures.value_or(CShiftFigures(CShiftFigures::Clock::now()));
    const auto now = CShiftFigures::Clock::now();
    m_passes->setText(QString("Passes %1").arg(figures.Passes()));
    m_failures->setText(QString("Failures %1").arg(figures.Failures()));
    const double yield = figures.YieldPercent();
    m_yield->setText(yield < 0 ? QString("Yield -") : QString("Yield %1 %").arg(yield, 0, 'f', 1));
    const double rate = figures.DevicesPerHour(now);
    m_rate->setText(rate > 0 ? QString("%1 devices/h").arg(std::lround(rate)) : QString("- devices/h"));
    if (m_figures)
        m_chart->Show(*m_figures, now);
}

void CStationWindow::Finished()
{
    m_timer->stop();
    const int status = m_station->ExitStatus();
    Summary(m_station->Ports(), status);
    m_station.reset();
    ShowRunning(false);
    if (m_quitWhenDone || m_options.passCount > 0)
        QApplication::exit(status);
}

size_t CStationWindow::IndexOf(const CStationPort& port) const
{
    return static_cast<size_t>(&port - m_station->Ports().data());
}

void CStationWindow::Start(const std::vector<CStationPort>& ports)
{
    (void)ports;  // the tiles are made before the station starts
}

void CStationWindow::ChildEvent(const CStationPort& port, const std::string& line, const nlohmann::json& event)
{
    (void)line;
    if (JsonTextOf(event, events::field::EVENT) == events::name::ANSWERED)
        m_answeredAt[IndexOf(port)] = std::chrono::steady_clock::now();
}

void CStationWindow::ChildError(const CStationPort& port, const std::string& line)
{
    std::fprintf(stderr, "%s: %s\n", port.Port().c_str(), line.c_str());
}

void CStationWindow::PassLost(const CStationPort& port, const std::string& reason, int status)
{
    SLastPass& last = m_last[IndexOf(port)];
    last.message = reason;
    last.status = status;
}

void CStationWindow::PassEnded(const CStationPort& port, int status)
{
    const size_t index = IndexOf(port);
    if (!port.Answered() && status == EXIT_CANCELLED)
        return;  // stopped while it waited: the last device's result stays shown
    SLastPass& last = m_last[index];
    last.ended = true;
    last.answered = port.Answered();
    last.status = status;
    if (port.SawEnd())
        last.message = port.Message();
    if (!port.Answered())
        return;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_answeredAt[index]).count();
    m_tiles[index]->ShowLastPassTime(seconds);
    if (status != EXIT_CANCELLED)
        m_figures->Add(CShiftFigures::Clock::now(), status == EXIT_UPDATED);
}

void CStationWindow::TraceKept(const CStationPort& port, const std::string& path)
{
    m_tiles[IndexOf(port)]->ShowKeptTrace(QString::fromStdString(path), port.PassNumber());
}

void CStationWindow::Summary(const std::vector<CStationPort>& ports, int exitStatus)
{
    (void)ports;
    m_problem->setText(exitStatus == EXIT_UPDATED ? QString()
                                                  : QString("The station ended with status %1.").arg(exitStatus));
}
