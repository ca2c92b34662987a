// Pictures of the windows for a quick look at the layout: PNG files in the
// build folder's screenshots/ (idle window, a staged run with three targets,
// the cancel warning, the About box). The README's pictures come from real
// runs instead (scripts/screenshots.sh).

#include "AboutDlg.h"
#include "TestUpdateDlg.h"

#include <QPixmap>

#include <gtest/gtest.h>

#include <filesystem>

using namespace devupdate;
using namespace devupdate::link;
using namespace devupdate::xsvf;
using namespace devupdate::res;
using namespace devupdate::update;
using namespace devupdate::mkupd;

namespace {

std::string ShotPath(const char* name)
{
    const std::string folder = std::string(UPDATE_SCREENSHOT_DIR);
    std::filesystem::create_directories(folder);
    return folder + "/" + name;
}

void Save(QWidget& window, const char* name)
{
    window.show();
    QApplication::processEvents();
    const QPixmap shot = window.grab();
    ASSERT_FALSE(shot.isNull());
    EXPECT_TRUE(shot.save(QString::fromStdString(ShotPath(name)), "PNG")) << name;
}

TEST(Screenshots, WindowsAsTheUserSeesThem)
{
    CTempFolder folder;
    CTestUpdateDlg idle(folder.Path() + "/");
    Save(idle, "update-idle.png");

    mkupd::SUpdateFile file;
    const char* const names[] = {"Main controller firmware", "Power board firmware", "I/O logic (CPLD)"};
    for (unsigned i = 0; i < 3; ++i) {
        mkupd::SUpdateTarget target;
        target.number = i + 1;
        target.name = names[i];
        target.data = mkupd::MakeFirmwareBlocks(std::vector<uint8_t>(40, 0x55), 20, false);
        file.targets.push_back(target);
    }
    const std::string path = folder.Write("device.upd", mkupd::WriteUpdateFile(file));
    WriteSettingFile(folder, path + "\nPort=0\n");
    CTestUpdateDlg running(folder.Path() + "/");
    running.show();
    running.Run().State().ResetRunResults();
    running.SetRunControls(false);
    running.Run().State().m_runState = RunActive;
    running.Run().State().m_targetResult[0].percent = 100;
    running.Run().State().SetTargetStatus(0, "ok");
    running.Run().State().m_targetResult[1].percent = 62;
    running.Run().State().m_currentTarget = 1;
    running.Run().State().SetMessage("running update");
    running.UpdateData(false);
    Save(running, "update-run-three-targets.png");

    running.Run().State().m_deviceAnswered = 1;
    running.OnCancelButton();
    ASSERT_NE(running.WarningDlg(), nullptr);
    Save(*running.WarningDlg(), "update-cancel-warning.png");
    running.CloseWarning();

    CAboutDlg about(&running);
    Save(about, "update-about.png");

    running.Run().State().m_runState = RunEnded;
    running.OnTimer();
}

}  // namespace
