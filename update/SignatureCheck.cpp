#include "SignatureCheck.h"

#include "PrintableText.h"
#include "StringTable.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace devupdate::res;

namespace devupdate::update {

namespace {

constexpr char SIGNATURE_SUFFIX[] = ".minisig";
// A signature file is four short lines; anything much larger is damaged.
constexpr size_t MAX_SIGNATURE_FILE_BYTES = 16 * 1024;

struct SSignatureFile {
    bool missing = false;
    std::string readError;  // errno text when it exists but cannot be read
    std::string text;
};

// Reads fd to its end, handing over every piece; false (with `error`) when a
// read fails or `take` refuses.
bool ReadAll(int fd, const std::function<bool(const uint8_t*, size_t)>& take, std::string& error)
{
    uint8_t buffer[65536];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got == 0)
            return true;
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            error = std::strerror(errno);
            return false;
        }
        if (!take(buffer, static_cast<size_t>(got)))
            return false;
    }
}

SSignatureFile ReadSignatureFile(const std::string& path)
{
    SSignatureFile file;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        file.missing = errno == ENOENT;
        file.readError = std::strerror(errno);
        return file;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        file.readError = std::strerror(errno);
    } else if (S_ISREG(info.st_mode) && static_cast<size_t>(info.st_size) <= MAX_SIGNATURE_FILE_BYTES) {
        (void)ReadAll(fd, [&](const uint8_t* data, size_t size) {
            file.text.append(reinterpret_cast<const char*>(data), size);
            return file.text.size() <= MAX_SIGNATURE_FILE_BYTES;
        }, file.readError);
    }
    (void)close(fd);  // read-only: nothing can be lost
    return file;
}

bool WriteAll(int fd, const uint8_t* data, size_t size)
{
    while (size > 0) {
        const ssize_t put = write(fd, data, size);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        data += put;
        size -= static_cast<size_t>(put);
    }
    return true;
}

// The verified bytes: a copy in memory, as a file read from its start.
struct SPrivateCopy {
    int fd = -1;
    std::array<uint8_t, 64> digest{};
    std::vector<uint8_t> bytes;  // the whole file, for a legacy signature only
    std::string error;
};

SPrivateCopy CopyFile(FILE* file, bool keepBytes)
{
    SPrivateCopy copy;
    copy.fd = memfd_create("verified update file", MFD_CLOEXEC);
    if (copy.fd < 0) {
        copy.error = std::strerror(errno);
        return copy;
    }
    CMinisignDigest digest;
    const bool copied = ReadAll(fileno(file), [&](const uint8_t* data, size_t size) {
        digest.Update(data, size);
        if (keepBytes)
            copy.bytes.insert(copy.bytes.end(), data, data + size);
        if (WriteAll(copy.fd, data, size))
            return true;
        copy.error = std::strerror(errno);
        return false;
    }, copy.error);
    if (copied && lseek(copy.fd, 0, SEEK_SET) != 0)
        copy.error = std::strerror(errno);
    if (!copied || !copy.error.empty()) {
        (void)close(copy.fd);  // an unfinished copy is dropped
        copy.fd = -1;
    }
    copy.digest = digest.Final();
    return copy;
}

// Verifies the signature with `key` over a private copy of the file; the
// problem is empty when it holds, and then check.verifiedCopy is set.
std::string VerifyCopy(FILE* file, const SMinisignPublicKey& key, const SMinisignSignature& signature,
                       SSignatureCheck& check)
{
    SPrivateCopy copy = CopyFile(file, !signature.prehashed);
    if (copy.fd < 0)
        return res::Format("The file cannot be read: %s.", copy.error.c_str());
    const bool fileHolds = signature.prehashed
                               ? VerifyMessage(key, signature, copy.digest.data(), copy.digest.size())
                               : VerifyMessage(key, signature, copy.bytes.data(), copy.bytes.size());
    std::string problem;
    if (!fileHolds)
        problem = "The file was changed after it was signed.";
    else if (!VerifyGlobal(key, signature))
        problem = "The trusted comment was changed after it was signed.";
    if (problem.empty())
        check.verifiedCopy = fdopen(copy.fd, "rb");
    if (check.verifiedCopy == nullptr) {
        if (problem.empty())
            problem = res::Format("The file cannot be read: %s.", std::strerror(errno));
        (void)close(copy.fd);  // only read from: nothing can be lost
    }
    return problem;
}

}  // namespace

SSignatureCheck CheckFileSignature(FILE* file, const std::string& fileName, bool requireSignature,
                                   const STrustedKeys& keys)
{
    SSignatureCheck check;
    const std::string signaturePath = fileName + SIGNATURE_SUFFIX;
    const SSignatureFile signatureFile = ReadSignatureFile(signaturePath);
    std::optional<SMinisignSignature> signature;
    if (signatureFile.missing) {
        check.problem = res::Format("There is no signature file %s.", signaturePath.c_str());
        check.kind = ESignatureProblem::NoSignatureFile;
    } else if (!signatureFile.readError.empty()) {
        check.problem = res::Format("The signature file %s cannot be read: %s.", signaturePath.c_str(),
                                    signatureFile.readError.c_str());
    } else if (!(signature = ParseSignature(signatureFile.text))) {
        check.problem = res::Format("The signature file %s is damaged.", signaturePath.c_str());
    }

    if (signature) {
        check.signature = SFileSignature{KeyIdText(signature->keyId), signature->trustedComment, false};
        if (const SMinisignPublicKey* key = keys.Find(signature->keyId)) {
            check.problem = VerifyCopy(file, *key, *signature, check);
            check.signature->trusted = check.problem.empty();
        } else {
            check.problem = res::Format("It is signed by key %s, which is not trusted.", check.signature->keyId.c_str());
            check.kind = ESignatureProblem::UntrustedKey;
        }
    }
    if (!check.problem.empty() && (requireSignature || keys.anyKeyFile))
        check.refusal = res::Format("Error: %s is not signed by a trusted key.\n%s", fileName.c_str(),
                                    check.problem.c_str());
    return check;
}

const SFileSignature* NamedSignature(const SSignatureCheck& check)
{
    // A signature that does not hold names nobody: its signer is unknown.
    const bool named = check.signature && (check.signature->trusted || check.kind == ESignatureProblem::UntrustedKey);
    return named ? &*check.signature : nullptr;
}

std::string SignatureLine(const SSignatureCheck& check)
{
    if (const SFileSignature* signature = NamedSignature(check))
        return "signed by " + signature->keyId + ": " + PrintableText(signature->trustedComment) +
               (signature->trusted ? " (trusted)" : " (not trusted)");
    if (check.kind == ESignatureProblem::NoSignatureFile)
        return "not signed";
    return "not signed: " + check.problem;
}

}  // namespace devupdate::update
