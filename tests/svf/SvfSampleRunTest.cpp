// Real-world SVF files end to end: mkupd converts and packs each sample,
// update-cli plays it over a pseudo-terminal against the simulated device in
// SVF expectation mode, and the run passes only when every scan matched and
// the tool reports success. Skips when the samples folder is absent.
//
// Each run prints its figures: SVF size, XSVF size, bytes on the wire and the
// time the run would take at 57600 baud (10 bits a byte plus the waits).

#include "ChildProcess.h"
#include "Devsim.h"
#include "SvfToXsvf.h"
#include "UpdateFileFixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

using namespace devupdate;
using namespace devupdate::update;
using namespace devupdate::devsim;
using namespace devupdate::svf;
using namespace devupdate::mkupd;

namespace {

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class SvfSampleRunTest : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override
    {
        m_svfPath = std::string(SVF_SAMPLES_DIR) + "/" + GetParam() + ".svf";
        if (!std::filesystem::exists(m_svfPath)) {
            GTEST_SKIP() << "no sample " << m_svfPath;
        }
        ASSERT_NE(getcwd(m_previousDir, sizeof m_previousDir), nullptr);
        ASSERT_EQ(chdir(m_folder.Path().c_str()), 0);  // the trace file lands there
        m_changedDir = true;
    }
    void TearDown() override
    {
        if (m_changedDir) {
            EXPECT_EQ(chdir(m_previousDir), 0);
        }
    }

    static int Run(const std::string& program, const std::vector<std::string>& args, std::string& out, int timeoutMs)
    {
        CChildProcess child(program, args);
        const int status = child.Wait(timeoutMs);
        out = child.Stdout() + child.Stderr();
        return status;
    }

    CTempFolder m_folder;
    std::string m_svfPath;
    char m_previousDir[4096] = {};
    bool m_changedDir = false;
};

TEST_P(SvfSampleRunTest, ConvertsPacksAndPlaysEveryScanAsTheFileAsks)
{
    const std::string svf = ReadText(m_svfPath);
    const std::string updPath = m_folder.Path() + "/sample.upd";
    std::string out;
    ASSERT_EQ(Run("mkupd", {"-o", updPath, "--target", "1", "--name", "Logic", "--type", "svf", "--data", m_svfPath},
                  out, 60000),
              0)
        << out;
    EXPECT_NE(out.find(" SVF commands in, "), std::string::npos) << out;

    SDevsimConfig config;
    config.svfScans = std::make_shared<const std::vector<SSvfScan>>(SvfScans(ReadSvf(svf)));
    CDevsim device(config);
    device.Start();
    const auto start = std::chrono::steady_clock::now();
    const int status = Run("update-cli", {"--quiet", "--port", device.SlavePath(), updPath}, out, 240000);
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("1 of 1 targets updated successfully."), std::string::npos) << out;
    ASSERT_TRUE(device.WaitForSessions(1, std::chrono::seconds(5)));
    const SSvfCheck check = device.SvfCheck();
    EXPECT_TRUE(check.Passed()) << check.firstMismatch;
    EXPECT_EQ(check.matched, check.expected);
    EXPECT_GT(check.expected, 0u);

    // The figures, from the tool's start byte on (the wake-up depends on timing).
    size_t wire = 0;
    bool started = false;
    for (const STrafficByte& traffic : device.Traffic()) {
        started = started || (traffic.fromTool && traffic.byte == 0xA3);
        wire += started ? 1 : 0;
    }
    const SSvfConversion conversion = ConvertSvfToXsvf(svf);
    const double lineSeconds = wire * 10.0 / 57600 + conversion.statistics.waitMicroseconds / 1e6;
    std::printf("%s: SVF %zu bytes, XSVF %zu bytes, %zu bytes on the wire, %.1f s at 57600 baud "
                "(%.1f s of waits), %zu scans; unpaced run %.1f s\n",
                GetParam(), svf.size(), conversion.xsvf.size(), wire, lineSeconds,
                conversion.statistics.waitMicroseconds / 1e6, check.expected, wall.count());
}

// FNV-1a, 64 bits: a fingerprint to compare outputs with those of an earlier build.
uint64_t Fingerprint(const std::string& bytes)
{
    uint64_t hash = 0xcbf29ce484222325ull;
    for (const char c : bytes)
        hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
    return hash;
}

