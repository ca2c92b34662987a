// The trace file's line ends and dumps, and the texts of the result codes.
#include "TempDir.h"
#include "XsvfPlayer.h"
#include "XsvfTrace.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>
#include <memory>

using namespace devupdate::xsvf;

TEST(XsvfTraceFileTest, StoresEveryLineFeedAsCrLf)
{
    CTempDir dir;
    CXsvfTrace trace;
    ASSERT_TRUE(trace.Open(dir.Path() + "/t.txt"));
    trace.Write(0, "Start der Aufzeichnung\r\n\r\n");
    trace.Write(3, "   XRUNTEST = %ld\n", 1000L);
    trace.Write(2, "no line end");
    trace.Close();
    EXPECT_EQ("Start der Aufzeichnung\r\r\n\r\r\n   XRUNTEST = 1000\r\nno line end", dir.Read("t.txt"));
}

TEST(XsvfTraceFileTest, DumpsBuffersAsLowerCaseHexAndNothingForAbsent)
{
    auto buffer = std::make_unique<ShiftBuffer>();
    std::memset(buffer.get(), 0, sizeof *buffer);
    EXPECT_EQ("", DumpBuffer(nullptr));
    EXPECT_EQ("0x", DumpBuffer(buffer.get()));
    buffer->bytes[0] = 0x0A;
    buffer->bytes[1] = 0xFF;
    buffer->length = 2;
    EXPECT_EQ("0x0aff", DumpBuffer(buffer.get()));

    CTempDir dir;
    CXsvfTrace trace;
    ASSERT_TRUE(trace.Open(dir.Path() + "/t.txt"));
    trace.DumpLine(4, "    TDI          = ", buffer.get());
    trace.DumpLine(4, "    TDO Expected = ", nullptr);
    trace.Close();
    EXPECT_EQ("    TDI          = 0x0aff\r\n    TDO Expected = \r\n", dir.Read("t.txt"));
}

TEST(XsvfTraceFileTest, OpenTruncatesAnEarlierTrace)
{
    CTempDir dir;
    CXsvfTrace trace;
    ASSERT_TRUE(trace.Open(dir.Path() + "/t.txt"));
    trace.Write(0, "a long first trace\n");
    trace.Close();
    ASSERT_TRUE(trace.Open(dir.Path() + "/t.txt"));
    trace.Write(0, "b\n");
    trace.Close();
    EXPECT_EQ("b\r\n", dir.Read("t.txt"));
}

// Only a regular file of the trace's own name is written: a FIFO would hold
// the run in open(), a link would put the trace on another file.
TEST(XsvfTraceFileTest, OpenTakesNothingButARegularFile)
{
    CTempDir dir;
    ASSERT_EQ(mkfifo((dir.Path() + "/fifo").c_str(), 0644), 0);
    ASSERT_EQ(mkdir((dir.Path() + "/folder").c_str(), 0755), 0);
    std::ofstream(dir.Path() + "/kept.txt") << "kept";
    ASSERT_EQ(symlink("kept.txt", (dir.Path() + "/link").c_str()), 0);
    CXsvfTrace trace;
    for (const char* name : {"/fifo", "/folder", "/link", "/dev/null"}) {
        const std::string path = name[1] == 'd' ? name : dir.Path() + name;
        EXPECT_FALSE(trace.Open(path)) << path;
        EXPECT_FALSE(trace.IsOpen()) << path;
    }
    EXPECT_EQ("kept", dir.Read("kept.txt"));
}

struct SCodeTexts {
    int code;
    const char* status;
    const char* traceName;
};

class ResultTextTest : public ::testing::TestWithParam<SCodeTexts> {};

TEST_P(ResultTextTest, StatusTextAndTraceName)
{
    EXPECT_EQ(GetParam().status, XsvfErrorText(GetParam().code));
    EXPECT_EQ(GetParam().traceName, XsvfTraceName(GetParam().code));
}

INSTANTIATE_TEST_SUITE_P(
    Codes, ResultTextTest,
    ::testing::Values(
        SCodeTexts{0, "ok", "No error"},
        SCodeTexts{1, "unknown error", "ERROR:  Unknown"},
        SCodeTexts{2, "TDO mismatch", "ERROR:  TDO mismatch"},
        SCodeTexts{3, "TDO mismatch and exceeded max retries", "ERROR:  TDO mismatch and exceeded max retries"},
        SCodeTexts{4, "Unsupported XSVF command", "ERROR:  Unsupported XSVF command"},
        SCodeTexts{5, "Illegal state specification", "ERROR:  Illegal state specification"},
        SCodeTexts{6, "data overflow", "ERROR:  Data overflows allocated MAX_LEN buffer size"},
        SCodeTexts{7, "Update cancelled by user", "Update cancelled by user"},
        SCodeTexts{8, "debug file error", "debug file error"},
        SCodeTexts{9, "file read error", "file read error"},
        SCodeTexts{10, "Failed: Target is not responding", "Failed: Target is not responding"},
        SCodeTexts{11, "Failed: Target is not responding", "Failed: Target is not responding"},
        SCodeTexts{12, "multiple crc error", "multiple crc error"},
        SCodeTexts{13, "parameter error in function ReadTdoBitsequenz",
                   "parameter error in function ReadTdoBitsequenz"},
        SCodeTexts{14, "unknown error", "ERROR:  Unknown"},
        SCodeTexts{20, "unknown error", "ERROR:  Unknown"},
        SCodeTexts{-1, "unknown error", "ERROR:  Unknown"}));
