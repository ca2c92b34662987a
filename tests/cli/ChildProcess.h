#pragma once
// Runs a program of build/bin as a child process with its output captured,
// for tests of the command-line programs.

#include <cstddef>
#include <string>
#include <vector>

class CChildProcess {
public:
    // Starts `program` (a name in the test program's folder) with `args`;
    // with `addressSpaceLimit` above 0 the child runs under that RLIMIT_AS.
    CChildProcess(const std::string& program, const std::vector<std::string>& args, size_t addressSpaceLimit = 0);
    ~CChildProcess();
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    void Signal(int signal) const;
    // Waits for the end (killing the child after timeoutMs); the exit status,
    // or 128 + signal, or -1 on a time-out.
    int Wait(int timeoutMs);
    // Output read so far (all of it after Wait).
    const std::string& Stdout();
    const std::string& Stderr();

private:
    // Reads what is there within timeoutMs; false when nothing came.
    bool Pump(int timeoutMs);

    int m_pid = -1;
    int m_out = -1;
    int m_err = -1;
    std::string m_stdout;
    std::string m_stderr;
};
