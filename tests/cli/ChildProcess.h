#pragma once
// Runs a program of build/bin as a child process with its output captured,
// for tests of the command-line programs. The setup can start it the way
// hostile or careless callers do: standard output closed, on /dev/full, on a
// pipe closed after its first line or not read until Wait, standard input
// closed, SIGINT inherited as ignored, the update file on a pipe; or the way
// a person does: standard output on a terminal.

#include <cstddef>
#include <string>
#include <vector>

enum class EOut {
    Pipe,        // read whenever the test reads
    CloseEarly,  // the reader goes away after the first line
    Stalled,     // nobody reads before Wait
    DevFull,     // /dev/full: every write fails with ENOSPC
    Closed,      // descriptor 1 closed
    Terminal,    // a pseudo-terminal of terminalColumns columns, read whenever the test reads
};

struct SChildSetup {
    EOut out = EOut::Pipe;
    bool stdinClosed = false;  // else /dev/null
    bool sigintIgnored = false;
    std::string fileOnPipe;    // when not empty: these bytes on descriptor 3
    std::string folder;        // the child's current folder; empty: the test's
    size_t addressSpaceLimit = 0;  // above 0: the child runs under that RLIMIT_AS
    size_t fileSizeLimit = 0;      // above 0: RLIMIT_FSIZE, a write past it is cut short (a full disk)
    unsigned short terminalColumns = 80;
};

class CChildProcess {
public:
    // Starts `program` (a name in the test program's folder) with `args`.
    CChildProcess(const std::string& program, const std::vector<std::string>& args, const SChildSetup& setup = {});
    // The same under an address space limit (RLIMIT_AS) of that many bytes.
    CChildProcess(const std::string& program, const std::vector<std::string>& args, size_t addressSpaceLimit)
        : CChildProcess(program, args, LimitedSetup(addressSpaceLimit))
    {
    }
    ~CChildProcess();
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    void Signal(int signal) const;
    int Pid() const { return m_pid; }
    // Waits for the end (killing the child after timeoutMs); the exit status,
    // or 128 + signal, or -1 on a time-out.
    int Wait(int timeoutMs);
    // Output read so far (all of it after Wait).
    const std::string& Stdout();
    const std::string& Stderr();

private:
    static SChildSetup LimitedSetup(size_t addressSpaceLimit)
    {
        SChildSetup setup;
        setup.addressSpaceLimit = addressSpaceLimit;
        return setup;
    }
    // Reads what is there within timeoutMs; false when nothing came.
    bool Pump(int timeoutMs);

    EOut m_mode;
    int m_pid = -1;
    int m_out = -1;
    int m_err = -1;
    std::string m_stdout;
    std::string m_stderr;
};

// The last non-empty line of a program's output.
std::string LastLine(const std::string& text);
