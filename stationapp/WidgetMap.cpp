#include "WidgetMap.h"

#include "ReplacementFile.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QLabel>
#include <QStyleOptionViewItem>
#include <QTimer>
#include <QWindow>

#include <cstdlib>
#include <memory>

namespace {

class CWidgetMap {
public:
    explicit CWidgetMap(QString path) : m_path(std::move(path)) {}
    void Write()
    {
        m_lines.clear();
        for (QWidget* window : QApplication::topLevelWidgets()) {
            // Shown but not yet on the screen, a window lets a click through.
            if (!window->isVisible() || window->windowHandle() == nullptr || !window->windowHandle()->isExposed())
                continue;
            Add("window", window->windowTitle(), window, window->rect());
            for (auto* button : OwnChildren<QAbstractButton>(window))
                Add("button", button->text().remove('&'), button, button->rect());
            for (auto* label : OwnChildren<QLabel>(window))
                Add("label", label->text(), label, label->rect());
            for (auto* view : OwnChildren<QAbstractItemView>(window))
                AddRows(*view);
        }
        // Replaced whole: a reader never sees half a map.
        const QByteArray bytes = m_lines.toUtf8();
        devupdate::update::CReplacementFile file(m_path.toStdString());
        std::string error;
        if (file.Open(error) && file.Write(bytes.constData(), static_cast<size_t>(bytes.size()), error))
            (void)file.Commit(error);  // a map that cannot be written is left out; the test then waits
    }

private:
    // The visible widgets of this window, not those of the dialogs it owns.
    template <typename T>
    static QList<T*> OwnChildren(QWidget* window)
    {
        QList<T*> own;
        for (T* child : window->findChildren<T*>())
            if (child->window() == window && child->isVisible())
                own.push_back(child);
        return own;
    }
    void AddRows(const QAbstractItemView& view)
    {
        const QAbstractItemModel* model = view.model();
        if (model == nullptr)
            return;
        for (int row = 0; row < model->rowCount(view.rootIndex()); ++row) {
            const QModelIndex index = model->index(row, 0, view.rootIndex());
            const QRect cell = view.visualRect(index);
            if (!cell.intersects(view.viewport()->rect()))
                continue;
            const QString text = index.data().toString();
            Add("item", text, view.viewport(), cell);
            if (index.flags() & Qt::ItemIsUserCheckable) {
                QStyleOptionViewItem option;
                option.initFrom(view.viewport());
                option.rect = cell;
                option.features = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
                option.text = text;
                Add("check", text, view.viewport(),
                    view.style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, &view));
            }
        }
    }
    void Add(const char* kind, QString text, const QWidget* widget, const QRect& area)
    {
        const QPoint centre = widget->mapToGlobal(area.center());
        m_lines += QString("%1\t%2\t%3\t%4\t%5\n")
                       .arg(kind, text.replace('\n', "\\n"))
                       .arg(centre.x())
                       .arg(centre.y())
                       .arg(widget->isEnabled() ? 1 : 0);
    }

    QString m_path;
    QString m_lines;
};

}  // namespace

void StartWidgetMap(QObject* parent)
{
    const char* path = std::getenv("UPDATE_STATION_WIDGET_MAP");
    if (path == nullptr || path[0] == '\0')
        return;
    auto* timer = new QTimer(parent);
    QObject::connect(timer, &QTimer::timeout, [map = std::make_shared<CWidgetMap>(QString::fromLocal8Bit(path))] {
        map->Write();
    });
    timer->start(200);
}
