#include "ChildProcess.h"

#include "ComPort.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace devupdate::link;

namespace {

void MakePipe(int fds[2])
{
    if (pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe2 failed");
}

// fds[0] the master side, fds[1] the slave side of a new pseudo-terminal.
void MakeTerminal(int fds[2], unsigned short columns)
{
    winsize size{};
    size.ws_row = 50;
    size.ws_col = columns;
    if (openpty(&fds[0], &fds[1], nullptr, nullptr, &size) != 0)
        throw std::runtime_error("openpty failed");
    fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    fcntl(fds[1], F_SETFD, FD_CLOEXEC);
}

// Between fork and exec only async-signal-safe calls.
[[noreturn]] void BecomeChild(const SChildSetup& setup, int out, int err, int file, char* const* argv)
{
    if (!setup.folder.empty() && chdir(setup.folder.c_str()) != 0)
        _exit(126);
    if (setup.stdinClosed)
        close(STDIN_FILENO);
    else
        dup2(open("/dev/null", O_RDONLY | O_CLOEXEC), STDIN_FILENO);
    if (setup.out == EOut::Closed)
        close(STDOUT_FILENO);
    else
        dup2(setup.out == EOut::DevFull ? open("/dev/full", O_WRONLY | O_CLOEXEC) : out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    if (file == 3)
        fcntl(3, F_SETFD, 0);
    else if (file != -1)
        dup2(file, 3);
    // The test may block signals; the child starts with none blocked.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGINT, setup.sigintIgnored ? SIG_IGN : SIG_DFL);
    signal(SIGPIPE, SIG_DFL);
    const rlimit limit{setup.addressSpaceLimit, setup.addressSpaceLimit};
    if (setup.addressSpaceLimit != 0 && setrlimit(RLIMIT_AS, &limit) != 0)
        _exit(126);
    const rlimit fileSize{setup.fileSizeLimit, setup.fileSizeLimit};
    if (setup.fileSizeLimit != 0 && (signal(SIGXFSZ, SIG_IGN) == SIG_ERR || setrlimit(RLIMIT_FSIZE, &fileSize) != 0))
        _exit(126);
    execv(argv[0], argv);
    _exit(127);
}

}  // namespace

CChildProcess::CChildProcess(const std::string& program, const std::vector<std::string>& args,
                             const SChildSetup& setup)
    : m_mode(setup.out)
{
    int out[2];
    int err[2];
    int file[2] = {-1, -1};
    if (setup.out == EOut::Terminal)
        MakeTerminal(out, setup.terminalColumns);
    else
        MakePipe(out);
    MakePipe(err);
    if (!setup.fileOnPipe.empty()) {
        MakePipe(file);
        // Small files only: the whole file fits the pipe before anyone reads.
        if (write(file[1], setup.fileOnPipe.data(), setup.fileOnPipe.size()) !=
            static_cast<ssize_t>(setup.fileOnPipe.size()))
            throw std::runtime_error("the update file does not fit the pipe");
        close(file[1]);
    }
    const std::string path = ProgramDirectory() + program;
    std::vector<char*> argv{const_cast<char*>(path.c_str())};
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    m_pid = fork();
    if (m_pid < 0)
        throw std::runtime_error("fork failed");
    if (m_pid == 0)
        BecomeChild(setup, out[1], err[1], file[0], argv.data());
    close(out[1]);
    close(err[1]);
    if (file[0] != -1)
        close(file[0]);
    m_out = out[0];
    m_err = err[0];
}

CChildProcess::~CChildProcess()
{
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    for (const int fd : {m_out, m_err})
        if (fd >= 0)
            close(fd);
}

void CChildProcess::Signal(int signal) const
{
    if (m_pid > 0)
        kill(m_pid, signal);
}

bool CChildProcess::Pump(int timeoutMs)
{
    // Negative descriptors are skipped; the wait still holds.
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
        } else {
            int& fd = i == 0 ? m_out : m_err;
            close(fd);
            fd = -1;
        }
    }
    if (m_mode == EOut::CloseEarly && m_out >= 0 && m_stdout.find('\n') != std::string::npos) {
        close(m_out);
        m_out = -1;
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
    if (m_mode != EOut::Stalled || m_pid < 0)
        Pump(0);
    return m_stdout;
}

const std::string& CChildProcess::Stderr()
{
    if (m_mode != EOut::Stalled || m_pid < 0)
        Pump(0);
    return m_stderr;
}

std::string LastLine(const std::string& text)
{
    std::string trimmed = text;
    while (!trimmed.empty() && trimmed.back() == '\n')
        trimmed.pop_back();
    const size_t start = trimmed.rfind('\n');
    return start == std::string::npos ? trimmed : trimmed.substr(start + 1);
}
