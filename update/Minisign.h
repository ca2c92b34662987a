#pragma once
// The minisign formats (public key, secret key without password, detached
// signature) and Ed25519 signing and verification through libsodium.
//
// A signature file has four lines: an untrusted comment, the base64 of the
// algorithm ("ED": the Ed25519 signature of the file's BLAKE2b-512 digest;
// "Ed": legacy, of the file's bytes themselves), the key ID and the
// signature; the trusted comment; the base64 of the global signature, which
// covers the signature and the trusted comment's text.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace devupdate::update {

using MinisignKeyId = std::array<uint8_t, 8>;

struct SMinisignPublicKey {
    MinisignKeyId keyId{};
    std::array<uint8_t, 32> key{};
};

struct SMinisignSecretKey {
    MinisignKeyId keyId{};
    std::array<uint8_t, 64> key{};  // seed followed by the public key
};

struct SMinisignSignature {
    bool prehashed = true;  // "ED"; false: legacy "Ed"
    MinisignKeyId keyId{};
    std::array<uint8_t, 64> signature{};
    std::string trustedComment;
    std::array<uint8_t, 64> globalSignature{};
};

// The file's digest for a prehashed signature, computed piecewise.
class CMinisignDigest {
public:
    CMinisignDigest();
    void Update(const uint8_t* data, size_t size);
    std::array<uint8_t, 64> Final();

private:
    alignas(64) std::array<uint8_t, 384> m_state{};  // crypto_generichash_state
};

// The key ID as minisign shows it: the little-endian number in upper-case
// hexadecimal, without leading zeros.
std::string KeyIdText(const MinisignKeyId& keyId);

// A public key file's text (comment line, key line) or the key line alone.
std::optional<SMinisignPublicKey> ParsePublicKey(const std::string& text);
// A signature file's text; nullopt when it is damaged (lines missing or
// cut, base64 wrong, an algorithm other than "ED" and "Ed").
std::optional<SMinisignSignature> ParseSignature(const std::string& text);
// A secret key file made without a password; `error` says why it is refused.
std::optional<SMinisignSecretKey> ParseSecretKey(const std::string& text, std::string& error);

// Whether `signature` by `key` covers the message: the digest for a
// prehashed signature, the file's bytes for a legacy one.
bool VerifyMessage(const SMinisignPublicKey& key, const SMinisignSignature& signature, const uint8_t* message,
                   size_t size);
// Whether the global signature covers the signature and the trusted comment.
bool VerifyGlobal(const SMinisignPublicKey& key, const SMinisignSignature& signature);

// A prehashed signature of `digest` with `trustedComment`, as the text of a
// signature file.
std::string SignDigest(const SMinisignSecretKey& key, const std::array<uint8_t, 64>& digest,
                       const std::string& trustedComment);

}  // namespace devupdate::update
