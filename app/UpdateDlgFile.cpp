// File selection, the window's side of the file check, and the setting file.

#include "UpdateDlg.h"

#include "FileDialogRules.h"
#include "PortSetting.h"
#include "StringTable.h"

#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>

using namespace devupdate;
using namespace devupdate::link;
using namespace devupdate::xsvf;
using namespace devupdate::res;
using namespace devupdate::update;

namespace {

constexpr char kDefaultSuffix[] = "upd";

}  // namespace

bool CUpdateDlg::CheckUpdateFile()
{
    UpdateData(true);
    TearDownRunDisplay();
    m_run.SetMessage(res::LoadString(res::IDS_IDLE_HINT));
    UpdateData(false);
    const CUpdateRun::SCheckResult result = m_run.CheckUpdateFileHeader();
    ShowSignature();
    if (!result.ok) {
        if (!result.message.empty())
            ShowMessageBox(result.message);
        return false;
    }
    BuildRunDisplay(m_run.Snapshot().rows);
    return true;
}

void CUpdateDlg::ShowSignature()
{
    // A file that could not be opened was not looked at.
    const SSignatureCheck& check = m_run.Signature();
    const bool looked = check.signature || !check.problem.empty();
    m_fileEdit->setToolTip(looked ? QString::fromLocal8Bit(SignatureLine(check).c_str()) : QString());
}

void CUpdateDlg::OnOpenButton()
{
    CheckUpdateFile();
    m_run.CloseUpdateFile();
}

void CUpdateDlg::OnBrowseButton()
{
    UpdateData(true);
    if (BrowseForFile())
        return;
    // The start name was refused: once more from the program's folder.
    m_run.SetFileName(m_programDir + "*.upd");
    BrowseForFile();
}

bool CUpdateDlg::BrowseForFile()
{
    const SInitialBrowseName start = InitialBrowseName(m_run.FileName(), m_programDir);
    m_run.SetFileName(start.fileName);
    if (!InitialFolderExists(start.initialName))
        return false;
    const std::optional<std::string> chosen = RunFileDialog(start.initialName);
    if (!chosen)
        return true;  // cancelled: nothing is checked
    OpenUpdateFile(*chosen);
    return true;
}

void CUpdateDlg::OpenUpdateFile(const std::string& fileName)
{
    m_run.SetFileName(fileName);
    UpdateData(false);
    CheckUpdateFile();
    m_run.CloseUpdateFile();
}

std::optional<std::string> CUpdateDlg::RunFileDialog(const std::string& initialName)
{
    const QString name = QString::fromLocal8Bit(initialName.c_str());
    const qsizetype slash = name.lastIndexOf(QLatin1Char('/'));
    const QString folder = slash < 0 ? QString() : name.left(slash == 0 ? 1 : slash);
    const QString leaf = name.mid(slash + 1);

    QFileDialog dialog(this);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(QString::fromLatin1(kDefaultSuffix));
    const QStringList filters = QString::fromStdString(ConvertFileFilter(res::LoadString(res::IDS_FILE_FILTER)))
                                    .split(QStringLiteral(";;"));
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(filters.value(0));
    if (!folder.isEmpty())
        dialog.setDirectory(folder);
    // A pattern lists the matching files through the filter; a name is
    // preselected.
    if (!leaf.isEmpty() && !leaf.contains(QLatin1Char('*')) && !leaf.contains(QLatin1Char('?')))
        dialog.selectFile(leaf);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst().toLocal8Bit().toStdString();
}

bool CUpdateDlg::ReadPortSetting()
{
    const std::optional<SPortSetting> setting =
        ReadPortSettingFile(PortSettingReadPath(m_programDir, UserConfigDirectory()));
    if (!setting)
        return false;
    m_run.SetFileName(setting->fileName);
    m_portList->setCurrentIndex(setting->portIndex);
    UpdateData(false);
    return true;
}

void CUpdateDlg::WritePortSetting()
{
    // A folder that cannot be written only loses the setting.
    const std::string path = PortSettingWritePath(m_programDir, UserConfigDirectory());
    if (!path.empty())
        WritePortSettingFile(path, {m_run.FileName(), m_portList->currentIndex()});
}
