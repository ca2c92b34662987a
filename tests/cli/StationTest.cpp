// update-cli with several ports at once and as a station (one device after
// another on each port), run as a production line runs it: real child
// processes, real signals, simulated devices on their own links. Every case
// checks what each device received and what the user sees: exit status, each
// port's lines, the summary, the log.

#include "ChildProcess.h"
#include "Devsim.h"
#include "ModelPart.h"
#include "TerminalScreen.h"
#include "UpdateFileFixture.h"
#include "WaitUntil.h"
#include "XsvfWriter.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
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

const std::vector<uint8_t> kFirmware = [] {
    std::vector<uint8_t> image(2000);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i * 7);
    return image;
}();
const std::vector<uint16_t> kLogic = {0x1234, 0xA5C3, 0x0F0F, 0x8001};

// Identifies the model part, erases it, programs kLogic and verifies it: a
// short stream, so that three runs at once stay far from the answer time-out
// on a loaded machine.
std::vector<uint8_t> LogicProgram()
{
    CXsvfWriter x;
    x.Repeat(0).EndIr(0).EndDr(0).RunTest(0);
    x.Sir(MODEL_IR_LENGTH, {INS_IDCODE}).SdrSize(32).TdoMask(0xFFFFFFFF).SdrTdo(0, MODEL_IDCODE);
    x.Sir(MODEL_IR_LENGTH, {INS_ERASE}).SdrSize(8).TdoMask(0x00).Sdr(0);
    x.Sir(MODEL_IR_LENGTH, {INS_ADDRESS}).Sdr(0);
    x.Sir(MODEL_IR_LENGTH, {INS_PROGRAM}).SdrSize(16).TdoMask(0x0000);
    for (const uint16_t word : kLogic)
        x.Sdr(word);
    x.Sir(MODEL_IR_LENGTH, {INS_ADDRESS}).SdrSize(8).TdoMask(0x00).Sdr(0);
    x.Sir(MODEL_IR_LENGTH, {INS_VERIFY}).SdrSize(16).TdoMask(0xFFFF);
    for (const uint16_t word : kLogic)
        x.SdrTdo(0, word);
    x.Sir(MODEL_IR_LENGTH, {INS_BYPASS}).Complete();
    return x.Stream();
}

// A firmware target in four blocks and an XSVF target that programs the model part.
std::vector<uint8_t> UpdateFileBytes()
{
    mkupd::SUpdateTarget firmware{1, "Board", mkupd::TYPE_FIRMWARE, false, mkupd::MakeFirmwareBlocks(kFirmware, 500, false)};
    mkupd::SUpdateTarget logic{2, "Logic", mkupd::TYPE_XSVF, false, LogicProgram()};
    return mkupd::WriteUpdateFile({mkupd::FileVersion::V1_01, {firmware, logic}, -1});
}

bool FirmwareStored(const CDevsim& device)
{
    const auto images = device.Images();
    return images.count(1) == 1 && images.at(1) == kFirmware;
}

bool LogicProgrammed(const CDevsim& device)
{
    const ModelFlash flash = device.Flash();
    return std::equal(kLogic.begin(), kLogic.end(), flash.begin());
}

