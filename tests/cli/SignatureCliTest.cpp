// Signed update files as a technician meets them: update-cli and mkupd with
// keys and signatures made by the minisign program, against a simulated device.

#include "ChildProcess.h"
#include "Devsim.h"
#include "MinisignTool.h"
#include "UpdateFileFixture.h"
#include "WaitUntil.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

using namespace devupdate;
using namespace devupdate::update;
using namespace devupdate::devsim;
using namespace devupdate::svf;
using namespace devupdate::mkupd;

namespace {

using namespace std::chrono_literals;

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string KeyIdOf(const SMinisignKeyPair& keys)
{
    const std::string text = ReadAll(keys.publicKey);
    const std::string comment = text.substr(0, text.find('\n'));
    return comment.substr(comment.rfind(' ') + 1);
}

mkupd::SUpdateFile OneFirmwareTarget(uint8_t fill)
{
    mkupd::SUpdateTarget target;
    target.number = 1;
    target.name = "Controller";
    target.data = mkupd::MakeFirmwareBlocks(std::vector<uint8_t>(8, fill), 998, false);
    return {mkupd::FileVersion::V1_01, {target}};
}

class SignatureCliTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* old = std::getenv("XDG_CONFIG_HOME");
        m_oldConfig = old != nullptr ? std::optional<std::string>(old) : std::nullopt;
        setenv("XDG_CONFIG_HOME", m_config.Path().c_str(), 1);
        m_maker = MakeMinisignKeys(m_folder.Path(), "maker");
        m_other = MakeMinisignKeys(m_folder.Path(), "other");
        m_path = m_folder.Write("fw.upd", mkupd::WriteUpdateFile(OneFirmwareTarget(0xA5)));
    }
    void TearDown() override
    {
        if (m_oldConfig)
            setenv("XDG_CONFIG_HOME", m_oldConfig->c_str(), 1);
        else
            unsetenv("XDG_CONFIG_HOME");
    }

    void TrustMaker()
    {
        const std::string folder = m_config.Path() + "/update/trusted-keys";
        std::filesystem::create_directories(folder);
        std::filesystem::copy_file(m_maker.publicKey, folder + "/maker.pub");
    }

    void StartDevice(SDevsimConfig config = {})
    {
        m_device = std::make_unique<CDevsim>(std::move(config));
        m_device->Start();
    }

    int Run(const std::string& program, const std::vector<std::string>& args)
    {
        CChildProcess child(program, args);
        const int status = child.Wait(30000);
        m_stdout = child.Stdout();
        m_stderr = child.Stderr();
        return status;
    }

    std::string Refusal(const std::string& reason) const
    {
        return "Error: " + m_path + " is not signed by a trusted key.\n" + reason + "\n";
    }

    CTempFolder m_config;
    CTempFolder m_folder;
    std::optional<std::string> m_oldConfig;
    SMinisignKeyPair m_maker, m_other;
    std::string m_path;
    std::unique_ptr<CDevsim> m_device;
    std::string m_stdout, m_stderr;
};

TEST_F(SignatureCliTest, AFileSignedByATrustedKeyRunsAndItsSignatureIsReported)
{
    TrustMaker();
    SignWithMinisign(m_maker, m_path, "release 4.2");
    const std::string line = "signed by " + KeyIdOf(m_maker) + ": release 4.2 (trusted)\n";
    EXPECT_EQ(Run("update-cli", {"--check", m_path}), 0) << m_stderr;
    EXPECT_EQ(m_stdout, "Version: V1.01\n" + line + "1: Controller, stored 10 bytes, estimated 0.0 s at 57600 baud\n");
    EXPECT_EQ(Run("update-cli", {"--list", m_path}), 0) << m_stderr;
    EXPECT_NE(m_stdout.find("Version: V1.01\n" + line), std::string::npos) << m_stdout;

    StartDevice();
    const std::string log = m_folder.Path() + "/runs.log";
    EXPECT_EQ(Run("update-cli", {"--json", "--log", log, "--port", m_device->SlavePath(), m_path}), 0) << m_stdout;
    const nlohmann::json expected = {{"key_id", KeyIdOf(m_maker)}, {"trusted_comment", "release 4.2"}, {"trusted", true}};
    const std::string lastLine = LastLine(m_stdout);
    EXPECT_EQ(nlohmann::json::parse(lastLine, nullptr, false)["signature"], expected) << lastLine;
    EXPECT_EQ(nlohmann::json::parse(ReadAll(log), nullptr, false)["signature"], expected);
    EXPECT_EQ(m_device->Images().at(1), std::vector<uint8_t>(8, 0xA5));
}

