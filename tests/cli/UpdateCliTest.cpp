// update-cli as a user runs it: output, exit status and signals.

#include "ChildProcess.h"
#include "Devsim.h"
#include "UpdateFileBody.h"
#include "UpdateFileFixture.h"
#include "WaitUntil.h"

#include <gtest/gtest.h>

#include <csignal>
#include <set>
#include <sstream>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>
#include <thread>

using namespace devupdate;
using namespace devupdate::update;
using namespace devupdate::devsim;
using namespace devupdate::svf;
using namespace devupdate::mkupd;

namespace {

using namespace std::chrono_literals;

// How long the signal tests wait for the child or the device: a child that
// died early fails the test instead of hanging it.
constexpr auto kPatience = 20s;

// What update-cli prints without the plain progress lines ("A: 40% after
// 1.2 s, ..."), which a slow machine may add between the messages.
std::string WithoutProgressLines(const std::string& text)
{
    std::istringstream in(text);
    std::string kept;
    std::string line;
    while (std::getline(in, line)) {
        if (line.find("% after ") == std::string::npos)
            kept += line + "\n";
    }
    return kept;
}

const std::vector<uint8_t> kOneBlock = MakeBytes({0x00, 0x06, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06});

mkupd::SUpdateTarget Firmware(unsigned number, const std::string& name)
{
    mkupd::SUpdateTarget target;
    target.number = number;
    target.name = name;
    target.data = kOneBlock;
    return target;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class UpdateCliTest : public ::testing::Test {
protected:
    std::string WriteFile(const mkupd::SUpdateFile& file)
    {
        return m_folder.Write("cli.upd", mkupd::WriteUpdateFile(file));
    }

    void StartDevice(SDevsimConfig config = {})
    {
        m_device = std::make_unique<CDevsim>(std::move(config));
        m_device->Start();
    }

    // A device at line rate that answers the first block with about ten
    // seconds of busy bytes: busy until the user has decided. (Unpaced, a
    // storm long enough would take the device itself seconds to prepare.)
    void StartBusyAfterFirstBlockDevice()
    {
        SDevsimConfig config;
        config.baud = 57600;
        StartDevice(config);
        m_device->SetFaults({{EPhase::Block, 1, 1, EFaultAction::Busy, {}, 60000}});
    }

    // Runs update-cli to its end.
    int Run(const std::vector<std::string>& args, int timeoutMs = 20000)
    {
        m_child = std::make_unique<CChildProcess>("update-cli", args);
        const int status = m_child->Wait(timeoutMs);
        m_stdout = m_child->Stdout();
        m_stderr = m_child->Stderr();
        return status;
    }

    CTempFolder m_folder;
    std::unique_ptr<CDevsim> m_device;
    std::unique_ptr<CChildProcess> m_child;
    std::string m_stdout;
    std::string m_stderr;
};

TEST_F(UpdateCliTest, CheckListsVersionAndTargets)
{
    const std::string path = WriteFile({mkupd::FileVersion::V1_00, {Firmware(1, "  Controller "), Firmware(2, "Logic")}});
    EXPECT_EQ(Run({"--check", path}), 0);
    // 13 bytes on the line each: the selection, its answer, one block and its answer.
    EXPECT_EQ(m_stdout, "Version: V1.00\n"
                        "not signed\n"
                        "1: Controller, stored 8 bytes, estimated 0.0 s at 57600 baud\n"
                        "2: Logic, stored 8 bytes, estimated 0.0 s at 57600 baud\n");
}

// "--" ends the options; a single-valued option comes once, --port as often
// as there are ports; every usage error names its option.
TEST_F(UpdateCliTest, OptionsEndAtDoubleDashAndEachErrorNamesItsOption)
{
    m_folder.Write("-x.upd", mkupd::WriteUpdateFile({mkupd::FileVersion::V1_00, {Firmware(1, "Dash")}}));
    SChildSetup inFolder;
    inFolder.folder = m_folder.Path();
    CChildProcess check("update-cli", {"--check", "--", "-x.upd"}, inFolder);
    EXPECT_EQ(check.Wait(20000), 0) << check.Stderr();
    EXPECT_EQ(check.Stdout(), "Version: V1.00\nnot signed\n1: Dash, stored 8 bytes, estimated 0.0 s at 57600 baud\n");

    const std::string path = WriteFile({mkupd::FileVersion::V1_00, {Firmware(1, "Logic")}});
    const struct {
        std::vector<std::string> args;
        const char* error;
    } cases[] = {
        {{"--log", "a.log", "--log", "b.log", path}, "--log given more than once"},
        {{"--wakeup-timeout", "1", "--wakeup-timeout", "1", path}, "--wakeup-timeout given more than once"},
        {{"--check", path, "--", "--list"}, "more than one file given"},
        {{"--check", path, "--trace"}, "--trace needs a value"},
        {{"--check", path, "--port", "Com2", "--port", "Com3"},
         "--station, --trace-dir and several --port go with an update run only"},
        {{"--check", path, "-x"}, "unknown option -x"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Run(c.args), 2) << c.error;
        EXPECT_EQ(m_stderr.substr(0, m_stderr.find('\n')), std::string("update-cli: ") + c.error);
    }
}

TEST_F(UpdateCliTest, FailedCheckPrintsTheMessageAndExits2)
{
    const std::string path = m_folder.Write("bad.upd", std::string("Firmwareupdate-Fileformat-V2.00\n00\n"));
    EXPECT_EQ(Run({"--check", path}), 2);
    EXPECT_EQ(m_stderr, "Error: V2.00 is wrong version of update file\n" + path + ".\nExpected version V1.00 V1.01  !\n");
    EXPECT_EQ(m_stdout, "");
    EXPECT_EQ(Run({path}), 2);
}

TEST_F(UpdateCliTest, ListDescribesEveryRecordAndRefusesAMalformedBody)
{
    mkupd::SUpdateTarget packed = Firmware(1, "Controller");
    packed.packed = true;
    const std::string path = WriteFile({mkupd::FileVersion::V1_01, {packed}});
    const std::string listing = m_folder.Path() + "/listing.txt";
    EXPECT_EQ(Run({"--list", path, "--out", listing}), 0);
    EXPECT_NE(m_stdout.find("Record 1: target 01, flags 0001, type FEFF (firmware), stored 9 bytes, unpacked 8 bytes, "
                            "1 block, estimated 0.0 s at 57600 baud\n"),
              std::string::npos)
        << m_stdout;

    const std::string cut = m_folder.Write("cut.upd", std::string("Firmwareupdate-Fileformat-V1.01\n01\n01 A\n"
                                                                  "010000FEFF000000080006"));
    EXPECT_EQ(Run({"--list", cut}), 2);
    EXPECT_NE(m_stderr.find("record 1"), std::string::npos) << m_stderr;
}

// A pipe is read front to back, skips included; a read that fails is said.
TEST_F(UpdateCliTest, ListReadsAPipeAndCheckReportsWhatItCouldNotRead)
{
    mkupd::SUpdateTarget unknown = Firmware(2, "Other");
    unknown.type = 0x1234;  // not updated: its data are skipped
    const std::vector<uint8_t> file =
        mkupd::WriteUpdateFile({mkupd::FileVersion::V1_01, {unknown, Firmware(1, "Controller")}});
    SChildSetup onPipe;
    onPipe.fileOnPipe.assign(file.begin(), file.end());
    CChildProcess list("update-cli", {"--list", "/dev/fd/3"}, onPipe);
    EXPECT_EQ(list.Wait(10000), 0) << list.Stderr();
    EXPECT_NE(list.Stdout().find("End of body: 2 records.\n"), std::string::npos) << list.Stdout();

    EXPECT_EQ(Run({"--check", m_folder.Path()}), 2);
    EXPECT_NE(m_stderr.find("Error: reading " + m_folder.Path() + " failed: Is a directory.\n"), std::string::npos)
        << m_stderr;
}

// --out: the listing file is replaced only by a complete listing, and never
// when it is the update file itself.
TEST_F(UpdateCliTest, ListingFileIsReplacedOnlyByACompleteListing)
{
    const std::string path = WriteFile({mkupd::FileVersion::V1_01, {Firmware(1, "Controller")}});
    const std::string original = ReadFile(path);
    const std::string cut = m_folder.Write("cut.upd", std::string("Firmwareupdate-Fileformat-V1.01\n01\n01 A\n"
                                                                  "010000FEFF000000080006"));
    const std::string folder = m_folder.Path();
    ASSERT_EQ(symlink(path.c_str(), (folder + "/link.upd").c_str()), 0);
    ASSERT_EQ(link(path.c_str(), (folder + "/hard.upd").c_str()), 0);
    struct SCase {
        std::string input;
        std::string out;
        const char* error;
    };
    const SCase cases[] = {
        {path, path, "is the update file itself"},
        {path, folder + "/link.upd", "is the update file itself"},
        {folder + "/link.upd", folder + "/hard.upd", "is the update file itself"},
        {path, folder + "/./cli.upd", "is the update file itself"},
        {folder + "/typo.upd", folder + "/important.txt", "typo.upd"},
        {cut, folder + "/important.txt", "record 1"},
    };
    const std::string important = m_folder.Write("important.txt", std::string("keep me\n"));
    for (const SCase& c : cases) {
        EXPECT_EQ(Run({"--list", c.input, "--out", c.out}), 2) << c.input << " " << c.out;
        EXPECT_NE(m_stderr.find(c.error), std::string::npos) << m_stderr;
        EXPECT_EQ(ReadFile(path), original);
        EXPECT_EQ(ReadFile(important), "keep me\n");
    }
    // Through a link the file it points to is replaced; the link stays.
    ASSERT_EQ(symlink("important.txt", (folder + "/listing-link.txt").c_str()), 0);
    EXPECT_EQ(Run({"--list", path, "--out", folder + "/listing-link.txt"}), 0) << m_stderr;
    EXPECT_EQ(ReadFile(important), m_stdout);
    EXPECT_TRUE(std::filesystem::is_symlink(folder + "/listing-link.txt"));
    size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder))
        ++files;
    EXPECT_EQ(files, 6u) << "a temporary listing file was left behind";
}

