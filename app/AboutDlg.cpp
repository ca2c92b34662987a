#include "AboutDlg.h"

#include "DialogBuilder.h"
#include "StringTable.h"

#include <QLabel>
#include <QPushButton>

using namespace devupdate;
using namespace devupdate::res;

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent)
{
    const auto controls = BuildDialog(*this, RequireDialogTemplate(res::IDD_ABOUTBOX));
    connect(static_cast<QPushButton*>(controls.at(res::IDOK)), &QPushButton::clicked, this,
            &QDialog::accept);
    setWindowIcon(ProgramIcon());
    OnInitDialog();
}

bool CAboutDlg::OnInitDialog()
{
    if (auto* version = findChild<QLabel*>(QStringLiteral("ctl%1").arg(res::IDC_VERSION_TEXT)))
        version->setText(version->text() + QStringLiteral(" ") + QString::fromUtf8(res::PROGRAM_VERSION));
    return true;
}
