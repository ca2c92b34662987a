#pragma once
// What a finished run must leave behind, as the robustness tests check it:
// the process's descriptors and threads, the update file untouched, the
// XSVF trace closed.

#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <vector>

// Entries of /proc/self/fd (the listing's own descriptor included, so two
// counts compare).
inline size_t OpenDescriptorCount()
{
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

// Threads of this process (/proc/self/task).
inline size_t ThreadCount()
{
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
        ++count;
    return count;
}

// True when one of this process's descriptors leads to `path`.
inline bool IsOpenHere(const std::string& path)
{
    std::error_code error;
    const auto wanted = std::filesystem::weakly_canonical(path, error);
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        const auto target = std::filesystem::read_symlink(entry.path(), error);
        if (!error && target == wanted)
            return true;
    }
    return false;
}

// The bytes and modification time of a file, to show it was not written.
struct SFileSnapshot {
    std::vector<char> bytes;
    struct timespec mtime {};

    static SFileSnapshot Of(const std::string& path)
    {
        SFileSnapshot snapshot;
        struct stat info {};
        if (stat(path.c_str(), &info) == 0)
            snapshot.mtime = info.st_mtim;
        std::FILE* file = std::fopen(path.c_str(), "rb");
        if (file != nullptr) {
            char buffer[4096];
            size_t n = 0;
            while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
                snapshot.bytes.insert(snapshot.bytes.end(), buffer, buffer + n);
            std::fclose(file);
        }
        return snapshot;
    }
    bool operator==(const SFileSnapshot& other) const
    {
        return bytes == other.bytes && mtime.tv_sec == other.mtime.tv_sec && mtime.tv_nsec == other.mtime.tv_nsec;
    }
};
