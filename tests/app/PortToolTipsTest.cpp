// The port list's tool tips name where each entry leads, and follow a link
// that changed while the window was open once the user opens the list.

#include "PtyPair.h"
#include "TestUpdateDlg.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

using namespace devupdate::link;
using namespace devupdate::xsvf;
using namespace devupdate::res;
using namespace devupdate::update;
using namespace devupdate::mkupd;

namespace {

TEST(PortToolTipsTest, NameWhereTheEntryLeadsWhenTheListOpens)
{
    CTempFolder folder;  // the user's folder of this test
    setenv("XDG_CONFIG_HOME", folder.Path().c_str(), 1);
    const std::string link = folder.Path() + "/update/ports/com6";
    std::filesystem::create_directories(folder.Path() + "/update/ports");
    std::filesystem::create_symlink("/dev/no-such-tty", link);

    CTestUpdateDlg dlg(folder.Path() + "/");
    dlg.show();
    QComboBox* ports = PortList(dlg);
    EXPECT_EQ(ports->itemData(5, Qt::ToolTipRole).toString().toStdString(),
              link + " -> /dev/no-such-tty: nothing there");

    CPtyPair pty;
    std::filesystem::remove(link);
    std::filesystem::create_symlink(pty.SlavePath(), link);
    QTest::mouseClick(ports, Qt::LeftButton);  // opens the list
    EXPECT_EQ(ports->itemData(5, Qt::ToolTipRole).toString().toStdString(),
              pty.SlavePath() + "\nvia " + link + " -> " + pty.SlavePath());
    ports->hidePopup();
}

}  // namespace
