// CReplacementFile: the destination changes only on Commit, whole.

#include "ReplacementFile.h"
#include "UpdateFileFixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

using namespace devupdate::update;
using namespace devupdate::mkupd;

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

size_t FilesIn(const std::string& folder)
{
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder))
        ++count;
    return count;
}

TEST(ReplacementFile, DestinationChangesOnlyWhenCommitted)
{
    for (const bool commit : {false, true}) {
        CTempFolder folder;
        const std::string destination = folder.Write("out.txt", std::string("old\n"));
        std::string error;
        {
            CReplacementFile file(destination);
            ASSERT_TRUE(file.Open(error)) << error;
            ASSERT_TRUE(file.Write("new", 3, error)) << error;
            ASSERT_TRUE(file.Write("\n", 1, error)) << error;
            EXPECT_EQ(ReadFile(destination), "old\n");
            if (commit) {
                EXPECT_TRUE(file.Commit(error)) << error;
            }
        }
        EXPECT_EQ(ReadFile(destination), commit ? "new\n" : "old\n");
        EXPECT_EQ(FilesIn(folder.Path()), 1u) << "the temporary file stays behind";
    }
}

TEST(ReplacementFile, FolderThatDoesNotExistIsAnErrorNamingTheOperation)
{
    CTempFolder folder;
    CReplacementFile file(folder.Path() + "/missing/out.txt");
    std::string error;
    EXPECT_FALSE(file.Open(error));
    EXPECT_NE(error.find("mkstemp " + folder.Path() + "/missing/out.txt"), std::string::npos) << error;
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
    EXPECT_FALSE(file.Commit(error));
}

}  // namespace