std::string BytesFromTool(const CDevsim& device)
{
    std::string bytes;
    for (const STrafficByte& byte : device.Traffic()) {
        if (byte.fromTool)
            bytes += static_cast<char>(byte.byte);
    }
    return bytes;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The port's row of the summary table: passed, failed, cancelled, status.
std::vector<int> SummaryRow(const std::string& out, const std::string& port)
{
    std::vector<int> numbers;
    for (const std::string& line : Lines(out)) {
        if (line.rfind(port + " ", 0) != 0)
            continue;
        std::istringstream fields(line.substr(port.size()));
        numbers.clear();
        for (int n = 0; fields >> n;)
            numbers.push_back(n);
    }
    return numbers;
}

// Per port, each record of the log as "answered STATUS" or "silent STATUS".
std::map<std::string, std::vector<std::string>> LogRecords(const std::string& path)
{
    std::map<std::string, std::vector<std::string>> records;
    for (const std::string& line : Lines(ReadFile(path))) {
        const nlohmann::json record = nlohmann::json::parse(line, nullptr, false);
        records[record.value("port", "")].push_back((record.value("device_answered", false) ? "answered " : "silent ") +
                                                    std::to_string(record.value("exit_status", -1)));
    }
    return records;
}

bool HasEvent(const std::string& out, const std::string& port, const std::string& kind, const std::string& text = {})
{
    return std::ranges::any_of(Lines(out), [&](const std::string& line) {
        const nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
        return event.is_object() && event.value("port", "") == port && event.value("event", "") == kind &&
               (text.empty() || event.value("text", "") == text);
    });
}

class StationTest : public ::testing::Test {
protected:
    // A device whose port is the link `name` in the test's folder.
    CDevsim& AddDevice(const std::string& name, SDevsimConfig config = {})
    {
        config.linkPath = Port(name);
        m_devices.push_back(std::make_unique<CDevsim>(std::move(config)));
        m_devices.back()->Start();
        return *m_devices.back();
    }

    std::string Port(const std::string& name) const { return m_folder.Path() + "/" + name; }

    // update-cli in the test's folder, the update file last (on a pipe when `onPipe`).
    std::unique_ptr<CChildProcess> Start(std::vector<std::string> args, bool onPipe = false)
    {
        SChildSetup setup;
        setup.folder = m_folder.Path();
        if (onPipe)
            setup.fileOnPipe = ReadFile(m_file);
        args.push_back(onPipe ? "/dev/fd/3" : m_file);
        return std::make_unique<CChildProcess>("update-cli", args, setup);
    }

    int Run(const std::vector<std::string>& args, bool onPipe = false)
    {
        const auto child = Start(args, onPipe);
        const int status = child->Wait(60000);
        m_out = child->Stdout();
        m_err = child->Stderr();
        return status;
    }

    CTempFolder m_folder;
    const std::string m_file = m_folder.Write("station.upd", UpdateFileBytes());
    std::vector<std::unique_ptr<CDevsim>> m_devices;
    std::string m_out;
    std::string m_err;
};

TEST_F(StationTest, EveryPortUpdatesItsDeviceAndWritesItsOwnTrace)
{
    for (const std::string traceDir : {"", "traces"}) {
        SCOPED_TRACE("trace folder '" + traceDir + "'");
        std::vector<std::string> args;
        std::map<std::string, CDevsim*> devices;
        for (const std::string name : {"a", "b", "c"}) {
            devices[name + traceDir] = &AddDevice(name + traceDir);
            args.insert(args.end(), {"--port", Port(name + traceDir)});
        }
        if (!traceDir.empty()) {
            std::filesystem::create_directory(Port(traceDir));
            args.insert(args.end(), {"--trace-dir", traceDir});
        }
        EXPECT_EQ(Run(args), 0) << m_out << m_err;
        for (const auto& [name, device] : devices) {
            EXPECT_TRUE(FirmwareStored(*device) && LogicProgrammed(*device)) << name;
            EXPECT_NE(m_out.find(Port(name) + ": 2 of 2 targets updated successfully.\n"), std::string::npos) << m_out;
            EXPECT_EQ(SummaryRow(m_out, Port(name)), (std::vector<int>{1, 0, 0, 0})) << m_out;
            const std::string trace = ReadFile(Port(traceDir) + "/xsvf_debug-" + name + ".txt");
            EXPECT_NE(trace.find("SUCCESS - Completed XSVF execution."), std::string::npos) << name;
        }
        EXPECT_EQ(SummaryRow(m_out, "Total"), (std::vector<int>{3, 0, 0, 0})) << m_out;
    }
}

// What a person at a terminal sees: a block per port (its device, state,
// message line and bars) redrawn in place and cut to the terminal's width,
// which gives way to each port's final lines and the summary at the end.
TEST_F(StationTest, OnATerminalEachPortHasABlockThatGivesWayToTheOutcome)
{
    constexpr size_t kColumns = 56;  // the block's headers fit, its bars do not
    SDevsimConfig paced;
    paced.baud = 57600;
    AddDevice("a", paced);
    AddDevice("b", paced);
    SChildSetup setup;
    setup.folder = m_folder.Path();
    setup.out = EOut::Terminal;
    setup.terminalColumns = kColumns;
    CChildProcess child("update-cli", {"--port", Port("a"), "--port", Port("b"), m_file}, setup);
    ASSERT_EQ(child.Wait(60000), 0) << child.Stdout() << child.Stderr();
    const std::string& bytes = child.Stdout();

    size_t barsDrawn = 0;
    for (std::string line : Lines(bytes)) {
        if (const size_t erase = line.rfind("\x1b[J"); erase != std::string::npos)
            line.erase(0, erase + 3);
        std::erase(line, '\r');
        const bool bar = line.find(" [#") != std::string::npos || line.find(" [.") != std::string::npos;
        if (bar || line.find(": updating") != std::string::npos) {
            EXPECT_LT(line.size(), kColumns) << "a block line wider than the terminal: " << line;
            barsDrawn += bar ? 1 : 0;
        }
    }
    EXPECT_GT(barsDrawn, 0u) << bytes;
    for (const std::string port : {"a", "b"})
        EXPECT_NE(bytes.find(Port(port) + " -> /dev/pts/"), std::string::npos) << "the block names the device";

    std::vector<std::string> outcome;
    for (const std::string port : {"a", "b"}) {
        for (const std::string line : {": Board: 100% ", ": Logic: 100% ", ": 2 of 2 targets updated successfully."})
            outcome.push_back(Port(port) + line);
    }
    std::vector<std::string> screen = Screen(bytes);
    const auto summary = std::find(screen.begin(), screen.end(), "");
    ASSERT_NE(summary, screen.end()) << bytes;
    std::vector<std::string> before(screen.begin(), summary);
    std::sort(before.begin(), before.end());
    std::sort(outcome.begin(), outcome.end());
    EXPECT_EQ(before, outcome) << "only the outcome is left above the summary";
    EXPECT_EQ(SummaryRow(bytes, "Total"), (std::vector<int>{2, 0, 0, 0}));
}

enum class EFault { RefusesTheLogic, Unplugged, NoSuchPort };

struct SFaultRow {
    const char* name;
    EFault fault;
    int exitStatus;
    const char* says;  // in a line of the faulty port
    std::vector<int> summary;
};

void PrintTo(const SFaultRow& row, std::ostream* out)
{
    *out << row.name;
}

class StationFaultTest : public StationTest, public ::testing::WithParamInterface<SFaultRow> {};

TEST_P(StationFaultTest, OnePortFailsAloneAndTheOthersUpdate)
{
    const SFaultRow& row = GetParam();
    SDevsimConfig config;
    if (row.fault == EFault::RefusesTheLogic)
        config.refusedTargets = {2};
    if (row.fault == EFault::Unplugged)
        config.baud = 57600;  // blocks slow enough to be unplugged amid
    CDevsim* faulty = row.fault == EFault::NoSuchPort ? nullptr : &AddDevice("faulty", config);
    const std::map<std::string, CDevsim*> good = {{"good1", &AddDevice("good1")}, {"good2", &AddDevice("good2")}};
    std::jthread unplug([&] {
        if (row.fault == EFault::Unplugged && WaitUntil([&] { return faulty->Count(EPhase::Block) >= 2; }, 20s))
            faulty->Vanish();
    });
    EXPECT_EQ(Run({"--port", Port("faulty"), "--port", Port("good1"), "--port", Port("good2")}), row.exitStatus)
        << m_out << m_err;
    EXPECT_TRUE(std::ranges::any_of(Lines(m_out + m_err), [&](const std::string& line) {
        return line.rfind(Port("faulty") + ": ", 0) == 0 && line.find(row.says) != std::string::npos;
    })) << m_out << m_err;
    EXPECT_EQ(SummaryRow(m_out, Port("faulty")), row.summary) << m_out;
    if (faulty != nullptr) {
        EXPECT_EQ(FirmwareStored(*faulty), row.fault == EFault::RefusesTheLogic);
        EXPECT_FALSE(LogicProgrammed(*faulty));
        EXPECT_EQ(faulty->IsVanished(), row.fault == EFault::Unplugged);
    }
    for (const auto& [name, device] : good) {
        EXPECT_TRUE(FirmwareStored(*device) && LogicProgrammed(*device)) << name;
        EXPECT_EQ(SummaryRow(m_out, Port(name)), (std::vector<int>{1, 0, 0, 0})) << m_out;
    }
}

const SFaultRow kFaultRows[] = {
    {"RefusedTarget", EFault::RefusesTheLogic, 1, "1 of 2 targets updated successfully.", {0, 1, 0, 1}},
    {"UnpluggedMidRun", EFault::Unplugged, 1, "Failed: Target is not responding", {0, 1, 0, 1}},
    {"PortDoesNotExist", EFault::NoSuchPort, 2, "faulty in use or does not exist.", {0, 0, 0, 2}},
};

INSTANTIATE_TEST_SUITE_P(Rows, StationFaultTest, ::testing::ValuesIn(kFaultRows),
                         [](const auto& info) { return std::string(info.param.name); });

// Silent: switched on long after the test; updating: at line rate, busy for
// about ten seconds after its first block.
struct SInterruptRow {
    const char* name;
    std::vector<bool> silent;  // per port
    bool station;
    int signal;  // SIGINT: a second one follows once the updating ports have asked
};

void PrintTo(const SInterruptRow& row, std::ostream* out)
{
    *out << row.name;
}

class StationInterruptTest : public StationTest, public ::testing::WithParamInterface<SInterruptRow> {};

TEST_P(StationInterruptTest, WaitingPortsEndAtOnceUpdatingOnesAsASingleRunWould)
{
    const SInterruptRow& row = GetParam();
    std::vector<std::string> args = {"--json", "--log", Port("run.log")};
    if (row.station)
        args.push_back("--station");
    std::map<std::string, CDevsim*> silent;
    std::map<std::string, CDevsim*> updating;
    for (size_t i = 0; i < row.silent.size(); ++i) {
        SDevsimConfig config;
        config.powerOnDelay = row.silent[i] ? 600s : 0s;
        config.baud = 57600;
        config.faults = {{EPhase::Block, 1, 1, EFaultAction::Busy, {}, 60000}};
        const std::string name = "p" + std::to_string(i);
        (row.silent[i] ? silent : updating)[Port(name)] = &AddDevice(name, config);
        args.insert(args.end(), {"--port", Port(name)});
    }
    const auto child = Start(args);
    ASSERT_TRUE(WaitUntil(
        [&] {
            return std::ranges::all_of(silent, [](const auto& s) { return !BytesFromTool(*s.second).empty(); }) &&
                   std::ranges::all_of(updating, [](const auto& u) { return u.second->Count(EPhase::Block) > 0; });
        },
        20s))
        << "the runs never reached their devices";

    const auto firstSignal = std::chrono::steady_clock::now();
    child->Signal(row.signal);
    const bool asks = row.signal == SIGINT;
    for (const auto& [port, device] : silent)
        EXPECT_TRUE(WaitUntil([&] { return HasEvent(child->Stdout(), port, "end"); }, 3s)) << port << " still waits";
    for (const auto& [port, device] : updating) {
        EXPECT_TRUE(WaitUntil(
            [&] {
                return asks ? HasEvent(child->Stdout(), port, "message", "Press Ctrl-C again to cancel.")
                            : HasEvent(child->Stdout(), port, "end");
            },
            3s))
            << port << (asks ? " did not ask" : " was not cancelled at once");
    }
    if (asks && !updating.empty()) {
        std::this_thread::sleep_for(300ms);
        for (const auto& [port, device] : updating)
            EXPECT_FALSE(HasEvent(child->Stdout(), port, "end")) << port << " ended on the first Ctrl-C";
        child->Signal(SIGINT);
    }
    EXPECT_EQ(child->Wait(20000), 3);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - firstSignal).count();
    EXPECT_LT(seconds, 3.0) << "the cancel was not prompt";
    std::printf("%s: ended %.2f s after the first signal\n", row.name, seconds);

    const nlohmann::json summary = nlohmann::json::parse(LastLine(child->Stdout()), nullptr, false);
    EXPECT_EQ(summary.value("event", ""), "summary") << child->Stdout();
    EXPECT_EQ(summary.value("exit_status", -1), 3);
    EXPECT_EQ(summary.value("passed", -1), 0);
    EXPECT_EQ(summary.value("cancelled", -1), static_cast<int>(updating.size()));
    // A station's pass that only waited is no record; without --station
    // each port's run is recorded as a single run would be.
    std::map<std::string, std::vector<std::string>> records;
    for (const auto& [port, device] : updating)
        records[port] = {"answered 3"};
    for (const auto& [port, device] : silent) {
        if (!row.station)
            records[port] = {"silent 3"};
    }
    EXPECT_EQ(LogRecords(Port("run.log")), records);
    for (const auto& [port, device] : silent) {
        EXPECT_EQ(BytesFromTool(*device).find_first_not_of('\xA4'), std::string::npos) << port;
        EXPECT_EQ(device->SessionsEnded(), 0u) << port;
    }
    for (const auto& [port, device] : updating) {
        EXPECT_FALSE(device->WaitForSessions(1, 300ms)) << port << " got the end byte";
        EXPECT_EQ(device->Count(EPhase::Start), 1u) << port << ": a pass started after Ctrl-C";
    }
}