TEST_F(UpdateCliTest, TargetNamesAreShownWithoutTheirControlCharacters)
{
    const std::string path = WriteFile({mkupd::FileVersion::V1_01, {Firmware(1, "Logic\x1b]0;owned\x07")}});
    EXPECT_EQ(Run({"--list", path}), 0);
    EXPECT_NE(m_stdout.find("1: Logic\\x1b]0;owned\\x07\n"), std::string::npos) << m_stdout;
}

TEST_F(UpdateCliTest, UsageErrorsExit2)
{
    EXPECT_EQ(Run({}), 2);
    EXPECT_EQ(Run({"--port", "Com11", "x.upd"}), 2);
    EXPECT_EQ(Run({"--port", "ttyS0", "x.upd"}), 2);
    EXPECT_EQ(Run({"--bogus", "x.upd"}), 2);
    EXPECT_EQ(Run({"--version"}), 0);
    EXPECT_EQ(m_stdout, "update-cli V1.5\n");
}

TEST_F(UpdateCliTest, PortThatCannotBeOpenedExits2)
{
    const std::string path = WriteFile({mkupd::FileVersion::V1_01, {Firmware(1, "A")}});
    EXPECT_EQ(Run({"--port", "/nonexistent/tty", path}), 2);
    EXPECT_EQ(m_stderr, "Error: /nonexistent/tty in use or does not exist.\n/nonexistent/tty: no such device.\n");
}

