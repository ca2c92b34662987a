#include "TrustedKeys.h"

#include "PortName.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace devupdate::link;

namespace devupdate::update {

namespace {

constexpr char MACHINE_FOLDER[] = "/etc/devupdate/trusted-keys";
// A public key file is two short lines; anything much larger is no key.
constexpr size_t MAX_KEY_FILE_BYTES = 4096;

bool EndsWithPub(const std::string& name)
{
    return name.size() > 4 && name.compare(name.size() - 4, 4, ".pub") == 0;
}

// The file's text when it is a regular file of a key's size; empty otherwise.
std::string ReadKeyFile(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return {};
    std::string text;
    struct stat info {};
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        char buffer[MAX_KEY_FILE_BYTES];
        ssize_t got = 0;
        while (text.size() < MAX_KEY_FILE_BYTES &&
               ((got = read(fd, buffer, sizeof buffer - text.size())) > 0 || (got < 0 && errno == EINTR))) {
            if (got > 0)
                text.append(buffer, static_cast<size_t>(got));
        }
        if (got < 0)
            text.clear();
    }
    (void)close(fd);  // read-only: nothing can be lost
    return text;
}

void LoadFolder(const std::string& folder, STrustedKeys& trusted)
{
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr)
        return;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name[0] == '.' || !EndsWithPub(name))
            continue;
        trusted.anyKeyFile = true;
        if (std::optional<SMinisignPublicKey> key = ParsePublicKey(ReadKeyFile(folder + "/" + name)))
            trusted.keys.push_back(*key);
    }
    (void)closedir(dir);  // a folder read to its end: nothing can be lost
}

}  // namespace

const SMinisignPublicKey* STrustedKeys::Find(const MinisignKeyId& keyId) const
{
    for (const SMinisignPublicKey& key : keys) {
        if (key.keyId == keyId)
            return &key;
    }
    return nullptr;
}

std::vector<std::string> TrustedKeyFolders()
{
    std::vector<std::string> folders;
    const std::string user = UserConfigDirectory();
    if (!user.empty())
        folders.push_back(user + "trusted-keys");
    folders.push_back(MACHINE_FOLDER);
    return folders;
}

STrustedKeys LoadTrustedKeys(const std::vector<std::string>& folders)
{
    STrustedKeys trusted;
    for (const std::string& folder : folders)
        LoadFolder(folder, trusted);
    return trusted;
}

}  // namespace devupdate::update
