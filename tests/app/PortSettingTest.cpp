// The setting file "update.cfg": what a read makes of it, and the atomic write.

#include "PortSetting.h"
#include "UpdateFileFixture.h"
#include "Unprivileged.h"

#include <gtest/gtest.h>

#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace devupdate::update;
using namespace devupdate::mkupd;

namespace {

struct SParseCase {
    const char* label;
    std::string text;
    bool valid;
    std::string fileName;
    int portIndex;
};

class PortSettingParse : public ::testing::TestWithParam<SParseCase> {};

TEST_P(PortSettingParse, ReadsFileAndPortOrRefuses)
{
    const SParseCase& c = GetParam();
    std::istringstream in(c.text);
    const std::optional<SPortSetting> setting = ParsePortSetting(in);
    ASSERT_EQ(setting.has_value(), c.valid);
    if (c.valid) {
        EXPECT_EQ(setting->fileName, c.fileName);
        EXPECT_EQ(setting->portIndex, c.portIndex);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, PortSettingParse,
    ::testing::Values(
        SParseCase{"Plain", "/fw/dev.upd\nPort=2\n", true, "/fw/dev.upd", 2},
        SParseCase{"CrLf", "/fw/dev.upd\r\nPort=2\r\n", true, "/fw/dev.upd", 2},
        SParseCase{"LastIndexIsCom10", "a\nPort=9\n", true, "a", 9},
        SParseCase{"OnlyFirstDigitCounts", "a\nPort=12\n", true, "a", 1},
        SParseCase{"KeyAnywhereInLine", "a\nspeed 5 Port=3\n", true, "a", 3},
        SParseCase{"NoLineEndAfterPort", "a\nPort=4", true, "a", 4},
        SParseCase{"EmptyFileNameKeepsPort", "\nPort=5\n", true, "", 5},
        SParseCase{"LinesAfterSecondIgnored", "a\nPort=1\nPort=7\n", true, "a", 1},
        SParseCase{"LongFileName", std::string(700, 'x') + "\nPort=0\n", true, std::string(700, 'x'), 0},
        SParseCase{"KeyWithoutDigit", "a\nPort=\n", false, "", 0},
        SParseCase{"KeyWithLetter", "a\nPort=x\n", false, "", 0},
        SParseCase{"LowerCaseKey", "a\nport=3\n", false, "", 0},
        SParseCase{"NoSecondLine", "a\n", false, "", 0},
        SParseCase{"NoLineEndAtAll", "a", false, "", 0},
        SParseCase{"Empty", "", false, "", 0}),
    [](const ::testing::TestParamInfo<SParseCase>& info) { return std::string(info.param.label); });

TEST(PortSettingFile, MissingFileReadsAsNoSetting)
{
    CTempFolder folder;
    EXPECT_FALSE(ReadPortSettingFile(folder.Path() + "/update.cfg").has_value());
}

TEST(PortSettingFile, WriteReplacesTheFileAndReadsBack)
{
    CTempFolder folder;
    const std::string path = folder.Write("update.cfg", "old\nPort=7\n");
    ASSERT_TRUE(WritePortSettingFile(path, {"/fw/dev.upd", 2}));
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "/fw/dev.upd\nPort=2\n");
    // Only the setting file remains: the temporary one was renamed over it.
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder.Path()))
        ++entries;
    EXPECT_EQ(entries, 1);
}

TEST(PortSettingFile, UnwritableFolderKeepsTheOldFile)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only folders";
    CTempFolder folder;
    const std::string path = folder.Write("update.cfg", "old\nPort=7\n");
    ASSERT_EQ(chmod(folder.Path().c_str(), 0555), 0);
    EXPECT_FALSE(WritePortSettingFile(path, {"new", 1}));
    ASSERT_EQ(chmod(folder.Path().c_str(), 0755), 0);
    const std::optional<SPortSetting> kept = ReadPortSettingFile(path);
    ASSERT_TRUE(kept.has_value());
    EXPECT_EQ(kept->fileName, "old");
}

