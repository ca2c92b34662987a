// The rules for every file update-cli writes, on the real program against the
// simulated device: an output that is an input or another output of the run,
// a trace place that cannot be written, a FIFO where a file should be, a full
// disk under the log. Each row checks the exit status, the text, what the
// device received and what the files hold afterwards.

#include "ChildProcess.h"
#include "Devsim.h"
#include "ModelPart.h"
#include "UpdateFileFixture.h"
#include "Unprivileged.h"
#include "XsvfWriter.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace devupdate;
using namespace devupdate::xsvf;
using namespace devupdate::update;
using namespace devupdate::devsim;
using namespace devupdate::svf;
using namespace devupdate::mkupd;
using namespace devupdate::xsvfgen;

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr const char* kLogBefore = "{\"earlier\":1}\n";

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string UpdateFileBytes(bool withXsvf)
{
    mkupd::SUpdateTarget target;
    target.number = 1;
    target.name = "Board";
    if (withXsvf) {
        target.type = mkupd::TYPE_XSVF;
        CXsvfWriter xsvf;
        xsvf.Sir(8, {INS_IDCODE}).SdrSize(32).TdoMask(0xFFFFFFFF).SdrTdo(MODEL_IDCODE, MODEL_IDCODE).Complete();
        target.data = xsvf.Stream();
    } else {
        target.data = mkupd::MakeFirmwareBlocks(std::vector<uint8_t>(64, 0x5A), 32, false);
    }
    const std::vector<uint8_t> bytes = mkupd::WriteUpdateFile({mkupd::FileVersion::V1_01, {target}, -1});
    return std::string(bytes.begin(), bytes.end());
}

struct SOutputRow {
    const char* name;
    bool xsvf;                                   // the update file holds an XSVF target
    std::function<void(const std::string&)> plant;  // prepares the folder (the run's current folder)
    std::vector<std::string> args;               // before the update file "run.upd"
    int exitStatus;
    const char* says;                            // in standard error
    bool deviceReached;
    const char* logAfter = nullptr;              // runs.jsonl afterwards: exactly this, or "+" for one record added
    size_t fileSizeLimit = 0;
};

void Nothing(const std::string&) {}

const SOutputRow kRows[] = {
    {"TraceNamedAsTheUpdateFile", true, Nothing, {"--trace", "run.upd"}, 2,
     "update-cli: the trace run.upd is the update file run.upd\n", false},
    {"TraceAHardLinkOfTheUpdateFile", true,
     [](const std::string& f) { fs::create_hard_link(f + "/run.upd", f + "/hard.upd"); }, {"--trace", "hard.upd"}, 2,
     "update-cli: the trace hard.upd is the update file run.upd\n", false},
    {"DefaultTraceIsTheUpdateFile", true,
     [](const std::string& f) { fs::create_symlink(f + "/run.upd", f + "/xsvf_debug.txt"); }, {}, 2,
     "update-cli: the trace xsvf_debug.txt is the update file run.upd\n", false},
    {"TraceALinkToTheLog", true,
     [](const std::string& f) {
         std::ofstream(f + "/runs.jsonl") << kLogBefore;
         fs::create_symlink(f + "/runs.jsonl", f + "/t.txt");
     },
     {"--trace", "t.txt", "--log", "runs.jsonl"}, 2, "update-cli: the trace t.txt is the log runs.jsonl\n", false,
     kLogBefore},
    {"LogNamedAsTheUpdateFile", false, Nothing, {"--log", "run.upd"}, 2,
     "update-cli: the log run.upd is the update file run.upd\n", false},
    {"TraceInAMissingFolder", true, Nothing, {"--trace", "none/t.txt"}, 2,
     "Debugdatei none/t.txt kann nicht geöffnet werden !\n", false},
    {"TraceNameIsAFifo", true, [](const std::string& f) { mkfifo((f + "/xsvf_debug.txt").c_str(), 0644); }, {}, 2,
     "Debugdatei xsvf_debug.txt kann nicht geöffnet werden !\n", false},
    {"FirmwareAloneNeedsNoTracePlace", false, Nothing, {"--trace", "none/t.txt"}, 0, "", true},
    {"LogIsAFifoWithoutReader", false, [](const std::string& f) { mkfifo((f + "/fifo").c_str(), 0644); },
     {"--log", "fifo"}, 0, "update-cli: log fifo: open: a FIFO\n", true},
    {"LogOnAFullDiskKeepsItsRecords", false,
     [](const std::string& f) { std::ofstream(f + "/runs.jsonl") << kLogBefore; }, {"--log", "runs.jsonl"}, 0,
     "update-cli: log runs.jsonl: write: only 86 of ", true, kLogBefore, 100},
    {"LogRecordAfterATornOneStartsOnItsOwnLine", false,
     [](const std::string& f) { std::ofstream(f + "/runs.jsonl") << "{\"torn"; }, {"--log", "runs.jsonl"}, 0, "",
     true, "{\"torn\n+"},
};

