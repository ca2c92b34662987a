// How update-cli ends when its caller or its surroundings turn against it:
// closed or full output, signals at every phase, a planted trace file, the
// update file on a pipe, escape sequences in the file. Every row checks what
// the device received, the exit status, the last line, the line's settings
// and exclusive flag afterwards, and that no file but the trace changed.

#include "Devsim.h"
#include "ChildProcess.h"
#include "ModelPart.h"
#include "RunHygiene.h"
#include "UpdateFileFixture.h"
#include "XsvfPlayer.h"
#include "XsvfWriter.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>

using namespace devupdate;
using namespace devupdate::xsvf;
using namespace devupdate::update;
using namespace devupdate::devsim;
using namespace devupdate::svf;
using namespace devupdate::mkupd;
using namespace devupdate::xsvfgen;

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

enum class EFile { Firmware, TwoFirmware, Xsvf, EscapedTexts, BigComment, NeverMatching, TraceLink, TraceFolder };
// How the caller starts update-cli (see SChildSetup).
enum class ECaller { Plain, CloseEarly, Stalled, DevFull, InAndOutClosed, SigintIgnored, FileOnPipe };
enum class EWhen { Never, BeforeAnswer, DuringBlock, DuringShift };

struct SEndingRow {
    const char* name;
    EFile file;
    ECaller caller;
    int signal;  // sent once (SIGINT: twice) at `when`
    EWhen when;
    int exitStatus;
    bool endByteSent;                 // the device took 0xA2: the run was completed
    const char* lastLine = nullptr;   // of standard output
    const char* outputHas = nullptr;  // in standard output or error
    const char* traceHas = nullptr;
};

constexpr const char* kAllUpdated = "1 of 1 targets updated successfully.";
constexpr const char* kCancelled = "Update cancelled by user";
constexpr const char* kSwitchOn = "Connect device, switch device off then on";
constexpr const char* kNoTrace = "Debugdatei xsvf_debug.txt kann nicht";

const SEndingRow kRows[] = {
    {"PipeClosedAfterFirstLine", EFile::Firmware, ECaller::CloseEarly, 0, EWhen::Never, 0, true},
    {"OutputOnDevFull", EFile::Xsvf, ECaller::DevFull, 0, EWhen::Never, 0, true},
    {"StdinAndStdoutClosed", EFile::Firmware, ECaller::InAndOutClosed, 0, EWhen::Never, 0, true},
    {"SighupBeforeTheAnswer", EFile::Firmware, ECaller::Plain, SIGHUP, EWhen::BeforeAnswer, 3, false, kSwitchOn},
    {"SigquitBeforeTheAnswer", EFile::Firmware, ECaller::Plain, SIGQUIT, EWhen::BeforeAnswer, 3, false, kSwitchOn},
    {"SigtermBeforeTheAnswer", EFile::Firmware, ECaller::Plain, SIGTERM, EWhen::BeforeAnswer, 3, false, kSwitchOn},
    {"SigintBeforeTheAnswer", EFile::Firmware, ECaller::Plain, SIGINT, EWhen::BeforeAnswer, 3, false, kSwitchOn},
    {"SighupDuringABlockLetsTheRunEnd", EFile::Firmware, ECaller::Plain, SIGHUP, EWhen::DuringBlock, 0, true,
     kAllUpdated},
    {"SigtermDuringABlockCancels", EFile::Firmware, ECaller::Plain, SIGTERM, EWhen::DuringBlock, 3, false, kCancelled},
    {"SigquitDuringAShiftLetsTheRunEnd", EFile::Xsvf, ECaller::Plain, SIGQUIT, EWhen::DuringShift, 0, true,
     kAllUpdated},
    {"SigtermDuringAShiftCancels", EFile::Xsvf, ECaller::Plain, SIGTERM, EWhen::DuringShift, 3, false, kCancelled},
    {"InheritedIgnoredSigintStaysIgnored", EFile::Firmware, ECaller::SigintIgnored, SIGINT, EWhen::DuringBlock, 0,
     true, kAllUpdated},
    {"StalledReaderDoesNotStallTheCancel", EFile::BigComment, ECaller::Stalled, SIGTERM, EWhen::DuringShift, 3,
     false, kCancelled},
    // The trace's place is refused before the device is touched.
    {"TraceNameIsALink", EFile::TraceLink, ECaller::Plain, 0, EWhen::Never, 2, false, nullptr, kNoTrace},
    {"TraceNameIsAFolder", EFile::TraceFolder, ECaller::Plain, 0, EWhen::Never, 2, false, nullptr, kNoTrace},
    {"UpdateFileOnAPipe", EFile::TwoFirmware, ECaller::FileOnPipe, 0, EWhen::Never, 0, true,
     "2 of 2 targets updated successfully."},
    {"EscapeSequencesFromTheFileAreShown", EFile::EscapedTexts, ECaller::Plain, 0, EWhen::Never, 0, true, kAllUpdated,
     "running update\n erase\\x1b[2J done\n\\x1b]2;owned\\x07Logic: 100% \n"},
    {"XrepeatAgainstAPartThatNeverMatches", EFile::NeverMatching, ECaller::Plain, 0, EWhen::Never, 1, false, nullptr,
     nullptr, "   Wait = 2147483647 usec\r\n"},
};

