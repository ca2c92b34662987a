#pragma once
// What a finished run must leave behind, as the robustness tests check it:
// the process's descriptors and threads, the update file untouched, the
// XSVF trace closed.

#include "WaitUntil.h"

#include <chrono>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
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

// A joined thread can stay listed in /proc/self/task for a moment after
// join() returns (the kernel wakes the joiner before it reaps the thread).
// Waits up to two seconds for the count to come down to `expected` and
// returns the last count seen; a thread that really outlived a run stays.
inline size_t SettledThreadCount(size_t expected)
{
    size_t count = 0;
    WaitUntil([&] { return (count = ThreadCount()) <= expected; }, std::chrono::seconds(2));
    return count;
}

// Starts and joins a thread, so that a sanitizer runtime's helper thread
// (started with the process's first thread) exists before threads are
// counted, and waits until the kernel no longer lists the joined one.
inline void StartHelperThreadsBeforeCounting()
{
    pid_t id = 0;
    std::thread([&id] { id = gettid(); }).join();
    const std::string entry = "/proc/self/task/" + std::to_string(id);
    WaitUntil([&] { return !std::filesystem::exists(entry); }, std::chrono::seconds(2));
}

// How many of this process's descriptors lead to `path`.
inline size_t DescriptorsOn(const std::string& path)
{
    std::error_code error;
    const auto wanted = std::filesystem::weakly_canonical(path, error);
    size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        const auto target = std::filesystem::read_symlink(entry.path(), error);
        if (!error && target == wanted)
            ++count;
    }
    return count;
}

inline bool IsOpenHere(const std::string& path) { return DescriptorsOn(path) > 0; }

// The device number of a terminal, to find its descriptors even after the
// line has gone and its path with it.
inline dev_t TerminalDevice(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? info.st_rdev : 0;
}

// How many of this process's descriptors are open on the terminal `device`.
inline size_t DescriptorsOnTerminal(dev_t device)
{
    size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        struct stat info {};
        if (stat(entry.path().c_str(), &info) == 0 && S_ISCHR(info.st_mode) && info.st_rdev == device)
            ++count;
    }
    return count;
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
