#pragma once
// The port list's tool tips: where each ComN leads and which adapter is
// there, or that nothing is. Read from sysfs and /dev without opening any
// port, and read again whenever the list is about to open or be hovered, so
// an adapter plugged in meanwhile shows up.

#include <QObject>

class QComboBox;

class CPortToolTips : public QObject {
public:
    // Becomes a child of portList and watches it.
    explicit CPortToolTips(QComboBox& portList);
    void Refresh();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QComboBox& m_portList;
};