SChildSetup SetupFor(ECaller caller, const std::string& fileBytes, const std::string& folder)
{
    SChildSetup setup;
    setup.folder = folder;
    setup.out = caller == ECaller::CloseEarly ? EOut::CloseEarly
                : caller == ECaller::Stalled  ? EOut::Stalled
                : caller == ECaller::DevFull  ? EOut::DevFull
                : caller == ECaller::InAndOutClosed ? EOut::Closed
                                                    : EOut::Pipe;
    setup.stdinClosed = caller == ECaller::InAndOutClosed;
    setup.sigintIgnored = caller == ECaller::SigintIgnored;
    if (caller == ECaller::FileOnPipe)
        setup.fileOnPipe = fileBytes;
    return setup;
}

mkupd::SUpdateTarget FirmwareTarget(unsigned number)
{
    mkupd::SUpdateTarget target;
    target.number = number;
    target.name = "Board";
    std::vector<uint8_t> image(2000);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i * 7);
    target.data = mkupd::MakeFirmwareBlocks(image, 500, false);
    return target;
}

mkupd::SUpdateTarget XsvfTarget(const std::string& name, const std::string& comment, uint32_t expected,
                              uint8_t repeat, uint32_t wait)
{
    mkupd::SUpdateTarget target;
    target.name = name;
    target.type = mkupd::TYPE_XSVF;
    CXsvfWriter xsvf;
    if (!comment.empty())
        xsvf.Comment(comment);
    xsvf.Repeat(repeat).RunTest(wait).Sir(8, {INS_IDCODE}).SdrSize(32).TdoMask(0xFFFFFFFF);
    xsvf.SdrTdo(MODEL_IDCODE, expected).Complete();
    target.data = xsvf.Stream();
    return target;
}

std::string UpdateFileBytes(EFile file)
{
    std::vector<mkupd::SUpdateTarget> targets;
    switch (file) {
    case EFile::Firmware:
        targets = {FirmwareTarget(1)};
        break;
    case EFile::TwoFirmware:
        targets = {FirmwareTarget(1), FirmwareTarget(2)};
        break;
    case EFile::Xsvf:
    case EFile::TraceLink:
    case EFile::TraceFolder:
        targets = {XsvfTarget("Logic", "", MODEL_IDCODE, 1, 1000)};
        break;
    case EFile::EscapedTexts:
        targets = {XsvfTarget("\x1b]2;owned\x07Logic", "erase\x1b[2J done", MODEL_IDCODE, 1, 1000)};
        break;
    case EFile::BigComment:
        // Far more than a pipe holds: an echo that waited for the reader would stall.
        targets = {XsvfTarget("Logic", std::string(300000, 'c'), MODEL_IDCODE, 1, 1000)};
        break;
    case EFile::NeverMatching:
        // 100 s growing by a quarter per attempt passes what the wait field holds.
        targets = {XsvfTarget("Logic", "", ~MODEL_IDCODE, 255, 100000000)};
        break;
    }
    const std::vector<uint8_t> bytes = mkupd::WriteUpdateFile({mkupd::FileVersion::V1_01, targets, -1});
    return std::string(bytes.begin(), bytes.end());
}

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Every file of the folder but the trace, with its contents.
std::map<std::string, std::string> FolderContents(const std::string& folder)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        const std::string name = entry.path().filename();
        if (name != "xsvf_debug.txt" && entry.is_regular_file())
            files[entry.path()] = ReadAll(entry.path());
    }
    return files;
}

