#pragma once
// The public keys whose signatures the user trusts: minisign public key
// files (*.pub) in the user's folder $XDG_CONFIG_HOME/update/trusted-keys
// (~/.config when unset) and in the machine's /etc/devupdate/trusted-keys.

#include "Minisign.h"

#include <string>
#include <vector>

namespace devupdate::update {

struct STrustedKeys {
    std::vector<SMinisignPublicKey> keys;
    // A *.pub file was found, readable and valid or not: the signature
    // policy holds (a damaged key file must not switch it off).
    bool anyKeyFile = false;

    const SMinisignPublicKey* Find(const MinisignKeyId& keyId) const;
};

// The user's folder first, then the machine's.
std::vector<std::string> TrustedKeyFolders();

// The keys of every *.pub file in these folders; a missing folder holds none.
STrustedKeys LoadTrustedKeys(const std::vector<std::string>& folders);

}  // namespace devupdate::update