TEST_F(UpdateCliTest, SuccessfulRunPrintsMessagesRowsAndExits0)
{
    StartDevice();
    const std::string path = WriteFile({mkupd::FileVersion::V1_01, {Firmware(1, " Controller\r"), Firmware(2, "Logic")}});
    EXPECT_EQ(Run({"--port", m_device->SlavePath(), path}), 0) << m_stderr;
    EXPECT_EQ(WithoutProgressLines(m_stdout),
              "Connect device, switch device off then on\n"
              "running update\n"
              "Controller: 100% \n"
              "Logic: 100% \n"
              "2 of 2 targets updated successfully.\n");
}

TEST_F(UpdateCliTest, OutputThatIsNoTerminalGetsAPlainLineEveryTenth)
{
    SDevsimConfig config;
    config.baud = 57600;  // about 1.8 s for the image below
    StartDevice(config);
    mkupd::SUpdateTarget board = Firmware(1, "Board");
    board.data = mkupd::MakeFirmwareBlocks(std::vector<uint8_t>(10000, 0xA5), 998, false);
    ASSERT_EQ(Run({"--port", m_device->SlavePath(), WriteFile({mkupd::FileVersion::V1_01, {board}})}), 0) << m_stderr;
    std::istringstream in(m_stdout);
    std::string line;
    int lastTenth = -1;
    int lines = 0;
    double rate = 0;
    while (std::getline(in, line)) {
        int percent = 0;
        double seconds = 0;
        double left = 0;
        if (std::sscanf(line.c_str(), "Board: %d%% after %lf s, %lf kB/s, %lf s left", &percent, &seconds, &rate,
                        &left) != 4)
            continue;
        EXPECT_GT(percent / 10, lastTenth) << "one line per tenth at most: " << line;
        lastTenth = percent / 10;
        ++lines;
    }
    EXPECT_GE(lines, 3) << m_stdout;
    // The rate is near the line's 5.76 kB/s (57600 baud, 10-bit bytes).
    EXPECT_GT(rate, 3.0) << m_stdout;
    EXPECT_LT(rate, 7.0) << m_stdout;  // the pseudo-terminal takes a few bytes ahead of the line
}

