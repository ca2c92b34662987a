#include "WarningDlg.h"

#include "DialogBuilder.h"
#include "UpdateDlg.h"

#include <QLabel>
#include <QPushButton>

using namespace devupdate;
using namespace devupdate::link;
using namespace devupdate::xsvf;
using namespace devupdate::res;
using namespace devupdate::update;

CWarningDlg::CWarningDlg(const std::string& text, CUpdateDlg& owner)
    : QDialog(&owner), m_text(text.substr(0, MAX_TEXT)), m_owner(owner)
{
}

void CWarningDlg::Create()
{
    const auto controls = BuildDialog(*this, RequireDialogTemplate(res::IDD_WARNING));
    connect(static_cast<QPushButton*>(controls.at(res::IDC_YES)), &QPushButton::clicked, this,
            [this] { OnYes(); });
    connect(static_cast<QPushButton*>(controls.at(res::IDC_NO)), &QPushButton::clicked, this,
            [this] { OnNo(); });
    OnInitDialog();
    show();
}

bool CWarningDlg::OnInitDialog()
{
    if (auto* text = findChild<QLabel*>(QStringLiteral("ctl%1").arg(res::IDC_WARNING_TEXT)))
        text->setText(QString::fromLocal8Bit(m_text.c_str()));
    return true;
}

void CWarningDlg::reject()
{
    OnNo();
}

void CWarningDlg::OnYes()
{
    m_owner.ConfirmCancel();
    m_owner.CloseWarning();
}

void CWarningDlg::OnNo()
{
    m_owner.CloseWarning();
}