// The line as the next program finds it: settings and exclusive flag.
struct SLineState {
    termios settings{};
    int exclusive = -1;

    static SLineState Of(const std::string& path)
    {
        SLineState state;
        const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd == -1)
            return state;
        if (tcgetattr(fd, &state.settings) != 0 || ioctl(fd, TIOCGEXCL, &state.exclusive) != 0)
            state.exclusive = -1;
        close(fd);
        return state;
    }
    bool SameSettings(const SLineState& other) const
    {
        return settings.c_iflag == other.settings.c_iflag && settings.c_oflag == other.settings.c_oflag &&
               settings.c_cflag == other.settings.c_cflag && settings.c_lflag == other.settings.c_lflag &&
               cfgetospeed(&settings) == cfgetospeed(&other.settings);
    }
};

bool OnlyWakeupBytes(const std::vector<STrafficByte>& traffic)
{
    for (const STrafficByte& byte : traffic)
        if (byte.fromTool && byte.byte != 0xA4)
            return false;
    return true;
}

size_t BytesFromTool(const CDevsim& device)
{
    size_t count = 0;
    for (const STrafficByte& byte : device.Traffic())
        count += byte.fromTool ? 1 : 0;
    return count;
}

bool WaitForMoment(const CDevsim& device, EWhen when)
{
    const auto deadline = Clock::now() + 10s;
    while (Clock::now() < deadline) {
        if ((when == EWhen::BeforeAnswer && BytesFromTool(device) >= 3) ||
            (when == EWhen::DuringBlock && device.Count(EPhase::Block) >= 1) ||
            (when == EWhen::DuringShift && device.Count(EPhase::Shift) >= 1))
            return true;
        std::this_thread::sleep_for(1ms);
    }
    return false;
}

// Something planted where the trace file goes: a link to another file, a folder.
void PlantTrace(const CTempFolder& folder, EFile file)
{
    const std::string path = folder.Path() + "/xsvf_debug.txt";
    if (file == EFile::TraceLink) {
        folder.Write("victim.txt", std::string("keep me\n"));
        std::filesystem::create_symlink(folder.Path() + "/victim.txt", path);
    } else if (file == EFile::TraceFolder) {
        std::filesystem::create_directory(path);
    }
}

class EndingsTest : public ::testing::TestWithParam<SEndingRow> {
protected:
    CTempFolder m_folder;
};

