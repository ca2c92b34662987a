// The signature check against signatures made by the minisign program.

#include "MinisignTool.h"
#include "SignatureCheck.h"
#include "UpdateFileFixture.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <memory>

using namespace devupdate::update;
using namespace devupdate::mkupd;

namespace {

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const std::string kContent = "Firmwareupdate-Fileformat-V1.01\n00\n00";

class SignatureCheckTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_keys = std::make_unique<CTempFolder>();
        s_maker = MakeMinisignKeys(s_keys->Path(), "maker");
        s_other = MakeMinisignKeys(s_keys->Path(), "other");
    }
    static void TearDownTestSuite() { s_keys.reset(); }

    // The maker's key as the only trusted one.
    static STrustedKeys MakerTrusted()
    {
        STrustedKeys keys;
        keys.anyKeyFile = true;
        keys.keys.push_back(*ParsePublicKey(ReadAll(s_maker.publicKey)));
        return keys;
    }

    SSignatureCheck Check(const STrustedKeys& keys, bool require = false)
    {
        FILE* file = std::fopen(m_path.c_str(), "rb");
        EXPECT_NE(file, nullptr);
        SSignatureCheck check = CheckFileSignature(file, m_path, require, keys);
        std::fclose(file);
        if (check.verifiedCopy != nullptr)
            m_copy = ReadCopy(check.verifiedCopy);
        return check;
    }

    static std::string ReadCopy(FILE* copy)
    {
        std::string bytes;
        for (int c; (c = std::fgetc(copy)) != EOF;)
            bytes += static_cast<char>(c);
        std::fclose(copy);
        return bytes;
    }

    static std::unique_ptr<CTempFolder> s_keys;
    static SMinisignKeyPair s_maker;
    static SMinisignKeyPair s_other;
    CTempFolder m_folder;
    std::string m_path = m_folder.Write("signed.upd", kContent);
    std::string m_copy;
};

std::unique_ptr<CTempFolder> SignatureCheckTest::s_keys;
SMinisignKeyPair SignatureCheckTest::s_maker;
SMinisignKeyPair SignatureCheckTest::s_other;

TEST_F(SignatureCheckTest, KeyIdIsShownAsMinisignShowsIt)
{
    const std::string text = ReadAll(s_maker.publicKey);
    const std::string comment = text.substr(0, text.find('\n'));
    EXPECT_EQ(comment, "untrusted comment: minisign public key " + KeyIdText(ParsePublicKey(text)->keyId));
    // One key in sixteen has a leading zero digit, which minisign leaves out.
    EXPECT_EQ(KeyIdText({0x05, 0xD8, 0x7F, 0xCE, 0x34, 0x3E, 0x69, 0x02}), "2693E34CE7FD805");
    EXPECT_EQ(KeyIdText({}), "0");
}

struct SSignatureCase {
    const char* name;
    bool legacy;
    // What happens to the file (path) or its signature file after signing.
    std::function<void(const std::string& path, const SMinisignKeyPair& other)> afterSigning;
    const char* problem;  // %s: the signature file's path; empty: the signature holds
};

void PrintTo(const SSignatureCase& c, std::ostream* out)
{
    *out << c.name;
}

