// Big files at constant memory, the way a user meets them: mkupd and
// update-cli as child processes under an address-space limit, on files of
// real size written to disk. Under the sanitizers (whose shadow memory needs
// terabytes of address space) the limits cannot apply, so the tests skip.

#include "ChildProcess.h"
#include "Devsim.h"
#include "LargeInputs.h"
#include "SvfToXsvf.h"
#include "UpdateFileFixture.h"
#include "UpdateFileWriter.h"
#include "XsvfWriter.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/mount.h>
#include <unistd.h>

using namespace devupdate;
using namespace devupdate::xsvf;
using namespace devupdate::update;
using namespace devupdate::devsim;
using namespace devupdate::svf;
using namespace devupdate::mkupd;
using namespace devupdate::xsvfgen;

namespace {

constexpr size_t MiB = 1024 * 1024;
constexpr size_t CONVERSION_LIMIT = 64 * MiB;
constexpr size_t LISTING_LIMIT = 32 * MiB;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool SANITIZED = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool SANITIZED = true;
#else
constexpr bool SANITIZED = false;
#endif
#else
constexpr bool SANITIZED = false;
#endif

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class LargeInputTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (SANITIZED)
            GTEST_SKIP() << "address-space limits do not apply under a sanitizer";
    }

    int Run(const std::string& program, const std::vector<std::string>& args, size_t limit)
    {
        CChildProcess child(program, args, limit);
        const int status = child.Wait(120000);
        m_stdout = child.Stdout();
        m_stderr = child.Stderr();
        return status;
    }

    // An update file with one XSVF target holding `stream`.
    std::string WriteXsvfUpdateFile(const std::string& name, const Bytes& stream) const
    {
        mkupd::SUpdateFile file;
        mkupd::SUpdateTarget target;
        target.type = mkupd::TYPE_XSVF;
        target.name = "Logic";
        target.data = stream;
        file.targets.push_back(target);
        const std::vector<uint8_t> bytes = mkupd::WriteUpdateFile(file);
        return m_folder.Write(name, std::string(bytes.begin(), bytes.end()));
    }

    // The files in the folder besides `keep` (a temporary file left behind shows up here).
    std::vector<std::string> Leftovers(const std::vector<std::string>& keep) const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(m_folder.Path())) {
            const std::string name = entry.path().filename().string();
            if (std::find(keep.begin(), keep.end(), name) == keep.end())
                names.push_back(name);
        }
        return names;
    }

    CTempFolder m_folder;
    std::string m_stdout;
    std::string m_stderr;
};

TEST_F(LargeInputTest, ConvertsALargeSvfWithinTheMemoryLimitAsTheLibraryDoes)
{
    const std::string svf = m_folder.Path() + "/large.svf";
    const std::string xsvf = m_folder.Path() + "/large.xsvf";
    WriteLargeSvf(svf, 24 * 1000 * 1000);
    ASSERT_EQ(Run("mkupd", {"--svf-to-xsvf", svf, xsvf}, CONVERSION_LIMIT), 0) << m_stderr;

    std::ifstream in(svf, std::ios::binary);
    std::ifstream written(xsvf, std::ios::binary);
    size_t offset = 0;
    bool same = true;
    SSvfNotes notes;
    ConvertSvfStream(
        in,
        [&](const uint8_t* data, size_t size) {
            std::string piece(size, '\0');
            written.read(piece.data(), static_cast<std::streamsize>(size));
            same = same && piece == std::string(reinterpret_cast<const char*>(data), size);
            offset += size;
        },
        {}, notes, 0);
    EXPECT_TRUE(same);
    EXPECT_EQ(std::filesystem::file_size(xsvf), offset);
    EXPECT_EQ(Leftovers({"large.svf", "large.xsvf"}), std::vector<std::string>{});
}