const SInterruptRow kInterruptRows[] = {
    {"CtrlCBeforeAnyAnswer", {true, true}, false, SIGINT},
    {"CtrlCAfterTheAnswers", {false, false}, true, SIGINT},
    {"CtrlCOneWaitingOneUpdating", {true, false}, true, SIGINT},
    {"SigtermOneWaitingOneUpdating", {true, false}, true, SIGTERM},
};

INSTANTIATE_TEST_SUITE_P(Rows, StationInterruptTest, ::testing::ValuesIn(kInterruptRows),
                         [](const auto& info) { return std::string(info.param.name); });

// Each device is switched off and on between passes: silent again for a while.
TEST_F(StationTest, StationUpdatesThreeDevicesOnEachPortAndLogsEveryPass)
{
    for (const std::string mode : {"text", "json"}) {
        SCOPED_TRACE(mode);
        SDevsimConfig config;
        config.powerOnDelay = 300ms;
        const std::string ports[] = {Port("s1" + mode), Port("s2" + mode)};
        const CDevsim* devices[] = {&AddDevice("s1" + mode, config), &AddDevice("s2" + mode, config)};
        const std::string log = Port(mode + ".log");
        std::vector<std::string> args = {"--station", "--count", "3", "--log", log, "--port", ports[0], "--port",
                                         ports[1]};
        if (mode == "json")
            args.push_back("--json");
        EXPECT_EQ(Run(args), 0) << m_out << m_err;
        for (const CDevsim* device : devices) {
            EXPECT_EQ(device->SessionsEnded(), 3u);
            EXPECT_EQ(device->Count(EPhase::Start), 3u);
            EXPECT_TRUE(FirmwareStored(*device) && LogicProgrammed(*device));
        }
        const std::vector<std::string> threePassed(3, "answered 0");
        EXPECT_EQ(LogRecords(log), (std::map<std::string, std::vector<std::string>>{{ports[0], threePassed},
                                                                                     {ports[1], threePassed}}));
        if (mode == "text") {
            for (const std::string& port : ports) {
                EXPECT_EQ(SummaryRow(m_out, port), (std::vector<int>{3, 0, 0, 0})) << m_out;
                EXPECT_NE(m_out.find(port + ": pass 3 passed"), std::string::npos) << m_out;
            }
            continue;
        }
        const std::vector<std::string> lines = Lines(m_out);
        ASSERT_FALSE(lines.empty());
        std::map<std::string, std::set<int>> passes;
        std::map<std::string, std::string> traces;  // from the events that name the ports first
        for (size_t i = 0; i + 1 < lines.size(); ++i) {
            const nlohmann::json event = nlohmann::json::parse(lines[i], nullptr, false);
            const std::string port = event.value("port", "");
            if (event.value("event", "") == "station_port") {
                traces[port] = event.value("trace", "");
                EXPECT_TRUE(passes.empty()) << "a port named after its events began: " << lines[i];
                continue;
            }
            const int pass = event.value("pass", 0);
            passes[port].insert(pass);
            const std::string first = "{\"port\":" + nlohmann::json(port).dump() + ",\"pass\":" + std::to_string(pass);
            EXPECT_EQ(lines[i].rfind(first + ",", 0), 0u) << "not first: " << lines[i];
        }
        EXPECT_EQ(passes, (std::map<std::string, std::set<int>>{{ports[0], {1, 2, 3}}, {ports[1], {1, 2, 3}}}));
        EXPECT_EQ(traces, (std::map<std::string, std::string>{{ports[0], "xsvf_debug-s1json.txt"},
                                                               {ports[1], "xsvf_debug-s2json.txt"}}));
        const nlohmann::json summary = nlohmann::json::parse(lines.back(), nullptr, false);
        EXPECT_EQ(summary.value("event", ""), "summary");
        EXPECT_EQ(summary.value("exit_status", -1), 0);
        EXPECT_EQ(summary.value("passed", -1), 6);
    }
}

