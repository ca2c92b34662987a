#pragma once
// The signature check of an update file, before anything of it reaches the
// device. The policy holds when the user trusts at least one key (or asks
// for signatures): then the file must carry a signature (FILE.minisig
// beside it) by a trusted key, over the file and its trusted comment.
// Without the policy a signature is only described.
//
// A verified file is played from a private copy of the bytes that were
// verified, so that a file swapped or rewritten after the check never
// reaches the device.

#include "TrustedKeys.h"

#include <cstdio>
#include <optional>
#include <string>

namespace devupdate::update {

// A signature as the user sees it.
struct SFileSignature {
    std::string keyId;  // upper-case hexadecimal, as minisign shows it
    std::string trustedComment;
    bool trusted = false;  // verified with a trusted key
};

// The problems that still let the signature be described as such.
enum class ESignatureProblem { Other, NoSignatureFile, UntrustedKey };

struct SSignatureCheck {
    // The signature file's signer and comment; nullopt when there is none or
    // it is damaged.
    std::optional<SFileSignature> signature;
    // Why the file is not signed by a trusted key (a sentence); empty when it
    // is, and when there is no signature file.
    std::string problem;
    ESignatureProblem kind = ESignatureProblem::Other;
    // Not empty: the file must not be used; the two lines that say why.
    std::string refusal;
    // The verified bytes, at their start; the caller owns and closes it.
    FILE* verifiedCopy = nullptr;
};

// `file` is `fileName` just opened, nothing read from it yet. A private
// copy is made only for a signature that can be verified; then `file` has
// been read to its end.
SSignatureCheck CheckFileSignature(FILE* file, const std::string& fileName, bool requireSignature,
                                   const STrustedKeys& keys);

// The line --check and --list print and the window's tool tip shows:
// "signed by KEY_ID: COMMENT (trusted)", "... (not trusted)", "not signed",
// or "not signed: PROBLEM".
std::string SignatureLine(const SSignatureCheck& check);
// The signature that line names ("signed by"); nullptr when it says "not signed".
const SFileSignature* NamedSignature(const SSignatureCheck& check);

}  // namespace devupdate::update
