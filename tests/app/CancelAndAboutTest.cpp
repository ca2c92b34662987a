// Cancel, the warning window, the end of a run as the run timer sees it, and
// the About box. The run is staged through the shared run state, without a
// worker, so every step is decided by the test.

#include "AboutDlg.h"
#include "StringTable.h"
#include "TestUpdateDlg.h"

#include <QLabel>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

using namespace devupdate;
using namespace devupdate::link;
using namespace devupdate::xsvf;
using namespace devupdate::res;
using namespace devupdate::update;
using namespace devupdate::mkupd;

namespace {

class StagedRunTest : public ::testing::Test {
protected:
    // A checked file with `targets` targets and the window set for a run.
    CTestUpdateDlg& StartRun(int targets)
    {
        const std::string file = WriteTargetsFile(m_folder, "run.upd", targets);
        WriteSettingFile(m_folder, file + "\nPort=0\n");
        m_dlg = std::make_unique<CTestUpdateDlg>(m_folder.Path() + "/");
        m_dlg->show();
        m_dlg->Run().State().ResetRunResults();
        m_dlg->UpdateData(false);
        m_dlg->SetRunControls(false);
        m_dlg->Run().State().m_runState = RunActive;
        return *m_dlg;
    }
    void TearDown() override
    {
        if (m_dlg && m_dlg->Run().State().m_runState != RunIdle) {
            m_dlg->Run().State().m_runState = RunEnded;
            m_dlg->OnTimer();
        }
    }