// A failed pass's trace is the one a technician needs: the next pass must
// not write over it.
TEST_F(StationTest, FailedPassKeepsItsTraceBesideTheNextOne)
{
    SDevsimConfig config;
    config.powerOnDelay = 300ms;
    config.faults = {{EPhase::Shift, 1, 0, EFaultAction::Replace, {0x99}, 0}};  // every check mismatches
    AddDevice("d", config);
    EXPECT_EQ(Run({"--station", "--count", "2", "--port", Port("d")}), 1) << m_out << m_err;
    EXPECT_EQ(SummaryRow(m_out, Port("d")), (std::vector<int>{0, 2, 0, 1})) << m_out;
    EXPECT_NE(m_out.find(Port("d") + ": trace of pass 1 kept as xsvf_debug-d-pass1.txt\n"), std::string::npos)
        << m_out;
    for (const std::string trace : {"xsvf_debug-d-pass1.txt", "xsvf_debug-d.txt"})
        EXPECT_NE(ReadFile(Port(trace)).find("TDO mismatch"), std::string::npos) << trace;
}

// The usual end of a shift: Ctrl-C while the port waits for its next device.
TEST_F(StationTest, CtrlCBetweenDevicesEndsTheStationWithWhatItsPassesCameTo)
{
    SDevsimConfig config;
    config.powerOnDelay = 1500ms;  // the next device comes this long after the last one
    const CDevsim& device = AddDevice("w", config);
    const auto child = Start({"--station", "--log", Port("run.log"), "--port", Port("w")});
    ASSERT_TRUE(device.WaitForSessions(1, 20s));
    std::this_thread::sleep_for(300ms);
    child->Signal(SIGINT);
    EXPECT_EQ(child->Wait(5000), 0) << child->Stdout() << child->Stderr();
    EXPECT_NE(child->Stdout().find(Port("w") + ": stopped while waiting for a device\n"), std::string::npos)
        << child->Stdout();
    EXPECT_EQ(SummaryRow(child->Stdout(), Port("w")), (std::vector<int>{1, 0, 0, 0})) << child->Stdout();
    EXPECT_EQ(LogRecords(Port("run.log")),
              (std::map<std::string, std::vector<std::string>>{{Port("w"), {"answered 0"}}}));
    EXPECT_EQ(device.Count(EPhase::Start), 1u);
}

