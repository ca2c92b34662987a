// Every committed fuzz input, seeds and the inputs of fixed findings, goes
// through its harness again: a finding that comes back fails here.

#include "FuzzCheck.h"
#include "FuzzHarnesses.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

struct SHarness {
    const char* name;
    int (*run)(const uint8_t*, size_t);
};

const SHarness kHarnesses[] = {
    {"update_file", FuzzUpdateFile},
    {"xsvf_player", FuzzXsvfPlayer},
    {"update_worker", FuzzUpdateWorker},
    {"port_setting", FuzzPortSetting},
    {"svf", FuzzSvf},
    {"xsvf_listing", FuzzXsvfListing},
    {"station_events", FuzzStationEvents},
};

std::vector<std::filesystem::path> InputsOf(const std::string& harness)
{
    std::vector<std::filesystem::path> inputs;
    for (const char* kind : {"corpus", "regressions"}) {
        const std::filesystem::path folder = std::filesystem::path(FUZZ_SOURCE_DIR) / kind / harness;
        if (!std::filesystem::is_directory(folder))
            continue;
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            if (entry.is_regular_file())
                inputs.push_back(entry.path());
    }
    return inputs;
}

class FuzzReplayTest : public ::testing::TestWithParam<SHarness> {
protected:
    void SetUp() override { SetFuzzFindingsThrow(true); }
    void TearDown() override { SetFuzzFindingsThrow(false); }
};

TEST_P(FuzzReplayTest, SavedInputsKeepEveryInvariant)
{
    const std::vector<std::filesystem::path> inputs = InputsOf(GetParam().name);
    ASSERT_FALSE(inputs.empty()) << "no seed corpus for " << GetParam().name;
    for (const auto& input : inputs) {
        std::ifstream in(input, std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_NO_THROW(GetParam().run(bytes.data(), bytes.size())) << input;
    }
}

INSTANTIATE_TEST_SUITE_P(Harnesses, FuzzReplayTest, ::testing::ValuesIn(kHarnesses),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
