#pragma once
// The main window for tests: message boxes and the file dialog are captured
// instead of shown, the setting file lives in a private temporary folder,
// and helpers reach the controls by id and write update files.

#include "UpdateDlg.h"
#include "UpdateFileFixture.h"
#include "UpdateFileWriter.h"

#include "DialogTemplates.h"

#include <QApplication>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QUrl>

#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class CTestUpdateDlg : public CUpdateDlg {
public:
    explicit CTestUpdateDlg(const std::string& programDir) : CUpdateDlg(programDir) {}

    std::vector<std::string> Messages() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_messages;
    }
    // Message boxes that were asked for on another thread than the window's.
    int OffThreadBoxes() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_offThreadBoxes;
    }

    // Answers of the next file dialogs: a path, or nothing for "cancelled".
    std::deque<std::optional<std::string>> m_fileDialogAnswers;
    std::vector<std::string> m_fileDialogStarts;
    // Called while a message box would be open (e.g. to inspect the window).
    std::function<void(const std::string&)> m_onMessageBox;

protected:
    void PresentMessageBox(const std::string& text) override
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_messages.push_back(text);
            if (QThread::currentThread() != thread())
                ++m_offThreadBoxes;
        }
        if (m_onMessageBox)
            m_onMessageBox(text);
    }

    std::optional<std::string> RunFileDialog(const std::string& initialName) override
    {
        m_fileDialogStarts.push_back(initialName);
        if (m_fileDialogAnswers.empty())
            return std::nullopt;
        std::optional<std::string> answer = m_fileDialogAnswers.front();
        m_fileDialogAnswers.pop_front();
        return answer;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_messages;
    int m_offThreadBoxes = 0;
};

inline QPushButton* Button(const CUpdateDlg& dlg, int id)
{
    return qobject_cast<QPushButton*>(dlg.Control(id));
}

inline QComboBox* PortList(const CUpdateDlg& dlg)
{
    return qobject_cast<QComboBox*>(dlg.Control(devupdate::res::IDC_PORT_LIST));
}

inline QLineEdit* Edit(const CUpdateDlg& dlg, int id)
{
    return qobject_cast<QLineEdit*>(dlg.Control(id));
}

// The rows of the run display.
inline int RowCount(const CUpdateDlg& dlg)
{
    int rows = 0;
    while (rows < devupdate::update::MAX_TARGETS && dlg.ProgressBar(rows) != nullptr)
        ++rows;
    return rows;
}

inline std::string MessageLine(const CUpdateDlg& dlg)
{
    return Edit(dlg, devupdate::res::IDC_MESSAGE)->text().toStdString();
}

// A "V1.01" firmware file whose targets are named name1, name2 ...
inline std::string WriteTargetsFile(const CTempFolder& folder, const std::string& fileName, int targets)
{
    devupdate::mkupd::SUpdateFile file;
    for (int i = 0; i < targets; ++i) {
        devupdate::mkupd::SUpdateTarget target;
        target.number = static_cast<unsigned>(i + 1);
        target.name = "name" + std::to_string(i + 1);
        target.data = devupdate::mkupd::MakeFirmwareBlocks(std::vector<uint8_t>(40, static_cast<uint8_t>(i)), 20, false);
        file.targets.push_back(target);
    }
    return folder.Write(fileName, devupdate::mkupd::WriteUpdateFile(file));
}

inline std::string WriteSettingFile(const CTempFolder& folder, const std::string& text)
{
    return folder.Write("update.cfg", text);
}

inline std::string ReadWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Drags urls onto the window at pos and drops them, as the window system
// does: the events go to the widget there or its nearest ancestor that takes
// drops. True when the drag was accepted and the drop taken.
inline bool DropUrls(QWidget& window, const QPoint& pos, const QList<QUrl>& urls)
{
    QWidget* target = window.childAt(pos);
    if (target == nullptr)
        target = &window;
    while (!target->acceptDrops() && target != &window)
        target = target->parentWidget();
    // File managers offer the URLs as plain text too.
    QMimeData data;
    data.setUrls(urls);
    QStringList text;
    for (const QUrl& url : urls)
        text.append(url.toString());
    data.setText(text.join(QLatin1Char('\n')));
    const QPoint local = target->mapFrom(&window, pos);
    QDragEnterEvent enter(local, Qt::CopyAction | Qt::MoveAction | Qt::LinkAction, &data, Qt::LeftButton,
                          Qt::NoModifier);
    enter.ignore();
    QApplication::sendEvent(target, &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent drop(QPointF(local), enter.dropAction(), &data, Qt::LeftButton, Qt::NoModifier);
    drop.ignore();
    QApplication::sendEvent(target, &drop);
    return drop.isAccepted();
}