// Size and fingerprint of each sample's XSVF stream as the converter wrote it
// before it streamed, when it held the whole file: streaming changes nothing.
struct SPinnedOutput {
    const char* sample;
    size_t size;
    uint64_t fingerprint;
};

const SPinnedOutput PINNED_XSVF[] = {
    {"sample-a", 56, 0x844aa5e78bf5e542ull},    {"sample-b", 29, 0x5c2edf4d852c2305ull},
    {"sample-c", 33517, 0x545ffdac3d114a6bull}, {"sample-d", 28240, 0x9440a95874760f0aull},
    {"sample-e", 21606, 0xa9c205743c6d9a64ull}, {"sample-f", 30168, 0xb32ff62b68f3bcc6ull},
};

// The same for update-cli --list of an update file holding all six samples
// as targets 1 to 6 named "svf a" to "svf f", and of one holding sample-f packed.
// The listing less every ", estimated N.N s at 57600 baud".
std::string WithoutEstimates(std::string listing)
{
    static const std::string START = ", estimated ";
    static const std::string END = " s at 57600 baud";
    for (size_t at = listing.find(START); at != std::string::npos; at = listing.find(START, at)) {
        const size_t end = listing.find(END, at);
        if (end == std::string::npos)
            break;
        listing.erase(at, end + END.size() - at);
    }
    return listing;
}

const SPinnedOutput PINNED_LISTINGS[] = {
    {"all", 484043, 0x22f5d772a4a70ae5ull},
    {"packed", 172620, 0x543240cb5e28fc93ull},
};

TEST(SvfSampleOutput, ConversionsAndListingsAreTheSameAsBeforeStreaming)
{
    if (!std::filesystem::exists(std::string(SVF_SAMPLES_DIR) + "/sample-a.svf"))
        GTEST_SKIP() << "no samples in " << SVF_SAMPLES_DIR;
    mkupd::SUpdateFile all, packed;
    for (const SPinnedOutput& pinned : PINNED_XSVF) {
        const std::string path = std::string(SVF_SAMPLES_DIR) + "/" + pinned.sample + ".svf";
        const std::vector<uint8_t> xsvf = ConvertSvfToXsvf(ReadText(path)).xsvf;
        EXPECT_EQ(xsvf.size(), pinned.size) << pinned.sample;
        EXPECT_EQ(Fingerprint(std::string(xsvf.begin(), xsvf.end())), pinned.fingerprint) << pinned.sample;

        mkupd::SUpdateTarget target;
        target.number = static_cast<unsigned>(all.targets.size() + 1);
        target.name = std::string("svf ") + pinned.sample[7];
        target.type = mkupd::TYPE_XSVF;
        target.data = xsvf;
        all.targets.push_back(target);
        if (std::string(pinned.sample) == "sample-f") {
            target.number = 1;
            target.name = "packed";
            target.packed = true;
            packed.targets.push_back(target);
        }
    }
    CTempFolder folder;
    const mkupd::SUpdateFile* files[] = {&all, &packed};
    for (size_t i = 0; i < std::size(PINNED_LISTINGS); ++i) {
        const std::vector<uint8_t> bytes = mkupd::WriteUpdateFile(*files[i]);
        const std::string path = folder.Write(std::string(PINNED_LISTINGS[i].sample) + ".upd",
                                              std::string(bytes.begin(), bytes.end()));
        CChildProcess child("update-cli", {"--list", path});
        EXPECT_EQ(child.Wait(60000), 0);
        // The pins predate the time estimates and the signature line; everything
        // else must be as it was.
        std::string listing = WithoutEstimates(child.Stdout() + child.Stderr());
        const size_t signatureLine = listing.find("\nnot signed\n");
        EXPECT_NE(signatureLine, std::string::npos);
        if (signatureLine != std::string::npos)
            listing.erase(signatureLine + 1, std::string("not signed\n").size());
        EXPECT_EQ(listing.size(), PINNED_LISTINGS[i].size) << PINNED_LISTINGS[i].sample;
        EXPECT_EQ(Fingerprint(listing), PINNED_LISTINGS[i].fingerprint) << PINNED_LISTINGS[i].sample;
    }
}

INSTANTIATE_TEST_SUITE_P(Samples, SvfSampleRunTest,
                         ::testing::Values("sample-a", "sample-b", "sample-c", "sample-d", "sample-e", "sample-f"),
                         [](const auto& info) {
                             std::string name = info.param;
                             name.erase(name.find('-'), 1);
                             return name;
                         });

}  // namespace
