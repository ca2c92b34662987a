#include "Minisign.h"

#include <sodium.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace devupdate::update {

namespace {

constexpr char UNTRUSTED_PREFIX[] = "untrusted comment: ";
constexpr char TRUSTED_PREFIX[] = "trusted comment: ";

// Byte sizes of the decoded lines.
constexpr size_t PUBLIC_KEY_BYTES = 2 + 8 + 32;
constexpr size_t SIGNATURE_BYTES = 2 + 8 + 64;
constexpr size_t GLOBAL_SIGNATURE_BYTES = 64;
// Algorithm, KDF, checksum algorithm, salt, two KDF limits, then key ID,
// key and checksum.
constexpr size_t SECRET_KEY_BYTES = 2 + 2 + 2 + 32 + 8 + 8 + 8 + 64 + 32;
constexpr size_t SECRET_KEY_ID_OFFSET = 2 + 2 + 2 + 32 + 8 + 8;

static_assert(sizeof(crypto_generichash_state) <= 384 && alignof(crypto_generichash_state) <= 64);

// False when libsodium could not start (it found no source of randomness).
bool SodiumReady()
{
    static const bool ready = sodium_init() >= 0;
    return ready;
}

crypto_generichash_state* State(std::array<uint8_t, 384>& storage)
{
    return reinterpret_cast<crypto_generichash_state*>(storage.data());
}

// The text split at line ends; a carriage return before a line end is dropped.
std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        const bool ended = end != std::string::npos;
        if (!ended)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

// Base64 that decodes to exactly `size` bytes.
bool DecodeBase64(const std::string& text, uint8_t* out, size_t size)
{
    size_t decoded = 0;
    const char* end = nullptr;
    return sodium_base642bin(out, size, text.c_str(), text.size(), nullptr, &decoded, &end,
                             sodium_base64_VARIANT_ORIGINAL) == 0 &&
           decoded == size && end == text.c_str() + text.size();
}

std::string EncodeBase64(const uint8_t* data, size_t size)
{
    std::string text(sodium_base64_ENCODED_LEN(size, sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(text.data(), text.size(), data, size, sodium_base64_VARIANT_ORIGINAL);
    text.resize(std::strlen(text.c_str()));
    return text;
}

// The key's line: after an untrusted comment line, or alone.
const std::string* KeyLine(const std::vector<std::string>& lines)
{
    if (lines.size() == 1)
        return &lines[0];
    if (lines.size() >= 2 && lines[0].rfind(UNTRUSTED_PREFIX, 0) == 0)
        return &lines[1];
    return nullptr;
}

// The signature and the trusted comment, as the global signature covers them.
std::vector<uint8_t> GlobalMessage(const SMinisignSignature& signature)
{
    std::vector<uint8_t> message(signature.signature.begin(), signature.signature.end());
    message.insert(message.end(), signature.trustedComment.begin(), signature.trustedComment.end());
    return message;
}

}  // namespace

CMinisignDigest::CMinisignDigest()
{
    (void)SodiumReady();  // BLAKE2b needs no randomness: it works either way
    crypto_generichash_init(State(m_state), nullptr, 0, 64);
}

void CMinisignDigest::Update(const uint8_t* data, size_t size)
{
    crypto_generichash_update(State(m_state), data, size);
}

std::array<uint8_t, 64> CMinisignDigest::Final()
{
    std::array<uint8_t, 64> digest{};
    crypto_generichash_final(State(m_state), digest.data(), digest.size());
    return digest;
}

std::string KeyIdText(const MinisignKeyId& keyId)
{
    std::string text;
    for (size_t i = keyId.size(); i-- > 0;) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02X", keyId[i]);
        text += digits;
    }
    // minisign prints the ID as one number, without leading zeros.
    const size_t first = std::min(text.find_first_not_of('0'), text.size() - 1);
    return text.substr(first);
}

std::optional<SMinisignPublicKey> ParsePublicKey(const std::string& text)
{
    const std::vector<std::string> lines = Lines(text);
    const std::string* line = KeyLine(lines);
    uint8_t bytes[PUBLIC_KEY_BYTES];
    if (!SodiumReady() || line == nullptr || !DecodeBase64(*line, bytes, sizeof bytes) || std::memcmp(bytes, "Ed", 2) != 0)
        return std::nullopt;
    SMinisignPublicKey key;
    std::memcpy(key.keyId.data(), bytes + 2, key.keyId.size());
    std::memcpy(key.key.data(), bytes + 10, key.key.size());
    return key;
}

std::optional<SMinisignSignature> ParseSignature(const std::string& text)
{
    const std::vector<std::string> lines = Lines(text);
    if (!SodiumReady() || lines.size() < 4 || lines[0].rfind(UNTRUSTED_PREFIX, 0) != 0 || lines[2].rfind(TRUSTED_PREFIX, 0) != 0)
        return std::nullopt;
    uint8_t bytes[SIGNATURE_BYTES];
    if (!DecodeBase64(lines[1], bytes, sizeof bytes))
        return std::nullopt;
    SMinisignSignature signature;
    if (std::memcmp(bytes, "ED", 2) == 0)
        signature.prehashed = true;
    else if (std::memcmp(bytes, "Ed", 2) == 0)
        signature.prehashed = false;
    else
        return std::nullopt;
    std::memcpy(signature.keyId.data(), bytes + 2, signature.keyId.size());
    std::memcpy(signature.signature.data(), bytes + 10, signature.signature.size());
    signature.trustedComment = lines[2].substr(std::strlen(TRUSTED_PREFIX));
    if (!DecodeBase64(lines[3], signature.globalSignature.data(), GLOBAL_SIGNATURE_BYTES))
        return std::nullopt;
    return signature;
}

std::optional<SMinisignSecretKey> ParseSecretKey(const std::string& text, std::string& error)
{
    const std::vector<std::string> lines = Lines(text);
    const std::string* line = KeyLine(lines);
    std::vector<uint8_t> bytes(SECRET_KEY_BYTES);
    if (!SodiumReady() || line == nullptr || !DecodeBase64(*line, bytes.data(), bytes.size()) || std::memcmp(bytes.data(), "Ed", 2) != 0) {
        error = "not a minisign secret key";
        return std::nullopt;
    }
    if (bytes[2] != 0 || bytes[3] != 0) {
        error = "the secret key has a password; make one without (minisign -G -W)";
        return std::nullopt;
    }
    SMinisignSecretKey key;
    std::memcpy(key.keyId.data(), bytes.data() + SECRET_KEY_ID_OFFSET, key.keyId.size());
    std::memcpy(key.key.data(), bytes.data() + SECRET_KEY_ID_OFFSET + 8, key.key.size());
    // The key's second half is its public key: a damaged key shows here.
    std::array<uint8_t, 32> publicKey{};
    std::array<uint8_t, 64> rebuilt{};
    crypto_sign_seed_keypair(publicKey.data(), rebuilt.data(), key.key.data());
    sodium_memzero(rebuilt.data(), rebuilt.size());
    sodium_memzero(bytes.data(), bytes.size());
    if (std::memcmp(publicKey.data(), key.key.data() + 32, publicKey.size()) != 0) {
        error = "the secret key is damaged";
        return std::nullopt;
    }
    return key;
}

bool VerifyMessage(const SMinisignPublicKey& key, const SMinisignSignature& signature, const uint8_t* message,
                   size_t size)
{
    return SodiumReady() &&
           crypto_sign_verify_detached(signature.signature.data(), message, size, key.key.data()) == 0;
}

bool VerifyGlobal(const SMinisignPublicKey& key, const SMinisignSignature& signature)
{
    const std::vector<uint8_t> message = GlobalMessage(signature);
    return SodiumReady() && crypto_sign_verify_detached(signature.globalSignature.data(), message.data(), message.size(),
                                       key.key.data()) == 0;
}

std::string SignDigest(const SMinisignSecretKey& key, const std::array<uint8_t, 64>& digest,
                       const std::string& trustedComment)
{
    (void)SodiumReady();  // a key was parsed: libsodium has started
    SMinisignSignature signature;
    signature.keyId = key.keyId;
    signature.trustedComment = trustedComment;
    crypto_sign_detached(signature.signature.data(), nullptr, digest.data(), digest.size(), key.key.data());
    const std::vector<uint8_t> global = GlobalMessage(signature);
    crypto_sign_detached(signature.globalSignature.data(), nullptr, global.data(), global.size(), key.key.data());

    uint8_t bytes[SIGNATURE_BYTES];
    std::memcpy(bytes, "ED", 2);
    std::memcpy(bytes + 2, signature.keyId.data(), signature.keyId.size());
    std::memcpy(bytes + 10, signature.signature.data(), signature.signature.size());
    return std::string(UNTRUSTED_PREFIX) + "signature from key " + KeyIdText(key.keyId) + "\n" +
           EncodeBase64(bytes, sizeof bytes) + "\n" + TRUSTED_PREFIX + trustedComment + "\n" +
           EncodeBase64(signature.globalSignature.data(), signature.globalSignature.size()) + "\n";
}

}  // namespace devupdate::update