// Beside the program wins when the file is there (portable use); the user's
// folder is the fallback for reading, and for writing when the program's
// folder is not writable (installed in /usr/bin).
TEST(PortSettingLocation, ReadsBesideTheProgramFirstThenTheUsersFolder)
{
    const struct {
        bool beside;
        bool user;
        std::optional<int> port;
    } cases[] = {{true, true, 1}, {true, false, 1}, {false, true, 2}, {false, false, std::nullopt}};
    for (const auto& c : cases) {
        CTempFolder program;
        CTempFolder user;
        if (c.beside)
            program.Write("update.cfg", "a.upd\nPort=1\n");
        if (c.user)
            user.Write("update.cfg", "b.upd\nPort=2\n");
        const std::optional<SPortSetting> setting =
            ReadPortSettingFile(PortSettingReadPath(program.Path() + "/", user.Path() + "/"));
        EXPECT_EQ(setting ? std::optional<int>(setting->portIndex) : std::nullopt, c.port)
            << "beside " << c.beside << ", user " << c.user;
    }
}

TEST(PortSettingLocation, WritesBesideAWritableProgramElseInAPrivateUserFolder)
{
    CTempFolder program;
    CTempFolder home;
    const std::string userDir = home.Path() + "/config/update/";
    ASSERT_EQ(PortSettingWritePath(program.Path() + "/", userDir), program.Path() + "/update.cfg");

    // An installed program's folder: not writable for the user.
    ASSERT_EQ(chmod(program.Path().c_str(), 0555), 0);
    ASSERT_EQ(chmod(home.Path().c_str(), 0777), 0);
    const std::optional<std::string> seen = RunUnprivileged([&]() {
        const std::string path = PortSettingWritePath(program.Path() + "/", userDir);
        return path + "|" + (WritePortSettingFile(path, {"/fw/dev.upd", 3}) ? "written" : "failed");
    });
    ASSERT_EQ(chmod(program.Path().c_str(), 0755), 0);
    ASSERT_TRUE(seen) << "could not run as an ordinary user";
    EXPECT_EQ(*seen, userDir + "update.cfg|written");
    struct stat folder {};
    ASSERT_EQ(stat(userDir.c_str(), &folder), 0);
    EXPECT_EQ(folder.st_mode & 0777, 0700u);
    const std::optional<SPortSetting> setting = ReadPortSettingFile(PortSettingReadPath(program.Path() + "/", userDir));
    ASSERT_TRUE(setting);
    EXPECT_EQ(setting->portIndex, 3);
}

// An installed program keeps update.cfg in the user's folder alone, also
// when its own folder holds one and may be written (root): one user's
// setting never becomes another's.
TEST(PortSettingLocation, AnInstalledProgramUsesTheUsersFolderAlone)
{
    CTempFolder program;
    CTempFolder user;
    program.Write("update.cfg", "root.upd\nPort=5\n");
    const std::string programDir = program.Path() + "/";
    const std::string userDir = user.Path() + "/update/";
    const std::string link = user.Path() + "/bin";
    ASSERT_EQ(symlink(program.Path().c_str(), link.c_str()), 0);
    EXPECT_FALSE(IsPortableProgram(programDir, link));
    EXPECT_TRUE(IsPortableProgram(programDir, user.Path()));

    EXPECT_EQ(PortSettingReadPath(programDir, userDir, false), userDir + "update.cfg");
    EXPECT_FALSE(ReadPortSettingFile(PortSettingReadPath(programDir, userDir, false)));
    EXPECT_EQ(PortSettingWritePath(programDir, userDir, false), userDir + "update.cfg");
    EXPECT_EQ(PortSettingWritePath(programDir, userDir, true), programDir + "update.cfg");
}

// update.cfg is an output like the others: it never replaces a FIFO or the
// update file it names.
TEST(PortSettingFile, NeverReplacesAFifoOrTheUpdateFile)
{
    CTempFolder folder;
    const std::string fifo = folder.Path() + "/update.cfg";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    EXPECT_FALSE(WritePortSettingFile(fifo, {"a.upd", 1}));
    struct stat info {};
    ASSERT_EQ(lstat(fifo.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));

    const std::string update = folder.Write("board.upd", "firmware");
    EXPECT_FALSE(WritePortSettingFile(update, {update, 1}));
    EXPECT_EQ(ReadPortSettingFile(update), std::nullopt);
}

TEST(PortSettingFile, MissingFolderFailsQuietly)
{
    EXPECT_FALSE(WritePortSettingFile("/nonexistent-folder-for-test/update.cfg", {"x", 0}));
}

}  // namespace
