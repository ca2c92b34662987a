#pragma once
// One port of the station as a tile: the port and its adapter, a state in
// large letters, the bar, a line of detail, the counts, the last pass's
// time and, after a failed pass whose trace was kept, a button that shows it.

#include "TileState.h"

#include <QFrame>

class QLabel;
class QProgressBar;
class QPushButton;

class CStationTile : public QFrame {
    Q_OBJECT

public:
    CStationTile(const QString& port, const QString& description, QWidget* parent = nullptr);

    void Show(const STileText& text, const devupdate::station::SStationCounts& counts);
    // The last pass's time on the line, from the device's answer to its end.
    void ShowLastPassTime(double seconds);
    void ShowKeptTrace(const QString& path, unsigned pass);

signals:
    void TraceWanted(const QString& path);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void FitCounts();
    void ElideTitle();

    QString m_port;
    QString m_tracePath;
    ETileState m_state = ETileState::Idle;
    QLabel* m_title;
    QLabel* m_big;
    QProgressBar* m_bar;
    QLabel* m_detail;
    QLabel* m_counts;
    QLabel* m_last;
    QPushButton* m_trace;
};
