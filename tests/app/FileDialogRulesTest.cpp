// The start name of the file dialog and the filter conversion.

#include "FileDialogRules.h"
#include "StringTable.h"
#include "UpdateFileFixture.h"

#include <gtest/gtest.h>

using namespace devupdate;
using namespace devupdate::res;
using namespace devupdate::update;
using namespace devupdate::mkupd;

namespace {

struct SStartCase {
    const char* label;
    std::string fileName;
    std::string initialName;
    std::string newFileName;
};

class InitialBrowseNameTest : public ::testing::TestWithParam<SStartCase> {};

TEST_P(InitialBrowseNameTest, StartNameAndRewrite)
{
    const SStartCase& c = GetParam();
    const SInitialBrowseName start = InitialBrowseName(c.fileName, "/opt/tool/");
    EXPECT_EQ(start.initialName, c.initialName);
    EXPECT_EQ(start.fileName, c.newFileName);
}

INSTANTIATE_TEST_SUITE_P(
    Names, InitialBrowseNameTest,
    ::testing::Values(SStartCase{"EmptyStartsInProgramFolder", "", "/opt/tool/*.upd", ""},
                      SStartCase{"FolderGetsPattern", "/fw/", "/fw/*.upd", "/fw/*.upd"},
                      SStartCase{"AllTrailingSlashesGo", "/fw///", "/fw/*.upd", "/fw/*.upd"},
                      SStartCase{"RootFolder", "/", "/*.upd", "/*.upd"},
                      SStartCase{"FileNameUnchanged", "/fw/dev.upd", "/fw/dev.upd", "/fw/dev.upd"},
                      SStartCase{"BareName", "dev.upd", "dev.upd", "dev.upd"}),
    [](const ::testing::TestParamInfo<SStartCase>& info) { return std::string(info.param.label); });

TEST(FileFilter, ResourceTextBecomesQtFilterList)
{
    EXPECT_EQ(ConvertFileFilter(res::LoadString(res::IDS_FILE_FILTER)),
              "Updatefiles (*.upd);;all files (*.*)");
}

TEST(FileFilter, StopsAtTheEmptyPairAndToleratesMissingEnd)
{
    EXPECT_EQ(ConvertFileFilter("a (*.a)|*.a||b (*.b)|*.b||"), "a (*.a)");
    EXPECT_EQ(ConvertFileFilter("a (*.a)|*.a"), "a (*.a)");
    EXPECT_EQ(ConvertFileFilter(""), "");
}

TEST(InitialFolder, ExistsOnlyForAnExistingDirectory)
{
    CTempFolder folder;
    const std::string file = folder.Write("plain.upd", "x");
    EXPECT_TRUE(InitialFolderExists(folder.Path() + "/*.upd"));
    EXPECT_TRUE(InitialFolderExists("/*.upd"));
    EXPECT_TRUE(InitialFolderExists("dev.upd"));
    EXPECT_FALSE(InitialFolderExists(folder.Path() + "/missing/*.upd"));
    EXPECT_FALSE(InitialFolderExists(file + "/x.upd"));
}

}  // namespace
