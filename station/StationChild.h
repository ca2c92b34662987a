#pragma once
// One pass of a station port: update-cli run again as a child process for a
// single port, with --json on a pipe. The player keeps process-wide state,
// so every run needs a process of its own. The child has its own process
// group (the terminal's Ctrl-C reaches only the parent, which decides what
// each child is told) and gets SIGHUP when the parent dies, which cancels
// only a run whose device has not answered yet.

#include <string>
#include <sys/types.h>
#include <vector>

namespace devupdate::station {

class CStationChild {
public:
    CStationChild() = default;
    ~CStationChild();
    CStationChild(const CStationChild&) = delete;
    CStationChild& operator=(const CStationChild&) = delete;

    // Starts `program` (empty: this program, /proc/self/exe) with args
    // (argv[0] first). False with `error` set when no process could be started.
    bool Start(const std::string& program, const std::vector<std::string>& args, std::string& error);

    // The pipes to read, -1 once at their end.
    int OutFd() const { return m_out; }
    int ErrFd() const { return m_err; }
    // Reads what the pipe holds now; complete lines are appended to `lines`.
    // At the pipe's end a last unterminated line is added too.
    void ReadLines(int fd, std::vector<std::string>& lines);

    bool IsRunning() const { return m_pid > 0; }
    // Both pipes ended: the exit status can be waited for.
    bool OutputEnded() const { return m_out < 0 && m_err < 0; }
    void Signal(int signal) const;
    // Waits for the child, which has closed its output; its exit status,
    // or -signal when a signal ended it.
    int Reap();

private:
    pid_t m_pid = -1;
    int m_out = -1;
    int m_err = -1;
    std::string m_outCarry;
    std::string m_errCarry;
};

}  // namespace devupdate::station