TEST_F(StationTest, OptionErrorsEndWithStatus2BeforeAnyPortIsTouched)
{
    const CDevsim& device = AddDevice("a");
    const std::string a = Port("a");
    const std::string b = Port("b");
    std::vector<std::string> seventeen;
    for (int i = 0; i < 17; ++i)
        seventeen.insert(seventeen.end(), {"--port", a + std::to_string(i)});
    struct SCase {
        std::vector<std::string> args;
        bool onPipe;
        std::string error;
    };
    const SCase cases[] = {
        {{"--port", a, "--port", b, "--count", "3"}, false, "--count goes with --station"},
        {seventeen, false, "at most 16 ports at once"},
        {{"--port", a, "--port", device.SlavePath()}, false, "the port " + device.SlavePath() + " is given twice"},
        {{"--port", a, "--port", b, "--trace", "t.txt"}, false, "use --trace-dir"},
        {{"--port", a, "--port", b}, true, "every port reads the update file again: it must be a regular file"},
        {{"--port", a, "--port", b, "--log", m_file}, false, "the log " + m_file + " is the update file " + m_file},
    };
    for (const SCase& c : cases) {
        EXPECT_EQ(Run(c.args, c.onPipe), 2) << c.error;
        EXPECT_NE(m_err.find(c.error), std::string::npos) << m_err;
    }
    EXPECT_EQ(BytesFromTool(device), "") << "a port was touched";
}

