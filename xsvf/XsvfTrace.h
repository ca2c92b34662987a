#pragma once
// The trace of one XSVF run, "xsvf_debug.txt" in the current directory.
//
// The file is created anew per run and written with text-file line ends:
// every "\n" written is stored as "\r\n" (so "\r\n" reaches the file as
// "\r\r\n"). Lines carry a level 0..4 and are written when the level is at
// most TRACE_LEVEL, which is fixed at 4. Write errors are not checked: a
// broken trace must not break the programming run. While no file is open,
// every write is dropped.

#include "XsvfInfo.h"

#include <cstdio>
#include <string>

namespace devupdate::xsvf {

class CXsvfTrace {
public:
    static constexpr const char* FILE_NAME = "xsvf_debug.txt";
    static constexpr int TRACE_LEVEL = 4;

    CXsvfTrace() = default;
    ~CXsvfTrace();
    CXsvfTrace(const CXsvfTrace&) = delete;
    CXsvfTrace& operator=(const CXsvfTrace&) = delete;

    // Creates (truncates) the file, mode 0644 before the umask. False when it
    // cannot be created, or when the name is a symbolic link or anything but
    // a regular file (directory, FIFO, device): those are left untouched.
    bool Open(const std::string& path);
    void Close();
    bool IsOpen() const { return m_file != nullptr; }

    // One printf-style write at the given level.
    void Write(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));
    // label, the dump of buffer, "\n"; an absent buffer writes no dump at all.
    void DumpLine(int level, const char* label, const ShiftBuffer* buffer);

private:
    void Put(const char* text, size_t n);

    std::FILE* m_file = nullptr;
};

// The message of a trace that cannot be created; shownName is the plain
// name for the default trace, the path for another.
std::string TraceOpenFailureText(const std::string& shownName);

// "0x" followed by "%02x" per byte of the buffer's current length; empty for
// an absent buffer.
std::string DumpBuffer(const ShiftBuffer* buffer);

}  // namespace devupdate::xsvf
