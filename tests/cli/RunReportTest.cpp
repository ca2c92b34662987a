// update-cli's reports of a run for programs and records: --json lines,
// the --log record, --trace and the UPDATE_PORT default, on real runs
// against the simulated device.

#include "ChildProcess.h"
#include "Devsim.h"
#include "ModelPart.h"
#include "StationPort.h"
#include "UpdateFileFixture.h"
#include "XsvfWriter.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

using namespace devupdate;
using namespace devupdate::xsvf;
using namespace devupdate::update;
using namespace devupdate::station;
using namespace devupdate::devsim;
using namespace devupdate::svf;
using namespace devupdate::mkupd;
using namespace devupdate::xsvfgen;

namespace {

using nlohmann::json;

mkupd::SUpdateFile FirmwareAndXsvf()
{
    mkupd::SUpdateTarget firmware;
    firmware.number = 1;
    firmware.name = "Controller";
    firmware.data = mkupd::MakeFirmwareBlocks(std::vector<uint8_t>(2500, 0x5A), 998, false);
    mkupd::SUpdateTarget logic;
    logic.number = 2;
    logic.name = "Logic";
    logic.type = mkupd::TYPE_XSVF;
    CXsvfWriter xsvf;
    xsvf.Comment("check \"IDCODE\"").Sir(8, {INS_IDCODE}).SdrSize(32).TdoMask(0xFFFFFFFF);
    xsvf.SdrTdo(0, MODEL_IDCODE).Complete();
    logic.data = xsvf.Stream();
    return {mkupd::FileVersion::V1_01, {firmware, logic}};
}

std::vector<json> ParseLines(const std::string& text)
{
    std::vector<json> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        EXPECT_NO_THROW(lines.push_back(json::parse(line))) << line;
        EXPECT_TRUE(lines.back().is_object()) << line;
    }
    return lines;
}

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The file's SHA-256 as the system's own tool computes it.
std::string SystemSha256(const std::string& path)
{
    FILE* pipe = popen(("sha256sum '" + path + "'").c_str(), "r");
    if (pipe == nullptr)
        return {};
    char digest[65] = {};
    const size_t got = std::fread(digest, 1, 64, pipe);
    pclose(pipe);
    return std::string(digest, got);
}

class RunReportTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_device = std::make_unique<CDevsim>(SDevsimConfig{});
        m_device->Start();
        m_file = m_folder.Write("run.upd", mkupd::WriteUpdateFile(FirmwareAndXsvf()));
    }

    int Run(const std::vector<std::string>& args)
    {
        SChildSetup setup;
        setup.folder = m_folder.Path();
        CChildProcess child("update-cli", args, setup);
        const int status = child.Wait(30000);
        m_stdout = child.Stdout();
        m_stderr = child.Stderr();
        return status;
    }

    size_t ToolBytes() const
    {
        size_t count = 0;
        for (const STrafficByte& traffic : m_device->Traffic())
            count += traffic.fromTool ? 1 : 0;
        return count;
    }

    CTempFolder m_folder;
    std::unique_ptr<CDevsim> m_device;
    std::string m_file;
    std::string m_stdout;
    std::string m_stderr;
};

