#include "ChildProcess.h"

#include "ComPort.h"

#include <chrono>
#include <csignal>
#include <poll.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

CChildProcess::CChildProcess(const std::string& program, const std::vector<std::string>& args,
                             size_t addressSpaceLimit)
{
    int out[2];
    int err[2];
    if (pipe(out) != 0 || pipe(err) != 0)
        throw std::runtime_error("pipe failed");
    const std::string path = ProgramDirectory() + program;
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    m_pid = fork();
    if (m_pid < 0)
        throw std::runtime_error("fork failed");
    if (m_pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        close(out[0]);
        close(err[0]);
        // The test may block signals; the child starts with none blocked.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        const rlimit limit{addressSpaceLimit, addressSpaceLimit};
        if (addressSpaceLimit != 0 && setrlimit(RLIMIT_AS, &limit) != 0)
            _exit(126);
        execv(path.c_str(), argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    m_out = out[0];
    m_err = err[0];
}

CChildProcess::~CChildProcess()
{
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    if (m_out >= 0)
        close(m_out);
    if (m_err >= 0)
        close(m_err);
}

void CChildProcess::Signal(int signal) const
{
    if (m_pid > 0)
        kill(m_pid, signal);
}

bool CChildProcess::Pump(int timeoutMs)
{
    pollfd fds[2] = {{m_out, POLLIN, 0}, {m_err, POLLIN, 0}};
    if (poll(fds, 2, timeoutMs) <= 0)
        return false;
    bool gotData = false;
    char buffer[4096];
    for (int i = 0; i < 2; ++i) {
        if (fds[i].revents == 0)
            continue;
        const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
        if (n > 0) {
            (i == 0 ? m_stdout : m_stderr).append(buffer, static_cast<size_t>(n));
            gotData = true;
        }
    }
    return gotData;
}

int CChildProcess::Wait(int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    for (;;) {
        Pump(10);
        const pid_t done = waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid)
            break;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
            m_pid = -1;
            return -1;
        }
    }
    m_pid = -1;
    while (Pump(20)) {
    }
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

const std::string& CChildProcess::Stdout()
{
    Pump(0);
    return m_stdout;
}

const std::string& CChildProcess::Stderr()
{
    Pump(0);
    return m_stderr;
}