void ChangeOneByte(const std::string& path, const SMinisignKeyPair&)
{
    std::string bytes = ReadAll(path);
    bytes[5] ^= 0x01;
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

const SSignatureCase kCases[] = {
    {"Signed", false, [](const std::string&, const SMinisignKeyPair&) {}, ""},
    {"LegacySigned", true, [](const std::string&, const SMinisignKeyPair&) {}, ""},
    {"ByteChanged", false, ChangeOneByte, "The file was changed after it was signed."},
    {"LegacyByteChanged", true, ChangeOneByte, "The file was changed after it was signed."},
    {"CommentChanged", false,
     [](const std::string& path, const SMinisignKeyPair&) {
         std::string signature = ReadAll(path + ".minisig");
         signature.replace(signature.find("release 1"), 9, "release 2");
         std::ofstream(path + ".minisig", std::ios::binary | std::ios::trunc) << signature;
     },
     "The trusted comment was changed after it was signed."},
    {"OtherKey", false,
     [](const std::string& path, const SMinisignKeyPair& other) { SignWithMinisign(other, path, "release 1"); },
     "It is signed by key %s, which is not trusted."},
    {"NoSignatureFile", false,
     [](const std::string& path, const SMinisignKeyPair&) { std::remove((path + ".minisig").c_str()); },
     "There is no signature file %s."},
    {"SignatureCut", false,
     [](const std::string& path, const SMinisignKeyPair&) {
         const std::string signature = ReadAll(path + ".minisig");
         std::ofstream(path + ".minisig", std::ios::binary | std::ios::trunc) << signature.substr(0, signature.size() - 20);
     },
     "The signature file %s is damaged."},
};

class SignatureCaseTest : public SignatureCheckTest, public ::testing::WithParamInterface<SSignatureCase> {};

TEST_P(SignatureCaseTest, TrustedKeysRefuseWhatTheirOwnerDidNotSign)
{
    const SSignatureCase& c = GetParam();
    SignWithMinisign(s_maker, m_path, "release 1", c.legacy);
    c.afterSigning(m_path, s_other);
    const SSignatureCheck check = Check(MakerTrusted());

    const std::string otherId = KeyIdText(ParsePublicKey(ReadAll(s_other.publicKey))->keyId);
    std::string problem = c.problem;
    if (const size_t at = problem.find("%s"); at != std::string::npos)
        problem.replace(at, 2, problem.find("key %s") != std::string::npos ? otherId : m_path + ".minisig");
    EXPECT_EQ(check.problem, problem);
    if (problem.empty()) {
        EXPECT_EQ(check.refusal, "");
        EXPECT_EQ(SignatureLine(check), "signed by " + KeyIdText(ParsePublicKey(ReadAll(s_maker.publicKey))->keyId) +
                                            ": release 1 (trusted)");
        EXPECT_EQ(m_copy, ReadAll(m_path));
    } else {
        EXPECT_EQ(check.refusal, "Error: " + m_path + " is not signed by a trusted key.\n" + problem);
        EXPECT_EQ(m_copy, "");
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, SignatureCaseTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SignatureCheckTest, WithoutTrustedKeysSignaturesAreOnlyDescribed)
{
    EXPECT_EQ(SignatureLine(Check({})), "not signed");
    EXPECT_EQ(Check({}).refusal, "");
    EXPECT_EQ(Check({}, true).refusal,
              "Error: " + m_path + " is not signed by a trusted key.\nThere is no signature file " + m_path +
                  ".minisig.");

    SignWithMinisign(s_other, m_path, "nightly\x01");
    const SSignatureCheck check = Check({});
    EXPECT_EQ(check.refusal, "");
    EXPECT_EQ(SignatureLine(check), "signed by " + check.signature->keyId + ": nightly\\x01 (not trusted)");
    EXPECT_EQ(Check({}, true).refusal, "Error: " + m_path + " is not signed by a trusted key.\nIt is signed by key " +
                                           check.signature->keyId + ", which is not trusted.");

    std::ofstream(m_path + ".minisig", std::ios::trunc) << "untrusted comment: x\n";
    EXPECT_EQ(SignatureLine(Check({})), "not signed: The signature file " + m_path + ".minisig is damaged.");
}

TEST_F(SignatureCheckTest, TheVerifiedCopyKeepsTheBytesThatWereVerified)
{
    SignWithMinisign(s_maker, m_path, "release 1");
    FILE* file = std::fopen(m_path.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    const SSignatureCheck check = CheckFileSignature(file, m_path, false, MakerTrusted());
    std::fclose(file);
    ASSERT_NE(check.verifiedCopy, nullptr);
    // Rewritten in place, and replaced by another file under the same name.
    std::ofstream(m_path, std::ios::binary | std::ios::trunc) << "Firmwareupdate-Fileformat-V1.00\n00\n00";
    std::rename(m_folder.Write("other.upd", "something else").c_str(), m_path.c_str());
    EXPECT_EQ(ReadCopy(check.verifiedCopy), kContent);
}

TEST_F(SignatureCheckTest, KeyFoldersTrustEveryValidPublicKeyAndADamagedOneStillRequiresSignatures)
{
    CTempFolder user, machine;
    user.Write("maker.pub", ReadAll(s_maker.publicKey));
    user.Write("other.pub.txt", ReadAll(s_other.publicKey));
    machine.Write("broken.pub", std::string("untrusted comment: x\nnot a key\n"));

    const STrustedKeys both = LoadTrustedKeys({user.Path(), machine.Path(), "/nonexistent/folder"});
    ASSERT_EQ(both.keys.size(), 1u);
    EXPECT_EQ(both.keys[0].keyId, ParsePublicKey(ReadAll(s_maker.publicKey))->keyId);
    EXPECT_TRUE(both.anyKeyFile);
    EXPECT_TRUE(LoadTrustedKeys({machine.Path()}).anyKeyFile);
    EXPECT_FALSE(LoadTrustedKeys({m_folder.Path(), "/nonexistent/folder"}).anyKeyFile);
}

}  // namespace
