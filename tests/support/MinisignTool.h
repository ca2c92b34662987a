#pragma once
// The minisign program as the independent signer of the signature tests:
// key pairs without password, signatures of files (prehashed or legacy).

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

struct SMinisignKeyPair {
    std::string publicKey;  // the .pub file
    std::string secretKey;
};

// Runs minisign through the shell with everything it prints discarded; the
// paths are the tests' own temporary paths, without quotes in them.
inline bool RunMinisign(const std::string& arguments)
{
    const std::string command = "minisign " + arguments + " </dev/null >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

// A new key pair `name`.pub and `name`.key in `folder`.
inline SMinisignKeyPair MakeMinisignKeys(const std::string& folder, const std::string& name)
{
    SMinisignKeyPair keys{folder + "/" + name + ".pub", folder + "/" + name + ".key"};
    EXPECT_TRUE(RunMinisign("-G -W -f -p '" + keys.publicKey + "' -s '" + keys.secretKey + "'"));
    return keys;
}

// Writes FILE.minisig; legacy: the signature of the bytes, not of their digest.
inline void SignWithMinisign(const SMinisignKeyPair& keys, const std::string& file, const std::string& comment,
                             bool legacy = false)
{
    EXPECT_TRUE(RunMinisign(std::string("-S") + (legacy ? " -l" : "") + " -s '" + keys.secretKey + "' -m '" + file +
                            "' -t '" + comment + "'"));
}

inline bool MinisignVerifies(const SMinisignKeyPair& keys, const std::string& file)
{
    return RunMinisign("-V -p '" + keys.publicKey + "' -m '" + file + "'");
}