TEST_P(EndingsTest, DeviceLogExitStatusLastLineLineAndFilesAgree)
{
    const SEndingRow& row = GetParam();
    SDevsimConfig config;
    // Silent until long after the test: the signal meets the wake-up.
    if (row.when == EWhen::BeforeAnswer)
        config.powerOnAfterWakeups = 1000000;
    // A paced line gives the signal a block or a shift to meet.
    if (row.when == EWhen::DuringBlock || row.when == EWhen::DuringShift)
        config.baud = 57600;
    // Long waits acknowledged at once: no busy byte per 100 ms of them.
    if (row.file == EFile::NeverMatching)
        config.faults = {{EPhase::Delay, 1, 0, EFaultAction::Replace, {0x11}, 0}};
    CDevsim device(config);
    device.Start();
    PlantTrace(m_folder, row.file);
    const std::string bytes = UpdateFileBytes(row.file);
    const bool onPipe = row.caller == ECaller::FileOnPipe;
    const std::string file = onPipe ? "/dev/fd/3" : m_folder.Write("run.upd", bytes);
    const auto filesBefore = FolderContents(m_folder.Path());
    const SLineState lineBefore = SLineState::Of(device.SlavePath());

    CChildProcess child("update-cli", {"--port", device.SlavePath(), "--wakeup-timeout", "5", file},
                        SetupFor(row.caller, bytes, m_folder.Path()));
    if (row.signal != 0) {
        ASSERT_TRUE(WaitForMoment(device, row.when)) << "the run never reached the moment";
        child.Signal(row.signal);
        if (row.signal == SIGINT) {
            std::this_thread::sleep_for(50ms);
            child.Signal(SIGINT);
        }
    }
    if (row.caller == ECaller::Stalled) {
        // Nobody reads: the cancel must still reach the device at once.
        std::this_thread::sleep_for(1s);
        const size_t settled = BytesFromTool(device);
        std::this_thread::sleep_for(300ms);
        EXPECT_EQ(BytesFromTool(device), settled) << "the run went on while its output was stalled";
    }
    const int status = child.Wait(30000);

    const std::string output = child.Stdout() + child.Stderr();
    EXPECT_EQ(status, row.exitStatus) << output;
    EXPECT_EQ(device.WaitForSessions(1, row.endByteSent ? 2000ms : 300ms), row.endByteSent) << output;
    if (row.exitStatus == 2) {
        EXPECT_EQ(BytesFromTool(device), 0u) << "a run that could not start sent bytes";
    }
    if (row.when == EWhen::BeforeAnswer) {
        EXPECT_TRUE(OnlyWakeupBytes(device.Traffic())) << "more than wake-up bytes before the answer";
    }
    if (row.lastLine != nullptr) {
        EXPECT_EQ(LastLine(child.Stdout()), row.lastLine) << output;
    }
    if (row.outputHas != nullptr) {
        EXPECT_NE(output.find(row.outputHas), std::string::npos) << output;
    }
    EXPECT_EQ(child.Stdout().find('\x1b'), std::string::npos) << "a raw escape reached the output";
    if (row.traceHas != nullptr) {
        const std::string trace = ReadAll(m_folder.Path() + "/xsvf_debug.txt");
        EXPECT_NE(trace.find(row.traceHas), std::string::npos);
        EXPECT_EQ(trace.find("Wait = -"), std::string::npos);
    }
    const SLineState lineAfter = SLineState::Of(device.SlavePath());
    EXPECT_TRUE(lineAfter.SameSettings(lineBefore)) << "the line kept the tool's settings";
    EXPECT_EQ(lineAfter.exclusive, 0) << "the line stayed exclusive";
    EXPECT_EQ(FolderContents(m_folder.Path()), filesBefore) << "a file other than the trace changed";
}

INSTANTIATE_TEST_SUITE_P(Rows, EndingsTest, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

// A cancel around the run's end: the device's log and the exit status agree
// every time, whichever of the two comes first.
TEST(EndRaceTest, SigtermAroundTheEndAgreesWithTheDevice)
{
    constexpr int RUNS = 40;
    constexpr int SPREAD_MS = 200;  // from inside the third block to past the end
    const auto deadline = Clock::now() + 120s;
    int completed = 0;
    int cancelled = 0;
    for (int i = 0; i < RUNS && Clock::now() < deadline; ++i) {
        CTempFolder folder;
        SDevsimConfig config;
        config.baud = 57600;
        CDevsim device(config);
        device.Start();
        const std::string file = folder.Write("run.upd", UpdateFileBytes(EFile::Firmware));
        CChildProcess child("update-cli", {"--port", device.SlavePath(), file}, {EOut::Pipe, false, false, "", folder.Path()});
        // The second of four blocks has arrived; each takes about 90 ms on the
        // line, and the cancel is seen before the next block is sent.
        const auto wait = Clock::now() + 10s;
        while (device.Count(EPhase::Block) < 2 && Clock::now() < wait)
            std::this_thread::sleep_for(1ms);
        std::this_thread::sleep_for(std::chrono::milliseconds(i * SPREAD_MS / RUNS));
        child.Signal(SIGTERM);
        const int status = child.Wait(20000);
        // The end byte may still be on its way through the paced line.
        const bool ended = device.WaitForSessions(1, status == 0 ? 2000ms : 300ms);
        const std::string last = LastLine(child.Stdout());
        SCOPED_TRACE("run " + std::to_string(i) + ": " + child.Stdout());
        if (status == 0) {
            ++completed;
            EXPECT_TRUE(ended) << "exit 0 but the device got no end byte";
            EXPECT_EQ(last, kAllUpdated);
            EXPECT_EQ(child.Stdout().find("cancelled"), std::string::npos);
        } else {
            ++cancelled;
            EXPECT_EQ(status, 3);
            EXPECT_FALSE(ended) << "cancelled, but the device got the end byte";
            EXPECT_EQ(last, kCancelled);
        }
    }
    EXPECT_EQ(completed + cancelled, RUNS) << "the runs did not fit the time bound";
    std::printf("end race: %d completed, %d cancelled\n", completed, cancelled);
}