TEST_F(LargeInputTest, AbsurdHeaderIsRefusedWithItsLineBeforeAnythingIsWritten)
{
    // Every scan carries 16777215 header bits: over 4 GiB of XSVF from a file of a few kilobytes.
    std::string text = "HDR 16777215 TDI (0);\n";
    for (int i = 0; i < 1000; ++i)
        text += "SDR 8 TDI (A5);\n";
    const std::string svf = m_folder.Write("absurd.svf", text);
    const std::string xsvf = m_folder.Write("absurd.xsvf", std::string("kept"));
    EXPECT_EQ(Run("mkupd", {"--svf-to-xsvf", svf, xsvf}, CONVERSION_LIMIT), 2);
    EXPECT_NE(m_stderr.find(svf + ": line 1: HDR 16777215 "), std::string::npos) << m_stderr;
    EXPECT_EQ(ReadFile(xsvf), "kept");
    EXPECT_EQ(Leftovers({"absurd.svf", "absurd.xsvf"}), std::vector<std::string>{});
}

TEST_F(LargeInputTest, ListsALargeXsvfWithinTheMemoryLimit)
{
    const std::string upd = m_folder.Path() + "/large.upd";
    const std::string listing = m_folder.Path() + "/listing.txt";
    WriteLargeXsvfUpdateFile(upd, 20 * 1000 * 1000);
    ASSERT_EQ(Run("update-cli", {"--list", upd, "--out", listing}, LISTING_LIMIT), 0) << m_stderr;
    EXPECT_EQ(ReadFile(listing), m_stdout);
    const std::string end = ": XCOMPLETE\nEnd of body: 1 record.\n";
    ASSERT_GT(m_stdout.size(), end.size());
    EXPECT_EQ(m_stdout.substr(m_stdout.size() - end.size()), end);
}

TEST_F(LargeInputTest, ListsAHugeCommentInPiecesWithinTheMemoryLimit)
{
    const std::string comment(48 * MiB, 'c');
    CXsvfWriter writer;
    writer.Comment(comment).Complete();
    const std::string upd = WriteXsvfUpdateFile("comment.upd", writer.Stream());

    ASSERT_EQ(Run("update-cli", {"--list", upd}, LISTING_LIMIT), 0) << m_stderr;
    const std::string line = "1: XCOMMENT \"" + comment + "\"\n2: XCOMPLETE\n";
    EXPECT_NE(m_stdout.find(line), std::string::npos);
}

// The trace grows about thirteen times faster than the stream; on a disk
// that is full the run goes on as if nothing happened (the trace keeps what
// fitted). A small tmpfs is the full disk; where mounting is not permitted
// the test skips.
TEST_F(LargeInputTest, TraceOnAFullDiskDoesNotStopTheRun)
{
    constexpr size_t DISK_BYTES = 16 * 1024;
    const std::string disk = m_folder.Path() + "/disk";
    ASSERT_EQ(mkdir(disk.c_str(), 0755), 0);
    if (mount("tmpfs", disk.c_str(), "tmpfs", 0, ("size=" + std::to_string(DISK_BYTES)).c_str()) != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    char previous[4096] = {};
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(disk.c_str()), 0);  // update-cli writes its trace into its current folder

    CXsvfWriter writer;
    writer.Repeat(0).SdrSize(32).TdoMask(0);
    for (uint32_t i = 0; i < 2000; ++i)
        writer.Sir(8, {static_cast<uint8_t>(i)}).Sdr(i);
    writer.Complete();
    const std::string upd = WriteXsvfUpdateFile("trace.upd", writer.Stream());
    CDevsim device(SDevsimConfig{});
    device.Start();
    const int status = Run("update-cli", {"--quiet", "--port", device.SlavePath(), upd}, 0);

    EXPECT_EQ(chdir(previous), 0);
    const std::string trace = disk + "/xsvf_debug.txt";
    const bool traced = std::filesystem::exists(trace);
    const uintmax_t traceBytes = traced ? std::filesystem::file_size(trace) : 0;
    EXPECT_EQ(umount2(disk.c_str(), MNT_DETACH), 0) << std::strerror(errno);
    EXPECT_EQ(status, 0) << m_stdout << m_stderr;
    EXPECT_NE(m_stdout.find("1 of 1 targets updated successfully."), std::string::npos) << m_stdout;
    EXPECT_TRUE(traced);
    EXPECT_GT(traceBytes, 0u);
    EXPECT_LE(traceBytes, DISK_BYTES) << traceBytes;
    EXPECT_GT(traceBytes, DISK_BYTES / 2) << "the trace must have filled the disk";
}

}  // namespace
