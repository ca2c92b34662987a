#pragma once
// The folder the harnesses play in: the XSVF trace and the fixed update file
// land there, never in the folder the fuzzer or the tests were started from.

#include <string>

// A folder of its own, made on first use and kept for the process's life.
const std::string& FuzzWorkDir();

// Makes FuzzWorkDir() the current directory for the lifetime of the object.
class CScopedWorkDir {
public:
    CScopedWorkDir();
    ~CScopedWorkDir();
    CScopedWorkDir(const CScopedWorkDir&) = delete;
    CScopedWorkDir& operator=(const CScopedWorkDir&) = delete;

private:
    std::string m_previous;
};