class OutputRulesTest : public ::testing::TestWithParam<SOutputRow> {
protected:
    CTempFolder m_folder;
};

TEST_P(OutputRulesTest, RefusedBeforeTheDeviceOrWrittenAsTheRulesSay)
{
    const SOutputRow& row = GetParam();
    CDevsim device;
    device.Start();
    const std::string bytes = UpdateFileBytes(row.xsvf);
    m_folder.Write("run.upd", bytes);
    row.plant(m_folder.Path());
    std::vector<std::string> args = {"--port", device.SlavePath()};
    args.insert(args.end(), row.args.begin(), row.args.end());
    args.push_back("run.upd");
    SChildSetup setup;
    setup.folder = m_folder.Path();
    setup.fileSizeLimit = row.fileSizeLimit;
    CChildProcess child("update-cli", args, setup);

    EXPECT_EQ(child.Wait(20000), row.exitStatus) << child.Stderr();
    EXPECT_EQ(child.Stderr().substr(0, std::string(row.says).size()), row.says);
    EXPECT_EQ(device.WaitForSessions(1, row.deviceReached ? 2000ms : 200ms), row.deviceReached);
    if (!row.deviceReached) {
        EXPECT_TRUE(device.Traffic().empty()) << "a run that could not start sent bytes";
    }
    EXPECT_EQ(ReadAll(m_folder.Path() + "/run.upd"), bytes);
    if (row.logAfter != nullptr) {
        const std::string log = ReadAll(m_folder.Path() + "/runs.jsonl");
        const std::string before = row.logAfter;
        if (before.back() == '+') {
            EXPECT_EQ(log.substr(0, before.size() - 1), before.substr(0, before.size() - 1));
            EXPECT_EQ(log.find("{\"start\":"), before.size() - 1) << log;
            EXPECT_EQ(log.back(), '\n');
        } else {
            EXPECT_EQ(log, before);
        }
    }
    EXPECT_FALSE(fs::exists(m_folder.Path() + "/none"));
}

INSTANTIATE_TEST_SUITE_P(Rows, OutputRulesTest, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

// A user who may not write the current folder: the trace's place is refused
// before the wake-up, and nothing is created.
TEST(OutputPlaceTest, UnwritableCurrentFolderIsRefusedBeforeTheDevice)
{
    CTempFolder folder;
    ASSERT_EQ(chmod(folder.Path().c_str(), 0755), 0);
    folder.Write("run.upd", UpdateFileBytes(true));
    CDevsim device;
    device.Start();
    const std::optional<std::string> seen = RunUnprivileged([&] {
        SChildSetup setup;
        setup.folder = folder.Path();
        CChildProcess child("update-cli", {"--port", device.SlavePath(), "run.upd"}, setup);
        return std::to_string(child.Wait(20000)) + " " + child.Stderr();
    });
    ASSERT_TRUE(seen.has_value()) << "could not run as an ordinary user";
    EXPECT_EQ(*seen, "2 Debugdatei xsvf_debug.txt kann nicht geöffnet werden !\n");
    EXPECT_TRUE(device.Traffic().empty());
    EXPECT_FALSE(fs::exists(folder.Path() + "/xsvf_debug.txt"));
}

// An update file that is a FIFO nobody writes: every run signal ends the
// wait, as a cancel before anything was sent.
TEST(OutputPlaceTest, FifoWithoutWriterEndsOnEveryRunSignal)
{
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        CTempFolder folder;
        const std::string fifo = folder.Path() + "/run.upd";
        ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
        CDevsim device;
        device.Start();
        CChildProcess child("update-cli", {"--port", device.SlavePath(), fifo});
        // A writer can open once the program waits as the FIFO's reader; it
        // stays open and silent, so the wait goes on until the signal.
        int writer = -1;
        for (int i = 0; i < 2000 && writer < 0; ++i) {
            writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (writer < 0)
                std::this_thread::sleep_for(5ms);
        }
        ASSERT_GE(writer, 0) << "update-cli never opened the FIFO";
        child.Signal(signal);
        EXPECT_EQ(child.Wait(10000), 3) << "signal " << signal << ": " << child.Stderr();
        EXPECT_EQ(child.Stderr(), "Update cancelled by user\n");
        EXPECT_TRUE(device.Traffic().empty());
        close(writer);
    }
}

}  // namespace