// A port name is text like any other: its control characters never reach
// the terminal raw, in the lines, the summary and the errors alike.
TEST_F(StationTest, ControlCharactersInPortNamesAreShownAsEscapes)
{
    const std::string raw = "a\x1b]0;title\x07";
    const std::string shown = Port("a\\x1b]0;title\\x07");
    const CDevsim& device = AddDevice(raw);
    AddDevice("b");
    EXPECT_EQ(Run({"--port", Port(raw), "--port", Port("b")}), 0) << m_out << m_err;
    EXPECT_NE(m_out.find(shown + ": 2 of 2 targets updated successfully.\n"), std::string::npos) << m_out;
    EXPECT_EQ(SummaryRow(m_out, shown), (std::vector<int>{1, 0, 0, 0})) << m_out;
    EXPECT_EQ((m_out + m_err).find_first_of("\x07\x1b"), std::string::npos) << m_out << m_err;
    EXPECT_EQ(Run({"--port", device.SlavePath(), "--port", Port(raw)}), 2);
    EXPECT_EQ(m_err, "update-cli: the port " + shown + " is given twice\n");
}

// The children a process has now.
std::vector<int> ChildrenOf(int pid)
{
    std::vector<int> children;
    std::istringstream in(ReadFile("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children"));
    for (int child = 0; in >> child;)
        children.push_back(child);
    return children;
}

