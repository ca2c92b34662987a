#include "PortChoice.h"

#include "PortInfo.h"

#include <QHeaderView>

#include <algorithm>

using namespace devupdate::link;

namespace {

enum EColumn { PORT, LEADS_TO, ADAPTER, ACCESS };

QStringList Row(const std::string& port, const std::string& leadsTo, const std::optional<SPortInfo>& info)
{
    return {QString::fromStdString(port), QString::fromStdString(leadsTo),
            QString::fromStdString(info ? DescribeAdapter(*info) : std::string()),
            QString::fromStdString(info ? AccessText(*info) : std::string())};
}

}  // namespace

CPortChoice::CPortChoice(QWidget* parent) : QTreeWidget(parent)
{
    setHeaderLabels({"Port", "Leads to", "Adapter", "Access"});
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    // A long link is elided in its column; the port and its access stay whole.
    header()->setStretchLastSection(false);
    header()->setSectionResizeMode(PORT, QHeaderView::ResizeToContents);
    header()->setSectionResizeMode(LEADS_TO, QHeaderView::Stretch);
    header()->setSectionResizeMode(ADAPTER, QHeaderView::Interactive);
    header()->setSectionResizeMode(ACCESS, QHeaderView::ResizeToContents);
    header()->resizeSection(ADAPTER, 110);
    connect(this, &QTreeWidget::itemChanged, this, [this] { emit ChoiceChanged(); });
}

void CPortChoice::Fill(const std::vector<std::string>& chosen)
{
    const QSignalBlocker quiet(this);
    clear();
    const SPortPlaces places = SPortPlaces::ForThisProcess();
    std::vector<QStringList> rows;
    for (unsigned n = 1; n <= COM_PORT_COUNT; ++n) {
        const std::string name = "Com" + std::to_string(n);
        const std::string mapping = ComPortMapping(n, places);
        rows.push_back(Row(name, mapping.substr(mapping.find(" -> ") + 4),
                           FindSerialPort(RoutePortName(name, places).path, places)));
    }
    for (const SPortInfo& info : ListSerialPorts(places))
        rows.push_back(Row(info.device, info.driver, info));
    for (const std::string& port : chosen) {
        const auto same = [&](const QStringList& row) { return row[PORT].compare(QString::fromStdString(port),
                                                                                 Qt::CaseInsensitive) == 0; };
        if (std::none_of(rows.begin(), rows.end(), same))
            rows.push_back(Row(port, CanonicalPath(port), FindSerialPort(port, places)));
    }
    for (const QStringList& row : rows) {
        auto* item = new QTreeWidgetItem(this, row);
        const bool checked = std::any_of(chosen.begin(), chosen.end(), [&](const std::string& port) {
            return row[PORT].compare(QString::fromStdString(port), Qt::CaseInsensitive) == 0;
        });
        item->setCheckState(PORT, checked ? Qt::Checked : Qt::Unchecked);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setToolTip(LEADS_TO, row[LEADS_TO]);
        item->setToolTip(ADAPTER, row[ADAPTER]);
    }
    if (topLevelItemCount() > 0)
        setCurrentItem(topLevelItem(0));
}

std::vector<std::string> CPortChoice::Chosen() const
{
    std::vector<std::string> ports;
    for (int i = 0; i < topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = topLevelItem(i);
        if (item->checkState(PORT) == Qt::Checked)
            ports.push_back(item->text(PORT).toStdString());
    }
    return ports;
}