TEST_F(RunReportTest, JsonLinesOfARealRunCarryEveryEventAndTheWholeOutcome)
{
    const int status = Run({"--json", "--port", m_device->SlavePath(), m_file});
    ASSERT_EQ(status, 0) << m_stderr;
    const std::vector<json> lines = ParseLines(m_stdout);
    ASSERT_FALSE(lines.empty());
    std::vector<std::string> messages;
    std::string comment;
    int lastPercent[2] = {-1, -1};
    for (const json& line : lines) {
        const std::string event = line.at("event");
        if (event == "message")
            messages.push_back(line.at("text"));
        if (event == "comment")
            comment += line.at("text").get<std::string>();
        if (event == "progress") {
            const int target = line.at("target");
            ASSERT_TRUE(target == 1 || target == 2) << line;
            EXPECT_GE(line.at("percent").get<int>(), lastPercent[target - 1]) << "percent never goes back";
            lastPercent[target - 1] = line.at("percent");
        }
    }
    EXPECT_EQ(messages, (std::vector<std::string>{"Connect device, switch device off then on", "running update"}));
    EXPECT_EQ(comment, "check \"IDCODE\"");
    EXPECT_EQ(lastPercent[0], 100);
    EXPECT_EQ(lastPercent[1], 100);

    const json& end = lines.back();
    EXPECT_EQ(end.at("event"), "end");
    EXPECT_EQ(end.at("ending"), "all_updated");
    EXPECT_EQ(end.at("exit_status"), status);
    EXPECT_EQ(end.at("message"), "2 of 2 targets updated successfully.");
    ASSERT_EQ(end.at("records").size(), 2u);
    size_t bytesSent = 0;
    for (const json& record : end.at("records")) {
        EXPECT_EQ(record.at("result"), "updated");
        EXPECT_GT(record.at("bytes_sent").get<size_t>(), 0u);
        EXPECT_GE(record.at("seconds").get<double>(), 0.0);
        bytesSent += record.at("bytes_sent").get<size_t>();
    }
    EXPECT_EQ(end.at("records")[0].at("name"), "Controller");
    EXPECT_EQ(end.at("records")[1].at("type"), "xsvf");
    // The firmware's blocks (2500 bytes and 3 counts) went out in its record.
    EXPECT_GE(end.at("records")[0].at("bytes_sent").get<size_t>(), 2506u);
    EXPECT_LT(bytesSent, ToolBytes()) << "wake-up, start and end bytes belong to no record";
}

// A name is one text everywhere: a control character and a byte outside
// UTF-8 come out the same in progress, end and the log, and a station reads
// back what the run wrote.
TEST_F(RunReportTest, ATargetNameIsTheSameTextInEveryEventAndTheLog)
{
    mkupd::SUpdateFile file = FirmwareAndXsvf();
    file.targets[0].name = "Ctl\x01" "A\xff";
    const std::string path = m_folder.Write("named.upd", mkupd::WriteUpdateFile(file));
    const std::string log = m_folder.Path() + "/runs.jsonl";
    ASSERT_EQ(Run({"--json", "--log", log, "--port", m_device->SlavePath(), path}), 0) << m_stderr;
    const std::string name = "Ctl\x01" "A\xc3\xbf";  // 0xFF stands for U+00FF
    station::CStationPort port("P", "", "");
    port.BeginPass();
    const std::vector<json> lines = ParseLines(m_stdout);
    for (const json& line : lines) {
        if (line.at("event") == "progress" && line.at("target") == 1) {
            EXPECT_EQ(line.at("name"), name);
        }
        port.Apply(line);
    }
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().at("records")[0].at("name"), name);
    EXPECT_EQ(ParseLines(ReadAll(log)).at(0).at("records")[0].at("name"), name);
    ASSERT_EQ(port.Rows().size(), 2u);
    EXPECT_EQ(port.Rows()[0].name, name);
    EXPECT_EQ(port.Rows()[1].percent, 100);
    EXPECT_EQ(port.Message(), lines.back().at("message"));
    EXPECT_EQ(port.EndPass(0, false), 0);
}

struct SJsonError {
    const char* name;
    std::vector<std::string> args;  // "PORT" and "FILE" stand for the test's
    const char* ending;
    const char* messageStart;
};

const SJsonError kJsonErrors[] = {
    {"Usage", {"--json", "--bogus", "FILE"}, "usage_error", "unknown option --bogus"},
    {"MissingFile", {"--json", "--port", "PORT", "/nonexistent/x.upd"}, "not_started", "Error: File '"},
    {"PortThatIsNoDevice", {"--json", "--port", "/nonexistent/tty", "FILE"}, "not_started", "Error: /nonexistent"},
};

class JsonErrorTest : public RunReportTest, public ::testing::WithParamInterface<SJsonError> {};

