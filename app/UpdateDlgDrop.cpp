// Update files dropped onto the window from a file manager.

#include "UpdateDlg.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QLineEdit>
#include <QMimeData>
#include <QUrl>

using namespace devupdate::link;
using namespace devupdate::xsvf;
using namespace devupdate::update;

namespace {

// The one local file a drag carries; nothing for text, remote URLs or
// several files (which of them would be meant is unclear).
std::optional<std::string> DraggedFile(const QMimeData& data)
{
    const QList<QUrl> urls = data.urls();
    if (urls.size() != 1 || !urls.constFirst().isLocalFile())
        return std::nullopt;
    return QFile::encodeName(urls.constFirst().toLocalFile()).toStdString();
}

}  // namespace

bool CUpdateDlg::AcceptsFileDrop(const QMimeData& data) const
{
    return !m_controlsLocked && m_run.IsIdle() && DraggedFile(data).has_value();
}

void CUpdateDlg::dragEnterEvent(QDragEnterEvent* event)
{
    if (AcceptsFileDrop(*event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void CUpdateDlg::dragMoveEvent(QDragMoveEvent* event)
{
    if (AcceptsFileDrop(*event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void CUpdateDlg::dropEvent(QDropEvent* event)
{
    // A run may have started while the file was dragged.
    if (!AcceptsFileDrop(*event->mimeData())) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    OpenUpdateFile(*DraggedFile(*event->mimeData()));
}

bool CUpdateDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_fileEdit && watched != m_messageEdit)
        return QDialog::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop: {
        // Text dragged onto the file field stays the field's own.
        auto* drop = static_cast<QDropEvent*>(event);
        if (!DraggedFile(*drop->mimeData()))
            return false;
        if (event->type() == QEvent::DragEnter)
            dragEnterEvent(static_cast<QDragEnterEvent*>(event));
        else if (event->type() == QEvent::DragMove)
            dragMoveEvent(static_cast<QDragMoveEvent*>(event));
        else
            dropEvent(drop);
        return true;
    }
    default:
        return QDialog::eventFilter(watched, event);
    }
}