TEST_F(UpdateCliTest, FewerTargetsUpdatedExits1)
{
    SDevsimConfig config;
    config.refusedTargets = {2};
    StartDevice(config);
    const std::string path = WriteFile({mkupd::FileVersion::V1_01, {Firmware(1, "A"), Firmware(2, "B")}});
    EXPECT_EQ(Run({"--quiet", "--port", m_device->SlavePath(), path}), 1);
    EXPECT_EQ(m_stdout, "A: 100% \nB: 0% missing target\n1 of 2 targets updated successfully.\n");
}

// The final message counts the header's targets; success needs every named
// target and every record of the body updated, and the log says the same.
struct SHeaderCountCase {
    const char* name;
    int headerCount;
    unsigned firstType;
    std::set<uint8_t> refused;
    int exitStatus;
    const char* ending;
    const char* stdoutText;
};

const SHeaderCountCase kHeaderCountCases[] = {
    {"TwoOfTwo", 2, TARGET_FIRMWARE, {}, 0, "all_updated", "A: 100% \nB: 100% \n2 of 2 targets updated successfully.\n"},
    {"TwoOfThree", 3, TARGET_FIRMWARE, {}, 1, "some_not_updated",
     "A: 100% \nB: 100% \nTarget: 0% \n2 of 3 targets updated successfully.\n"},
    {"TwoOfOne", 1, TARGET_FIRMWARE, {}, 1, "some_not_updated", "A: 100% \n2 of 1 targets updated successfully.\n"},
    {"FewerTargetsThanRecords", 1, TARGET_FIRMWARE, {1}, 1, "some_not_updated",
     "A: 0% missing target\n1 of 1 targets updated successfully.\n"},
    {"UnknownTypeFirst", 1, 0x1234, {}, 1, "some_not_updated",
     "A: 0% update unknown\n1 of 1 targets updated successfully.\n"},
    {"HeaderCountZero", 0, TARGET_FIRMWARE, {}, 1, "some_not_updated", "2 of 0 targets updated successfully.\n"},
};

class HeaderCountTest : public UpdateCliTest, public ::testing::WithParamInterface<SHeaderCountCase> {};

TEST_P(HeaderCountTest, ExitsZeroOnlyWhenEveryNamedTargetAndEveryRecordWasUpdated)
{
    const SHeaderCountCase& c = GetParam();
    SDevsimConfig config;
    config.refusedTargets = c.refused;
    StartDevice(config);
    mkupd::SUpdateTarget first = Firmware(1, "A");
    first.type = c.firstType;
    const std::string path = WriteFile({mkupd::FileVersion::V1_01, {first, Firmware(2, "B")}, c.headerCount});
    const std::string log = m_folder.Path() + "/runs.jsonl";
    EXPECT_EQ(Run({"--quiet", "--log", log, "--port", m_device->SlavePath(), path}), c.exitStatus) << m_stderr;
    EXPECT_EQ(m_stdout, c.stdoutText);
    EXPECT_NE(ReadFile(log).find(std::string("\"ending\":\"") + c.ending + "\""), std::string::npos) << ReadFile(log);
}