TEST_P(JsonErrorTest, IsOneEndObjectWithExitStatus2)
{
    std::vector<std::string> args = GetParam().args;
    for (std::string& arg : args)
        arg = arg == "PORT" ? m_device->SlavePath() : arg == "FILE" ? m_file : arg;
    EXPECT_EQ(Run(args), 2);
    const std::vector<json> lines = ParseLines(m_stdout);
    ASSERT_EQ(lines.size(), 1u) << m_stdout;
    EXPECT_EQ(lines[0].at("event"), "end");
    EXPECT_EQ(lines[0].at("ending"), GetParam().ending);
    EXPECT_EQ(lines[0].at("exit_status"), 2);
    EXPECT_EQ(lines[0].at("message").get<std::string>().rfind(GetParam().messageStart, 0), 0u) << lines[0];
}

INSTANTIATE_TEST_SUITE_P(Cases, JsonErrorTest, ::testing::ValuesIn(kJsonErrors),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RunReportTest, LogGetsOneRecordPerRunWithTheFilesDigest)
{
    const std::string log = m_folder.Path() + "/runs.log";
    ASSERT_EQ(Run({"--quiet", "--log", log, "--port", m_device->SlavePath(), m_file}), 0) << m_stderr;
    ASSERT_EQ(Run({"--quiet", "--log", log, "--port", "/nonexistent/tty", m_file}), 2);
    const std::vector<json> records = ParseLines(ReadAll(log));
    ASSERT_EQ(records.size(), 2u);
    char device[PATH_MAX];
    ASSERT_NE(realpath(m_device->SlavePath().c_str(), device), nullptr);
    EXPECT_EQ(records[0].at("device"), device);
    EXPECT_EQ(records[1].at("device"), "") << "the second run reached no device";
    for (const json& record : records) {
        EXPECT_EQ(record.at("sha256"), SystemSha256(m_file));
        EXPECT_EQ(record.at("size"), ReadAll(m_file).size());
        EXPECT_EQ(record.at("file"), m_file);
        EXPECT_EQ(record.at("program"), "update-cli V1.5");
        EXPECT_EQ(record.at("start").get<std::string>().size(), 20u) << "YYYY-MM-DDTHH:MM:SSZ";
    }
    EXPECT_EQ(records[0].at("exit_status"), 0);
    EXPECT_EQ(records[0].at("records").size(), 2u);
    EXPECT_EQ(records[0].at("message"), "2 of 2 targets updated successfully.");
    EXPECT_EQ(records[1].at("exit_status"), 2);
    EXPECT_EQ(records[1].at("ending"), "not_started");
}

TEST_F(RunReportTest, AnUnwritableLogIsReportedOnceAndTheRunGoesOn)
{
    EXPECT_EQ(Run({"--quiet", "--log", m_folder.Path() + "/no/such/folder/runs.log", "--port",
                   m_device->SlavePath(), m_file}),
              0);
    EXPECT_EQ(LastLine(m_stdout), "2 of 2 targets updated successfully.");
    EXPECT_NE(m_stderr.find("runs.log"), std::string::npos);
    EXPECT_EQ(m_stderr.find('\n'), m_stderr.size() - 1) << "one line: " << m_stderr;
}

TEST_F(RunReportTest, TraceGoesWhereAskedAndUpdatePortIsTheDefault)
{
    ASSERT_EQ(setenv("UPDATE_PORT", m_device->SlavePath().c_str(), 1), 0);
    const std::string trace = m_folder.Path() + "/logic-trace.txt";
    const int status = Run({"--quiet", "--trace", trace, m_file});
    const int overridden = Run({"--quiet", "--port", "/nonexistent/tty", m_file});
    ASSERT_EQ(unsetenv("UPDATE_PORT"), 0);
    EXPECT_EQ(status, 0) << m_stderr;
    EXPECT_EQ(overridden, 2) << "--port wins over UPDATE_PORT";
    EXPECT_EQ(LastLine(ReadAll(trace)), "SUCCESS - Completed XSVF execution.\r");
    EXPECT_TRUE(ReadAll(m_folder.Path() + "/xsvf_debug.txt").empty()) << "no trace in the current folder";
}

}  // namespace