struct SRefusalCase {
    const char* name;
    bool legacy;
    // Done to the signed file (or its signature) before update-cli sees it.
    void (*tamper)(const std::string& path, const SMinisignKeyPair& other);
    const char* reason;  // %f: the signature file, %k: the other key's ID
};

void PrintTo(const SRefusalCase& c, std::ostream* out)
{
    *out << c.name;
}

void Rewrite(const std::string& path, std::string (*change)(std::string))
{
    const std::string changed = change(ReadAll(path));
    std::ofstream(path, std::ios::binary | std::ios::trunc) << changed;
}

const SRefusalCase kRefusals[] = {
    {"OneByteChanged", false,
     [](const std::string& path, const SMinisignKeyPair&) {
         Rewrite(path, [](std::string bytes) { return bytes.replace(bytes.size() - 4, 1, "\x5A"); });
     },
     "The file was changed after it was signed."},
    {"LegacySignatureOneByteChanged", true,
     [](const std::string& path, const SMinisignKeyPair&) {
         Rewrite(path, [](std::string bytes) { return bytes.replace(bytes.size() - 4, 1, "\x5A"); });
     },
     "The file was changed after it was signed."},
    {"TrustedCommentChanged", false,
     [](const std::string& path, const SMinisignKeyPair&) {
         Rewrite(path + ".minisig", [](std::string text) { return text.replace(text.find("release"), 7, "RELEASE"); });
     },
     "The trusted comment was changed after it was signed."},
    {"AnotherKey", false,
     [](const std::string& path, const SMinisignKeyPair& other) { SignWithMinisign(other, path, "release 4.2"); },
     "It is signed by key %k, which is not trusted."},
    {"NoSignatureFile", false,
     [](const std::string& path, const SMinisignKeyPair&) { std::filesystem::remove(path + ".minisig"); },
     "There is no signature file %f."},
    {"SignatureFileCut", false,
     [](const std::string& path, const SMinisignKeyPair&) {
         Rewrite(path + ".minisig", [](std::string text) { return text.substr(0, text.size() / 2); });
     },
     "The signature file %f is damaged."},
};

class SignatureRefusalTest : public SignatureCliTest, public ::testing::WithParamInterface<SRefusalCase> {};

