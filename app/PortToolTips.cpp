#include "PortToolTips.h"

#include "PortInfo.h"

#include <QComboBox>
#include <QEvent>

using namespace devupdate::link;

CPortToolTips::CPortToolTips(QComboBox& portList) : QObject(&portList), m_portList(portList)
{
    m_portList.installEventFilter(this);
    Refresh();
}

void CPortToolTips::Refresh()
{
    const SPortPlaces places = SPortPlaces::ForThisProcess();
    for (int i = 0; i < m_portList.count(); ++i)
        m_portList.setItemData(i, QString::fromStdString(ComPortToolTip(static_cast<unsigned>(i + 1), places)),
                               Qt::ToolTipRole);
    m_portList.setToolTip(m_portList.itemData(m_portList.currentIndex(), Qt::ToolTipRole).toString());
}

bool CPortToolTips::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:  // the list is about to open
    case QEvent::KeyPress:
    case QEvent::ToolTip:
        Refresh();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