    CTempFolder m_folder;
    std::unique_ptr<CTestUpdateDlg> m_dlg;
};

QPushButton* WarningButton(CWarningDlg& warning, int id)
{
    return warning.findChild<QPushButton*>(QStringLiteral("ctl%1").arg(id));
}

bool IdleControls(const CUpdateDlg& dlg)
{
    return !dlg.ControlsLocked() && !Button(dlg, res::IDC_CANCEL_RUN)->isEnabled() &&
           Button(dlg, res::IDC_UPDATE)->isEnabled() && Button(dlg, res::IDC_EXIT)->isEnabled() &&
           PortList(dlg)->isEnabled() && Edit(dlg, res::IDC_FILE_EDIT)->isEnabled();
}

TEST_F(StagedRunTest, RunLocksEverythingButCancelAndRefusesClosing)
{
    CTestUpdateDlg& dlg = StartRun(1);
    EXPECT_TRUE(Button(dlg, res::IDC_CANCEL_RUN)->isEnabled());
    for (int id : {res::IDC_UPDATE, res::IDC_BROWSE, res::IDC_OPEN, res::IDC_EXIT, res::IDC_PORT_LIST,
                   res::IDC_FILE_EDIT})
        EXPECT_FALSE(dlg.Control(id)->isEnabled()) << id;
    EXPECT_EQ(dlg.focusWidget(), Button(dlg, res::IDC_CANCEL_RUN));
    dlg.close();
    QTest::keyClick(&dlg, Qt::Key_Escape);
    dlg.done(QDialog::Accepted);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(MessageLine(dlg), "Connect device, switch device off then on");
}

TEST_F(StagedRunTest, CancelBeforeTheDeviceAnsweredActsAtOnce)
{
    CTestUpdateDlg& dlg = StartRun(2);
    Button(dlg, res::IDC_CANCEL_RUN)->click();
    EXPECT_EQ(dlg.Run().State().m_cancelRequested, 1);
    EXPECT_EQ(dlg.WarningDlg(), nullptr);
    dlg.Run().State().m_runState = RunEnded;  // the worker noticed the request
    dlg.OnTimer();
    EXPECT_TRUE(dlg.Messages().empty());
    EXPECT_EQ(MessageLine(dlg), "Connect device, switch device off then on");
    EXPECT_TRUE(IdleControls(dlg));
    EXPECT_EQ(dlg.Run().State().m_runState, RunIdle);
    EXPECT_FALSE(dlg.IsRunTimerActive());
}

TEST_F(StagedRunTest, CancelAfterTheDeviceAnsweredAsksFirst)
{
    CTestUpdateDlg& dlg = StartRun(2);
    dlg.Run().State().m_deviceAnswered = 1;
    Button(dlg, res::IDC_CANCEL_RUN)->click();
    CWarningDlg* warning = dlg.WarningDlg();
    ASSERT_NE(warning, nullptr);
    EXPECT_TRUE(warning->isVisible());
    EXPECT_EQ(warning->windowTitle().toStdString(), "Warning");
    EXPECT_TRUE(WarningButton(*warning, res::IDC_YES)->isDefault());
    EXPECT_FALSE(WarningButton(*warning, res::IDC_NO)->isDefault());
    const auto* text = warning->findChild<QLabel*>(QStringLiteral("ctl%1").arg(res::IDC_WARNING_TEXT));
    EXPECT_EQ(text->text().toStdString(), res::LoadString(res::IDS_CANCEL_WARNING));
    EXPECT_FALSE(Button(dlg, res::IDC_CANCEL_RUN)->isEnabled());
    EXPECT_EQ(dlg.Run().State().m_cancelRequested, 0);
    // A second press while the warning is open does nothing.
    dlg.OnCancelButton();
    EXPECT_EQ(dlg.WarningDlg(), warning);
}

// "No", the close box and Escape all leave the run going.
class WarningDismissTest : public StagedRunTest, public ::testing::WithParamInterface<int> {};

TEST_P(WarningDismissTest, RunGoesOn)
{
    CTestUpdateDlg& dlg = StartRun(2);
    dlg.Run().State().m_deviceAnswered = 1;
    dlg.OnCancelButton();
    QPointer<CWarningDlg> warning = dlg.WarningDlg();
    ASSERT_TRUE(warning);
    switch (GetParam()) {
    case 0:
        WarningButton(*warning, res::IDC_NO)->click();
        break;
    case 1:
        warning->close();
        break;
    default:
        QTest::keyClick(warning, Qt::Key_Escape);
        break;
    }
    EXPECT_EQ(dlg.WarningDlg(), nullptr);
    EXPECT_EQ(dlg.Run().State().m_cancelRequested, 0);
    EXPECT_TRUE(Button(dlg, res::IDC_CANCEL_RUN)->isEnabled());
    EXPECT_TRUE(QTest::qWaitFor([&] { return warning.isNull(); }, 2000)) << "the warning deletes itself";
}

std::string DismissName(const ::testing::TestParamInfo<int>& info)
{
    static const char* const names[] = {"NoButton", "CloseBox", "EscapeKey"};
    return names[info.param];
}

INSTANTIATE_TEST_SUITE_P(Ways, WarningDismissTest, ::testing::Values(0, 1, 2), DismissName);

TEST_F(StagedRunTest, YesMarksCurrentAndLaterTargetsCancelled)
{
    CTestUpdateDlg& dlg = StartRun(3);
    dlg.Run().State().m_deviceAnswered = 1;
    dlg.Run().State().m_targetResult[0].percent = 100;
    dlg.Run().State().SetTargetStatus(0, "ok");
    dlg.Run().State().m_targetResult[1].percent = 40;
    dlg.Run().State().m_currentTarget = 1;
    dlg.OnCancelButton();
    ASSERT_NE(dlg.WarningDlg(), nullptr);
    WarningButton(*dlg.WarningDlg(), res::IDC_YES)->click();
    EXPECT_EQ(dlg.WarningDlg(), nullptr);
    EXPECT_EQ(dlg.Run().State().m_cancelRequested, 1);
    // The worker, at its next check point, ends the run on the cancel.
    dlg.Run().State().EndByCancel();
    dlg.Run().State().m_runState = RunEnded;
    dlg.OnTimer();
    EXPECT_TRUE(dlg.Messages().empty());
    EXPECT_EQ(MessageLine(dlg), "Update cancelled by user");
    EXPECT_EQ(dlg.StatusLabel(0)->text().toStdString(), "100% ok");
    EXPECT_EQ(dlg.StatusLabel(1)->text().toStdString(), "40% cancelled");
    EXPECT_EQ(dlg.StatusLabel(2)->text().toStdString(), "0% cancelled");
    EXPECT_TRUE(IdleControls(dlg));
}

TEST_F(StagedRunTest, EnterInTheWarningConfirms)
{
    CTestUpdateDlg& dlg = StartRun(1);
    dlg.Run().State().m_deviceAnswered = 1;
    dlg.OnCancelButton();
    ASSERT_NE(dlg.WarningDlg(), nullptr);
    const std::string before = dlg.Run().State().Message();
    QTest::keyClick(dlg.WarningDlg(), Qt::Key_Return);
    EXPECT_EQ(dlg.Run().State().m_cancelRequested, 1);
    EXPECT_EQ(dlg.Run().State().m_cancelConfirmed, 1);
    // The texts are the worker's to write, once it really ends on the cancel.
    EXPECT_EQ(dlg.Run().State().Message(), before);
}

TEST_F(StagedRunTest, RunEndingWhileTheWarningIsOpenClosesIt)
{
    CTestUpdateDlg& dlg = StartRun(1);
    dlg.Run().State().m_deviceAnswered = 1;
    dlg.OnCancelButton();
    ASSERT_NE(dlg.WarningDlg(), nullptr);
    dlg.Run().State().m_runState = RunEnded;
    dlg.OnTimer();
    EXPECT_EQ(dlg.WarningDlg(), nullptr);
    EXPECT_TRUE(IdleControls(dlg)) << "Cancel stays disabled once the run is over";
    EXPECT_EQ(dlg.Run().State().m_cancelRequested, 0);
}

// The worker ended with its message; the warning's "Yes" comes before the
// timer has seen the end, and changes nothing of the ending.
TEST_F(StagedRunTest, EndWithMessageShowsOneBoxAndALateYesChangesNothing)
{
    CTestUpdateDlg& dlg = StartRun(1);
    dlg.Run().State().m_deviceAnswered = 1;
    dlg.OnCancelButton();
    dlg.Run().State().SetMessage("1 of 1 targets updated successfully.");
    dlg.Run().State().m_targetResult[0].percent = 100;
    dlg.Run().State().m_runState = RunEndedWithMessage;
    ASSERT_NE(dlg.WarningDlg(), nullptr);
    WarningButton(*dlg.WarningDlg(), res::IDC_YES)->click();
    bool timerStopped = false;
    bool warningClosed = false;
    std::string lineDuringBox;
    dlg.m_onMessageBox = [&](const std::string&) {
        timerStopped = !dlg.IsRunTimerActive();
        warningClosed = dlg.WarningDlg() == nullptr;
        lineDuringBox = MessageLine(dlg);
    };
    dlg.OnTimer();
    ASSERT_EQ(dlg.Messages().size(), 1u);
    EXPECT_EQ(dlg.Messages()[0], "1 of 1 targets updated successfully.");
    EXPECT_TRUE(timerStopped);
    EXPECT_TRUE(warningClosed);
    EXPECT_EQ(lineDuringBox, "1 of 1 targets updated successfully.");
    EXPECT_EQ(dlg.StatusLabel(0)->text().toStdString(), "100% ");
    EXPECT_TRUE(IdleControls(dlg));
    EXPECT_EQ(dlg.Run().State().m_runState, RunIdle);
}

TEST_F(StagedRunTest, TimerRefreshesOnlyWhenAsked)
{
    CTestUpdateDlg& dlg = StartRun(1);
    dlg.Run().State().SetMessage("running update");
    dlg.Run().State().m_targetResult[0].percent = 50;
    dlg.OnTimer();
    EXPECT_EQ(MessageLine(dlg), "Connect device, switch device off then on");
    dlg.Run().State().m_refreshPending = 1;
    dlg.OnTimer();
    EXPECT_EQ(MessageLine(dlg), "running update");
    EXPECT_EQ(dlg.ProgressBar(0)->value(), 50);
    EXPECT_EQ(dlg.Run().State().m_refreshPending, 0);
}

// ---- About box ---------------------------------------------------------------

TEST(AboutBox, ShowsVersionIconAndOk)
{
    CAboutDlg about(nullptr);
    EXPECT_EQ(about.windowTitle().toStdString(), "Info about Update");
    const auto* version = about.findChild<QLabel*>(QStringLiteral("ctl%1").arg(res::IDC_VERSION_TEXT));
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version->text().toStdString(), "Update Version V1.5");
    auto* ok = about.findChild<QPushButton*>(QStringLiteral("ctl%1").arg(res::IDOK));
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->text().toStdString(), "OK");
    EXPECT_TRUE(ok->isDefault());
    int icons = 0;
    for (const QLabel* label : about.findChildren<QLabel*>())
        icons += label->pixmap().isNull() ? 0 : 1;
    EXPECT_EQ(icons, 1);
    about.show();
    ok->click();
    EXPECT_EQ(about.result(), QDialog::Accepted);
    EXPECT_FALSE(about.isVisible());
}

TEST_F(StagedRunTest, AboutBoxOpensModallyDuringARun)
{
    CTestUpdateDlg& dlg = StartRun(1);
    std::string seenTitle;
    QTimer::singleShot(0, [&] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            seenTitle = modal->windowTitle().toStdString();
            if (auto* about = qobject_cast<QDialog*>(modal))
                about->accept();
        }
    });
    dlg.OnSysCommand(CUpdateDlg::ID_SYSMENU_INFO);
    EXPECT_EQ(seenTitle, "Info about Update");
    EXPECT_TRUE(dlg.ControlsLocked());
}

}  // namespace
