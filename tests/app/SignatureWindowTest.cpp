// The window with a trusted key: the file check refuses what the key's owner
// did not sign, and the file field's tool tip names the signature.

#include "MinisignTool.h"
#include "TestUpdateDlg.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>

using namespace devupdate;
using namespace devupdate::link;
using namespace devupdate::xsvf;
using namespace devupdate::res;
using namespace devupdate::update;
using namespace devupdate::mkupd;

namespace {

TEST(SignatureWindowTest, ChosenFileAndUpdateAreRefusedUnlessSignedByATrustedKey)
{
    CTempFolder folder;
    const SMinisignKeyPair maker = MakeMinisignKeys(folder.Path(), "maker");
    // The test environment's private configuration folder.
    const std::string trusted = std::string(std::getenv("XDG_CONFIG_HOME")) + "/update/trusted-keys";
    std::filesystem::create_directories(trusted);
    std::filesystem::copy_file(maker.publicKey, trusted + "/maker.pub");
    const std::string file = WriteTargetsFile(folder, "three.upd", 3);
    SignWithMinisign(maker, file, "release 9");

    CTestUpdateDlg dlg(folder.Path() + "/");
    dlg.show();
    dlg.OpenUpdateFile(file);
    EXPECT_EQ(RowCount(dlg), 3);
    EXPECT_TRUE(dlg.Messages().empty());
    const std::string tip = Edit(dlg, res::IDC_FILE_EDIT)->toolTip().toStdString();
    EXPECT_EQ(tip.rfind("signed by ", 0), 0u) << tip;
    EXPECT_EQ(tip.substr(tip.find(':')), ": release 9 (trusted)");

    // Changed after it was chosen: "Update" checks again before the port.
    std::ofstream(file, std::ios::binary | std::ios::app) << "\n";
    Button(dlg, res::IDC_UPDATE)->click();
    const std::string refusal = "Error: " + file + " is not signed by a trusted key.\n"
                                "The file was changed after it was signed.";
    ASSERT_EQ(dlg.Messages(), std::vector<std::string>{refusal});
    EXPECT_EQ(RowCount(dlg), 0);
    EXPECT_EQ(Edit(dlg, res::IDC_FILE_EDIT)->toolTip().toStdString(),
              "not signed: The file was changed after it was signed.");
    EXPECT_FALSE(dlg.Run().State().m_comPort.IsOpen());
    std::filesystem::remove_all(trusted);
}

}  // namespace