// Descriptors of a process that lead to /dev/null, standard input and those
// the test itself inherited aside.
int StrayNullDescriptors(int pid)
{
    const auto nullDescriptors = [](const std::string& folder) {
        std::set<std::string> found;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            std::error_code error;
            if (std::filesystem::read_symlink(entry.path(), error) == "/dev/null")
                found.insert(entry.path().filename());
        }
        return found;
    };
    const std::set<std::string> own = nullDescriptors("/proc/self/fd");
    int count = 0;
    for (const std::string& fd : nullDescriptors("/proc/" + std::to_string(pid) + "/fd"))
        count += fd != "0" && !own.contains(fd) ? 1 : 0;
    return count;
}

bool Gone(int pid)
{
    const std::string status = ReadFile("/proc/" + std::to_string(pid) + "/status");
    return status.empty() || status.find("State:\tZ") != std::string::npos;
}

// A log that is a FIFO nobody reads holds no child in open(): the children
// wait for their devices in their own process groups, without stray
// descriptors, and end when the station is killed.
TEST_F(StationTest, ChildrenWithAFifoLogStayInterruptibleAndEndWithTheStation)
{
    SDevsimConfig silent;
    silent.powerOnAfterWakeups = 1000000;
    AddDevice("a", silent);
    AddDevice("b", silent);
    ASSERT_EQ(mkfifo(Port("log").c_str(), 0644), 0);
    const auto child = Start({"--log", Port("log"), "--port", Port("a"), "--port", Port("b")});
    std::vector<int> children;
    ASSERT_TRUE(WaitUntil([&] { return (children = ChildrenOf(child->Pid())).size() == 2; }, 10s));
    ASSERT_TRUE(WaitUntil([&] { return m_devices[0]->Traffic().size() > 2 && m_devices[1]->Traffic().size() > 2; }, 10s))
        << "the children never reached the wake-up";
    for (const int pid : children) {
        EXPECT_EQ(getpgid(pid), pid);
        EXPECT_EQ(StrayNullDescriptors(pid), 0);
    }
    child->Signal(SIGKILL);
    EXPECT_TRUE(WaitUntil([&] { return std::ranges::all_of(children, Gone); }, 10s)) << "a child outlived the station";
}

}  // namespace
