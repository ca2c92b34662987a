#include "StringTable.h"
#include "UpdateFileFixture.h"
#include "UpdateRunState.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace devupdate::link;
using namespace devupdate::xsvf;
using namespace devupdate::res;
using namespace devupdate::update;
using namespace devupdate::mkupd;

namespace {

class UpdateFileCheckTest : public ::testing::Test {
protected:
    CUpdateRunState::SCheckResult Check(const std::string& contents)
    {
        m_run.m_fileName = m_folder.Write("file.upd", contents);
        return m_run.CheckUpdateFileHeader();
    }

    std::string WrongFormat() const
    {
        return "Error: wrong Fileformat in " + m_run.m_fileName + ".\n";
    }

    std::string WrongVersion(const std::string& token) const
    {
        return "Error: " + token + " is wrong version of update file\n" + m_run.m_fileName +
               ".\nExpected version V1.00 V1.01  !";
    }

    CTempFolder m_folder;
    CUpdateRunState m_run;
};

TEST_F(UpdateFileCheckTest, AcceptsTheWorkedHeaderAndKeepsTheFileAtTheBody)
{
    const auto result = Check("Firmwareupdate-Fileformat-V1.01\n02\n01 Controller\n02 Logic\n01");
    ASSERT_TRUE(result.ok) << result.message;
    EXPECT_EQ(m_run.m_fileVersion, EFileVersion::V1_01);
    EXPECT_EQ(m_run.m_targetCount, 2u);
    EXPECT_EQ(m_run.m_targetName[0], " Controller\n");
    EXPECT_EQ(m_run.m_targetName[1], " Logic\n");
    ASSERT_NE(m_run.m_updateFile, nullptr);
    EXPECT_EQ(std::fgetc(m_run.m_updateFile), '0');
}

TEST_F(UpdateFileCheckTest, MarkerMayFollowAnyTextAndABlank)
{
    ASSERT_TRUE(Check("Firmwareupdate-Fileformat- V1.01\n00\n").ok);
    EXPECT_EQ(m_run.m_fileVersion, EFileVersion::V1_01);
    ASSERT_TRUE(Check("my device Firmwareupdate-Fileformat-V1.00\r\n01\r\n01 Main board\r\n").ok);
    EXPECT_EQ(m_run.m_fileVersion, EFileVersion::V1_00);
    EXPECT_EQ(m_run.m_targetName[0], " Main board\r\n");
}

TEST_F(UpdateFileCheckTest, CountZeroPassesWithNoTargets)
{
    ASSERT_TRUE(Check("Firmwareupdate-Fileformat-V1.01\n00\n00\n").ok);
    EXPECT_EQ(m_run.m_targetCount, 0u);
}

TEST_F(UpdateFileCheckTest, NoFileName)
{
    m_run.m_fileName.clear();
    const auto result = m_run.CheckUpdateFileHeader();
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.message, "No file selected, select file !");
}

TEST_F(UpdateFileCheckTest, MissingFile)
{
    m_run.m_fileName = m_folder.Path() + "/none.upd";
    const auto result = m_run.CheckUpdateFileHeader();
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.message, "Error: File '" + m_run.m_fileName + "' not found.\n");
    EXPECT_EQ(m_run.m_updateFile, nullptr);
}

struct SBadHeader {
    const char* name;
    const char* contents;
};

class WrongFormatTest : public UpdateFileCheckTest, public ::testing::WithParamInterface<SBadHeader> {};