TEST_P(SignatureRefusalTest, RefusedBeforeThePortIsOpenedWithItsReason)
{
    const SRefusalCase& c = GetParam();
    TrustMaker();
    SignWithMinisign(m_maker, m_path, "release 4.2", c.legacy);
    c.tamper(m_path, m_other);
    std::string reason = c.reason;
    if (const size_t at = reason.find("%f"); at != std::string::npos)
        reason.replace(at, 2, m_path + ".minisig");
    if (const size_t at = reason.find("%k"); at != std::string::npos)
        reason.replace(at, 2, KeyIdOf(m_other));

    StartDevice();
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--port", m_device->SlavePath(), m_path}, {"--check", m_path}, {"--list", m_path}}) {
        SCOPED_TRACE(args[0]);
        EXPECT_EQ(Run("update-cli", args), 2);
        EXPECT_EQ(m_stderr, Refusal(reason));
        EXPECT_EQ(m_stdout, "");
    }
    // A station's pass is a run of its own: it checks the file each time.
    EXPECT_EQ(Run("update-cli", {"--station", "--count", "1", "--port", m_device->SlavePath(), m_path}), 2);
    const std::string port = m_device->SlavePath();
    EXPECT_EQ(m_stderr, port + ": Error: " + m_path + " is not signed by a trusted key.\n" + port + ": " + reason + "\n");
    EXPECT_TRUE(m_device->Traffic().empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, SignatureRefusalTest, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SignatureCliTest, WithoutTrustedKeysFilesRunAsBeforeUnlessSignaturesAreRequired)
{
    StartDevice();
    EXPECT_EQ(Run("update-cli", {"--port", m_device->SlavePath(), m_path}), 0) << m_stderr;
    EXPECT_EQ(Run("update-cli", {"--json", "--port", m_device->SlavePath(), m_path}), 0) << m_stderr;
    EXPECT_TRUE(nlohmann::json::parse(LastLine(m_stdout), nullptr, false)["signature"].is_null()) << m_stdout;
    EXPECT_EQ(m_device->SessionsEnded(), 2u);

    SignWithMinisign(m_other, m_path, "nightly");
    EXPECT_EQ(Run("update-cli", {"--check", m_path}), 0);
    EXPECT_NE(m_stdout.find("\nsigned by " + KeyIdOf(m_other) + ": nightly (not trusted)\n"), std::string::npos);

    const size_t before = m_device->Traffic().size();
    EXPECT_EQ(Run("update-cli", {"--require-signature", "--port", m_device->SlavePath(), m_path}), 2);
    EXPECT_EQ(m_stderr, Refusal("It is signed by key " + KeyIdOf(m_other) + ", which is not trusted."));
    std::filesystem::remove(m_path + ".minisig");
    EXPECT_EQ(Run("update-cli", {"--require-signature", "--check", m_path}), 2);
    EXPECT_EQ(m_stderr, Refusal("There is no signature file " + m_path + ".minisig."));
    EXPECT_EQ(m_device->Traffic().size(), before);
}

// The file is replaced while update-cli waits for the device: the device
// still gets the bytes that were verified.
TEST_F(SignatureCliTest, AFileSwappedAfterTheCheckDoesNotReachTheDevice)
{
    TrustMaker();
    SignWithMinisign(m_maker, m_path, "release 4.2");
    SDevsimConfig config;
    config.powerOnAfterWakeups = 2000;
    StartDevice(config);
    CChildProcess child("update-cli", {"--port", m_device->SlavePath(), m_path});
    ASSERT_TRUE(WaitUntil([&] { return !m_device->Traffic().empty(); }, 20s));
    const std::string other = m_folder.Write("other.upd", mkupd::WriteUpdateFile(OneFirmwareTarget(0x5A)));
    SignWithMinisign(m_maker, other, "release 4.3");
    std::ofstream(m_path, std::ios::binary | std::ios::trunc) << ReadAll(other);
    std::filesystem::rename(other + ".minisig", m_path + ".minisig");
    EXPECT_EQ(child.Wait(30000), 0) << child.Stderr();
    EXPECT_EQ(m_device->Images().at(1), std::vector<uint8_t>(8, 0xA5));
}

TEST_F(SignatureCliTest, MkupdSignsWhatItWritesAsMinisignVerifies)
{
    const std::string data = m_folder.Write("fw.bin", std::string("\x00\x02\x01\x02", 4));
    const std::string out = m_folder.Path() + "/signed.upd";
    EXPECT_EQ(Run("mkupd", {"-o", out, "--sign", m_maker.secretKey, "--trusted-comment", "board 7", "--target", "1",
                            "--name", "A", "--type", "firmware", "--data", data, "--as-is"}),
              0)
        << m_stderr;
    EXPECT_TRUE(MinisignVerifies(m_maker, out));
    EXPECT_FALSE(MinisignVerifies(m_other, out));
    TrustMaker();
    EXPECT_EQ(Run("update-cli", {"--check", out}), 0) << m_stderr;
    EXPECT_NE(m_stdout.find("signed by " + KeyIdOf(m_maker) + ": board 7 (trusted)\n"), std::string::npos) << m_stdout;
}

}  // namespace
