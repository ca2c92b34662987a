// update-station's command line and its remembered choice.

#include "StationConfig.h"
#include "StationOptions.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

int Parse(std::vector<std::string> args, SStationOptions& options)
{
    args.insert(args.begin(), "update-station");
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    return ParseStationOptions(static_cast<int>(argv.size()), argv.data(), options);
}

TEST(StationOptionsTest, EachPortTakesOneValueAndTheFileStaysTheFile)
{
    SStationOptions options;
    ASSERT_EQ(Parse({"--port", "Com1", "--port", "/dev/ttyUSB0", "--count", "2", "--log", "s.jsonl", "--start",
                     "board.upd"},
                    options),
              -1);
    EXPECT_EQ(options.ports, (std::vector<std::string>{"Com1", "/dev/ttyUSB0"}));
    EXPECT_EQ(options.passCount, 2u);
    EXPECT_EQ(options.logFile, "s.jsonl");
    EXPECT_TRUE(options.start);
    EXPECT_EQ(options.file, "board.upd");
}

TEST(StationOptionsTest, UsageErrorsEndWithStatus2)
{
    std::vector<std::string> seventeen;
    for (int i = 1; i <= 17; ++i)
        seventeen.insert(seventeen.end(), {"--port", "/dev/ttyUSB" + std::to_string(i)});
    seventeen.push_back("board.upd");
    const std::vector<std::vector<std::string>> cases = {
        {"--start"}, {"--count", "0", "board.upd"}, {"--bogus"}, {"a.upd", "b.upd"}, seventeen};
    for (const std::vector<std::string>& args : cases) {
        SStationOptions options;
        EXPECT_EQ(Parse(args, options), 2) << args.front();
    }
}

TEST(StationConfigTest, TheChoiceComesBackAndNeverReplacesTheUpdateFile)
{
    char folder[] = "/tmp/station-config-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string path = std::string(folder) + "/update/station.cfg";
    std::string error;
    ASSERT_TRUE(WriteStationConfig(path, {"/srv/board.upd", {"Com1", "/dev/ttyUSB3"}}, error)) << error;
    const SStationConfig read = ReadStationConfig(path);
    EXPECT_EQ(read.file, "/srv/board.upd");
    EXPECT_EQ(read.ports, (std::vector<std::string>{"Com1", "/dev/ttyUSB3"}));

    EXPECT_FALSE(WriteStationConfig(path, {path, {"Com2"}}, error));
    EXPECT_NE(error.find("is the update file"), std::string::npos) << error;
    EXPECT_EQ(ReadStationConfig(path).ports, read.ports);
    EXPECT_EQ(std::system(("rm -rf " + std::string(folder)).c_str()), 0);
}

}  // namespace
