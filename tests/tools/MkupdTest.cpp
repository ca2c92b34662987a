// mkupd as a user runs it: a file the tool would refuse is never written,
// and what it does write passes update-cli's check.

#include "ChildProcess.h"
#include "UpdateFileFixture.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <thread>

#include <sys/stat.h>

using namespace devupdate::update;
using namespace devupdate::mkupd;

namespace {

struct SRefusal {
    const char* name;
    std::vector<std::string> args;  // "DATA" stands for a readable data file
    const char* reason;             // part of the message on standard error
};

std::vector<std::string> Targets(int count, const std::string& name = "T")
{
    std::vector<std::string> args;
    for (int i = 1; i <= count; ++i)
        args.insert(args.end(), {"--target", std::to_string(i), "--name", name, "--data", "DATA"});
    return args;
}

std::vector<std::string> With(std::vector<std::string> head, const std::vector<std::string>& tail)
{
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

const SRefusal kRefusals[] = {
    {"LongName", Targets(1, std::string(200, 'n')), "at most 77 characters"},
    {"ElevenTargets", Targets(11), "at most 10 targets"},
    {"HeaderCountEleven", With({"--header-count", "11"}, Targets(1)), "at most 10 targets"},
    {"DataIsAFolder", {"--target", "1", "--name", "A", "--data", "."}, "is not a regular file"},
    {"DataIsADevice", {"--target", "1", "--name", "A", "--data", "/dev/zero"}, "is not a regular file"},
    {"DataMissing", {"--target", "1", "--name", "A", "--data", "/nonexistent/x"}, "No such file or directory"},
    {"FirmwareNotInBlocks", {"--target", "1", "--name", "A", "--as-is", "--data", "DATA"}, "must be blocks"},
    {"NameTwiceForOneTarget", With(Targets(1), {"--name", "B"}), "mkupd: --name given twice for target 1\n"},
    {"OutputTwice", With({"-o", "other.upd"}, Targets(1)), "mkupd: --output given more than once\n"},
    {"OperandAfterDoubleDash", With(Targets(1), {"--", "--packed"}), "mkupd: unexpected operand --packed\n"},
};

class MkupdTest : public ::testing::Test {
protected:
    void SetUp() override { m_data = m_folder.Write("image.bin", std::string(3000, '\x5A')); }

    int Run(std::vector<std::string> args)
    {
        for (std::string& arg : args) {
            if (arg == "DATA")
                arg = m_data;
        }
        CChildProcess child("mkupd", With({"-o", Out()}, args));
        const int status = child.Wait(20000);
        m_stderr = child.Stderr();
        return status;
    }
    std::string Out() const { return m_folder.Path() + "/out.upd"; }

    CTempFolder m_folder;
    std::string m_data;
    std::string m_stderr;
};

class MkupdRefusalTest : public MkupdTest, public ::testing::WithParamInterface<SRefusal> {};

TEST_P(MkupdRefusalTest, RefusesWithAReasonAndWritesNothing)
{
    EXPECT_EQ(Run(GetParam().args), 2);
    EXPECT_NE(m_stderr.find(GetParam().reason), std::string::npos) << m_stderr;
    struct stat info {};
    EXPECT_NE(stat(Out().c_str(), &info), 0) << "a refused file was written";
}

INSTANTIATE_TEST_SUITE_P(Cases, MkupdRefusalTest, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(MkupdTest, TheLargestFileItWritesPassesTheCheck)
{
    ASSERT_EQ(Run(Targets(10, std::string(77, 'n'))), 0) << m_stderr;
    CChildProcess check("update-cli", {"--check", Out()});
    EXPECT_EQ(check.Wait(20000), 0) << check.Stderr();
    EXPECT_NE(check.Stdout().find("10: " + std::string(77, 'n') + ", stored "), std::string::npos) << check.Stdout();
}

TEST_F(MkupdTest, SvfFromAPipeConvertsAsTheSameFileDoes)
{
    // Large enough that the pipe fills many times over: the converter's
    // first pass runs while the writer is still writing.
    std::string svf = "SIR 8 TDI (01);\n";
    for (int i = 0; i < 20000; ++i)
        svf += "SDR 32 TDI (" + std::to_string(10000000 + i) + ") TDO (00000000) MASK (00000000);\n";
    const std::string file = m_folder.Write("in.svf", svf);
    const std::string fifo = m_folder.Path() + "/in.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer([&] { std::ofstream(fifo, std::ios::binary) << svf; });
    CChildProcess fromPipe("mkupd", {"--svf-to-xsvf", fifo, m_folder.Path() + "/pipe.xsvf"});
    const int pipeStatus = fromPipe.Wait(20000);
    writer.join();
    CChildProcess fromFile("mkupd", {"--svf-to-xsvf", file, m_folder.Path() + "/file.xsvf"});
    ASSERT_EQ(fromFile.Wait(20000), 0) << fromFile.Stderr();
    ASSERT_EQ(pipeStatus, 0) << fromPipe.Stderr();
    const auto contents = [&](const char* name) {
        std::ifstream in(m_folder.Path() + "/" + name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_FALSE(contents("file.xsvf").empty());
    EXPECT_EQ(contents("pipe.xsvf"), contents("file.xsvf"));
}

}  // namespace