INSTANTIATE_TEST_SUITE_P(Cases, HeaderCountTest, ::testing::ValuesIn(kHeaderCountCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpdateCliTest, WakeupTimeoutExits4)
{
    SDevsimConfig config;
    config.powerOnDelay = 1h;
    StartDevice(config);
    const std::string path = WriteFile({mkupd::FileVersion::V1_01, {Firmware(1, "A")}});
    const std::string log = m_folder.Path() + "/runs.jsonl";
    EXPECT_EQ(Run({"--wakeup-timeout", "0.3", "--log", log, "--port", m_device->SlavePath(), path}), 4);
    const std::string text = "No answer from the device within 0.3 seconds.";
    EXPECT_EQ(m_stdout, "Connect device, switch device off then on\nA: 0% \n" + text + "\n");
    EXPECT_EQ(m_stderr, text + "\n");
    EXPECT_NE(ReadFile(log).find("\"message\":\"" + text + "\""), std::string::npos) << ReadFile(log);
    EXPECT_EQ(Run({"--json", "--wakeup-timeout", "0.3", "--port", m_device->SlavePath(), path}), 4);
    EXPECT_NE(m_stdout.find("\"ending\":\"wakeup_timeout\",\"exit_status\":4,\"message\":\"" + text + "\""),
              std::string::npos)
        << m_stdout;
}

TEST_F(UpdateCliTest, InterruptBeforeTheDeviceAnsweredCancelsAtOnce)
{
    SDevsimConfig config;
    config.powerOnDelay = 1h;
    StartDevice(config);
    const std::string path = WriteFile({mkupd::FileVersion::V1_01, {Firmware(1, "A")}});
    m_child = std::make_unique<CChildProcess>("update-cli", std::vector<std::string>{"--port", m_device->SlavePath(), path});
    ASSERT_TRUE(WaitUntil([&] { return !m_device->Traffic().empty(); }, kPatience));
    m_child->Signal(SIGINT);
    EXPECT_EQ(m_child->Wait(5000), 3);
    EXPECT_EQ(WithoutProgressLines(m_child->Stdout()), "Connect device, switch device off then on\nA: 0% \n"
                                 "Connect device, switch device off then on\n");
}

TEST_F(UpdateCliTest, InterruptAfterTheDeviceAnsweredAsksFirst)
{
    StartBusyAfterFirstBlockDevice();
    const std::string path = WriteFile({mkupd::FileVersion::V1_01, {Firmware(1, "A"), Firmware(2, "B")}});
    m_child = std::make_unique<CChildProcess>("update-cli", std::vector<std::string>{"--port", m_device->SlavePath(), path});
    ASSERT_TRUE(WaitUntil([&] { return m_device->Count(EPhase::Block) >= 1; }, kPatience));
    m_child->Signal(SIGINT);
    const auto warned = [&] { return m_child->Stdout().find("Press Ctrl-C again to cancel.") != std::string::npos; };
    ASSERT_TRUE(WaitUntil(warned, kPatience))
        << "exit status " << m_child->Wait(0) << "\n" << m_child->Stdout() << m_child->Stderr();
    m_child->Signal(SIGINT);
    EXPECT_EQ(m_child->Wait(5000), 3);
    EXPECT_EQ(WithoutProgressLines(m_child->Stdout()),
              "Connect device, switch device off then on\n"
              "running update\n"
              "If you cancel the software upgrade the device may not be operable.\n\n"
              "In this case you will have to do the software upgrade later on.\n\n"
              "Do you really want to cancel the software upgrade ?\n"
              "Press Ctrl-C again to cancel.\n"
              "A: 100% cancelled\n"
              "B: 0% cancelled\n"
              "Update cancelled by user\n");
}

TEST_F(UpdateCliTest, TerminateAfterTheDeviceAnsweredConfirmsAtOnce)
{
    StartBusyAfterFirstBlockDevice();
    const std::string path = WriteFile({mkupd::FileVersion::V1_01, {Firmware(1, "A")}});
    m_child = std::make_unique<CChildProcess>("update-cli", std::vector<std::string>{"--port", m_device->SlavePath(), path});
    ASSERT_TRUE(WaitUntil([&] { return m_device->Count(EPhase::Block) >= 1; }, kPatience));
    m_child->Signal(SIGTERM);
    EXPECT_EQ(m_child->Wait(5000), 3);
    EXPECT_EQ(WithoutProgressLines(m_child->Stdout()), "Connect device, switch device off then on\nrunning update\nA: 100% cancelled\n"
                                 "Update cancelled by user\n");
}

TEST_F(UpdateCliTest, FailedRunExits1WithTheOutcome)
{
    StartDevice();
    m_device->SetFaults({{EPhase::Block, 1, 4, EFaultAction::Replace, {0x55}, 0}});
    const std::string path = WriteFile({mkupd::FileVersion::V1_01, {Firmware(1, "A")}});
    EXPECT_EQ(Run({"--port", m_device->SlavePath(), path}), 1);
    EXPECT_EQ(WithoutProgressLines(m_stdout), "Connect device, switch device off then on\nrunning update\nA: 100% \n"
                        "Wrong answer. Update cancelled.\n");
}

}  // namespace