TEST_P(WrongFormatTest, RefusedWithWrongFormatAndNoTargets)
{
    m_run.m_targetCount = 5;
    const auto result = Check(GetParam().contents);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.message, WrongFormat());
    EXPECT_EQ(m_run.m_targetCount, 0u);
    EXPECT_EQ(m_run.m_updateFile, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, WrongFormatTest,
    ::testing::Values(SBadHeader{"EmptyFile", ""}, SBadHeader{"NoMarker", "Firmware-V1.01\n01\n01 A\n"},
                      SBadHeader{"MarkerCaseDiffers", "firmwareupdate-Fileformat-V1.01\n00\n"},
                      SBadHeader{"MarkerPastColumn79",
                                 "0123456789012345678901234567890123456789012345678901234567890123456789"
                                 "0123456789Firmwareupdate-Fileformat-V1.01\n00\n"},
                      SBadHeader{"NoCount", "Firmwareupdate-Fileformat-V1.01\n"},
                      SBadHeader{"CountNotHex", "Firmwareupdate-Fileformat-V1.01\nxx\n"},
                      SBadHeader{"CountWithSign", "Firmwareupdate-Fileformat-V1.01\n+2\n"},
                      SBadHeader{"CountAboveTen", "Firmwareupdate-Fileformat-V1.01\n0B\n"},
                      SBadHeader{"TargetLineMissing", "Firmwareupdate-Fileformat-V1.01\n02\n01 A\n"},
                      SBadHeader{"TargetDigitsMissing", "Firmwareupdate-Fileformat-V1.01\n01\nMain board\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpdateFileCheckTest, TenTargetsAreTheMost)
{
    std::string header = "Firmwareupdate-Fileformat-V1.01\n0A\n";
    for (int i = 1; i <= 10; ++i)
        header += "01 T\n";
    EXPECT_TRUE(Check(header).ok);
    EXPECT_EQ(m_run.m_targetCount, 10u);
}

struct SVersionCase {
    const char* name;
    const char* firstLine;
    const char* shownToken;
};

class WrongVersionTest : public UpdateFileCheckTest, public ::testing::WithParamInterface<SVersionCase> {};

TEST_P(WrongVersionTest, RefusedWithTheTokenAndTheAcceptedList)
{
    const auto result = Check(std::string(GetParam().firstLine) + "\n00\n");
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.message, WrongVersion(GetParam().shownToken));
    EXPECT_EQ(m_run.m_targetCount, 0u);
    EXPECT_EQ(m_run.m_updateFile, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Tokens, WrongVersionTest,
    ::testing::Values(SVersionCase{"LowerCase", "Firmwareupdate-Fileformat-v1.01", "v1.01"},
                      SVersionCase{"LastDigitMissing", "Firmwareupdate-Fileformat-V1.0", "V1.0"},
                      SVersionCase{"ProgramVersion", "Firmwareupdate-Fileformat-V1.5", "V1.5"},
                      SVersionCase{"NoToken", "Firmwareupdate-Fileformat-", ""},
                      SVersionCase{"TokenOf20Chars", "Firmwareupdate-Fileformat-V1.01xxxxxxxxxxxxxxx",
                                   "V1.01xxxxxxxxxxxxxx"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpdateFileCheckTest, NineteenCharacterTokenIsShownWhole)
{
    const auto result = Check("Firmwareupdate-Fileformat-V1.01xxxxxxxxxxxxxx\n00\n");
    EXPECT_EQ(result.message, WrongVersion("V1.01xxxxxxxxxxxxxx"));
}

TEST_F(UpdateFileCheckTest, ASecondCheckReopensTheFile)
{
    ASSERT_TRUE(Check("Firmwareupdate-Fileformat-V1.01\n01\n01 A\n00\n").ok);
    FILE* first = m_run.m_updateFile;
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(m_run.CheckUpdateFileHeader().ok);
    EXPECT_EQ(std::fgetc(m_run.m_updateFile), '0');
}

// A FIFO nobody writes is refused at once as not found: the window opens the
// update file on its own thread and must never wait in open.
TEST_F(UpdateFileCheckTest, FifoWithoutAWriterIsNotFoundAtOnce)
{
    m_run.m_fileName = m_folder.Path() + "/fifo.upd";
    ASSERT_EQ(mkfifo(m_run.m_fileName.c_str(), 0644), 0);
    const auto result = m_run.CheckUpdateFileHeader();
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.message, "Error: File '" + m_run.m_fileName + "' not found.\n");
    EXPECT_EQ(m_run.m_updateFile, nullptr);
}

}  // namespace
