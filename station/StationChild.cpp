#include "StationChild.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

namespace devupdate::station {

namespace {

void CloseFd(int& fd)
{
    if (fd >= 0)
        (void)close(fd);  // a read end: nothing can be lost
    fd = -1;
}

// In the child between fork and exec: only async-signal-safe calls.
[[noreturn]] void ExecChild(const char* program, const std::vector<char*>& argv, pid_t parent, int out, int err)
{
    (void)setpgid(0, 0);
    (void)prctl(PR_SET_PDEATHSIG, SIGHUP);
    if (getppid() != parent)
        _exit(127);  // the parent is gone already
    // dup2 leaves the copy open across exec, the original closes there.
    const int input = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (input < 0 || dup2(input, STDIN_FILENO) < 0 || dup2(out, STDOUT_FILENO) < 0 || dup2(err, STDERR_FILENO) < 0)
        _exit(127);
    execv(program, argv.data());
    const char* reason = strerror(errno);
    const char prefix[] = ": cannot start the run: ";  // after argv[0], the program's name
    (void)!write(STDERR_FILENO, argv[0], strlen(argv[0]));
    (void)!write(STDERR_FILENO, prefix, sizeof prefix - 1);
    (void)!write(STDERR_FILENO, reason, strlen(reason));
    (void)!write(STDERR_FILENO, "\n", 1);
    _exit(127);
}

}  // namespace

CStationChild::~CStationChild()
{
    CloseFd(m_out);
    CloseFd(m_err);
    if (m_pid > 0) {
        // Only when the parent itself gives up: the child ends as after a hang-up.
        Signal(SIGHUP);
        (void)Reap();
    }
}

bool CStationChild::Start(const std::string& program, const std::vector<std::string>& args, std::string& error)
{
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    if (pipe2(err, O_CLOEXEC) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        (void)close(out[0]);
        (void)close(out[1]);
        return false;
    }
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const char* path = program.empty() ? "/proc/self/exe" : program.c_str();
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0)
        ExecChild(path, argv, parent, out[1], err[1]);
    const int forkErrno = errno;
    // Set on both sides: whichever runs first, no Ctrl-C of the terminal
    // reaches the child between fork and exec. Fails only once the child has
    // exec'd (EACCES) or ended, when its own call has done it.
    if (pid > 0)
        (void)setpgid(pid, pid);
    (void)close(out[1]);
    (void)close(err[1]);
    if (pid < 0) {
        (void)close(out[0]);
        (void)close(err[0]);
        error = std::string("fork: ") + std::strerror(forkErrno);
        return false;
    }
    m_pid = pid;
    m_out = out[0];
    m_err = err[0];
    (void)fcntl(m_out, F_SETFL, O_NONBLOCK);  // a read that would block only waits for poll
    (void)fcntl(m_err, F_SETFL, O_NONBLOCK);
    return true;
}

void CStationChild::ReadLines(int fd, std::vector<std::string>& lines)
{
    std::string& carry = fd == m_out ? m_outCarry : m_errCarry;
    char buffer[65536];
    bool ended = false;
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && errno == EAGAIN)
            break;
        if (got <= 0) {
            ended = true;  // the end, or an error, which ends it too
            break;
        }
        carry.append(buffer, static_cast<size_t>(got));
    }
    size_t start = 0;
    for (size_t end = carry.find('\n'); end != std::string::npos; end = carry.find('\n', start)) {
        lines.push_back(carry.substr(start, end - start));
        start = end + 1;
    }
    carry.erase(0, start);
    if (ended) {
        if (!carry.empty())
            lines.push_back(std::exchange(carry, {}));
        CloseFd(fd == m_out ? m_out : m_err);
    }
}

void CStationChild::Signal(int signal) const
{
    if (m_pid > 0)
        (void)kill(m_pid, signal);  // fails only when it has ended: then nothing is to be told
}

int CStationChild::Reap()
{
    int status = 0;
    pid_t got = -1;
    do {
        got = waitpid(m_pid, &status, 0);
    } while (got < 0 && errno == EINTR);
    m_pid = -1;
    if (got < 0)
        return 127;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

}  // namespace devupdate::station
