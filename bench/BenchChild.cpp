#include "BenchChild.h"

#include "BenchSched.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>

namespace {

[[noreturn]] void ThrowErrno(const char* operation)
{
    throw std::system_error(errno, std::generic_category(), operation);
}

int MsLeft(BenchClock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - BenchClock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

// Only async-signal-safe calls between fork and exec: the benchmark runs the
// simulated device on a thread of its own.
// A failure is reported as its errno on execFd (closed by a successful exec).
// stdoutPath, when not empty, takes standard output instead of the pipe.
[[noreturn]] void ExecChild(int outFd, int execFd, const char* workDir, const char* stdoutPath, char* const* argv)
{
    sigset_t none;
    sigemptyset(&none);
    const int stdoutFd = *stdoutPath != '\0' ? open(stdoutPath, O_WRONLY | O_CREAT | O_TRUNC, 0644) : outFd;
    if (stdoutFd >= 0 && dup2(stdoutFd, STDOUT_FILENO) >= 0 && dup2(outFd, STDERR_FILENO) >= 0 &&
        sigprocmask(SIG_SETMASK, &none, nullptr) == 0 && chdir(workDir) == 0)
        execv(argv[0], argv);
    const int error = errno;
    (void)!write(execFd, &error, sizeof error);
    _exit(127);
}

// Blocks until the child has exec'd (the pipe closes) or reports why not.
// Until then /proc shows the fork's copy of this process, not the child.
int AwaitExec(int execFd)
{
    int error = 0;
    for (;;) {
        const ssize_t n = read(execFd, &error, sizeof error);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            ThrowErrno("read(exec pipe)");
        return n == sizeof error ? error : 0;
    }
}

// Reads whatever the pipe holds; false at end of file.
bool ReadPiece(int fd, SChildResult& result)
{
    char buffer[4096];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0) {
        if (errno == EINTR || errno == EAGAIN)
            return true;
        ThrowErrno("read(child output)");
    }
    if (n == 0)
        return false;
    result.output.append(buffer, static_cast<size_t>(n));
    result.pieces.push_back({BenchClock::now(), result.output.size()});
    return true;
}

// VmHWM of a running process in KiB; 0 when it cannot be read (the
// process has ended).
long PeakRssKiB(pid_t pid)
{
    const std::string path = "/proc/" + std::to_string(pid) + "/status";
    FILE* f = std::fopen(path.c_str(), "r");
    if (f == nullptr)
        return 0;
    long kib = 0;
    char line[256];
    while (std::fgets(line, sizeof line, f) != nullptr)
        if (std::sscanf(line, "VmHWM: %ld kB", &kib) == 1)
            break;
    if (std::fclose(f) != 0)
        return 0;
    return kib;
}

}  // namespace

std::optional<BenchClock::time_point> SChildResult::FirstSeen(const std::string& text) const
{
    const size_t at = output.find(text);
    if (at == std::string::npos)
        return std::nullopt;
    for (const SPiece& piece : pieces)
        if (piece.end >= at + text.size())
            return piece.time;
    return std::nullopt;
}

SChildResult RunChild(const std::string& program, const std::vector<std::string>& args,
                      const std::string& workDir, std::chrono::milliseconds timeout, const std::string& stdoutPath)
{
    std::vector<std::string> words{program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    int pipeFds[2];
    int execFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        ThrowErrno("pipe2");
    if (pipe2(execFds, O_CLOEXEC) != 0) {
        const int error = errno;
        close(pipeFds[0]);
        close(pipeFds[1]);
        throw std::system_error(error, std::generic_category(), "pipe2");
    }
    SChildResult result;
    result.started = BenchClock::now();
    const pid_t pid = fork();
    if (pid < 0) {
        const int error = errno;
        for (int fd : {pipeFds[0], pipeFds[1], execFds[0], execFds[1]})
            close(fd);
        throw std::system_error(error, std::generic_category(), "fork");
    }
    if (pid == 0)
        ExecChild(pipeFds[1], execFds[1], workDir.c_str(), stdoutPath.c_str(), argv.data());
    if (close(pipeFds[1]) != 0 || close(execFds[1]) != 0)
        ThrowErrno("close(pipe)");
    const int execError = AwaitExec(execFds[0]);
    if (close(execFds[0]) != 0)
        ThrowErrno("close(exec pipe)");
    if (execError != 0)
        result.output = "exec " + program + ": " + std::strerror(execError) + "\n";

    const BenchClock::time_point deadline = result.started + timeout;
    bool killed = false;
    std::map<pid_t, double> runDelays;
    for (;;) {
        pollfd p{pipeFds[0], POLLIN, 0};
        const int ready = poll(&p, 1, killed ? -1 : std::min(SAMPLE_MS, MsLeft(deadline)));
        if (ready < 0 && errno != EINTR)
            ThrowErrno("poll(child output)");
        result.peakRssKiB = std::max(result.peakRssKiB, PeakRssKiB(pid));
        for (const auto& [tid, seconds] : RunDelays(pid))
            runDelays[tid] = seconds;
        if (ready == 0 && BenchClock::now() < deadline)
            continue;
        if (ready == 0) {
            if (kill(pid, SIGKILL) != 0)
                ThrowErrno("kill");
            killed = true;
            continue;
        }
        if (ready > 0 && !ReadPiece(pipeFds[0], result))
            break;
    }
    if (close(pipeFds[0]) != 0)
        ThrowErrno("close(pipe)");

    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0)
        if (errno != EINTR)
            ThrowErrno("wait4");
    result.ended = BenchClock::now();
    result.runDelaySeconds = RunDelayGrowth({}, runDelays);
    const auto micros = [](const timeval& t) {
        return std::chrono::seconds(t.tv_sec) + std::chrono::microseconds(t.tv_usec);
    };
    result.cpu = micros(usage.ru_utime) + micros(usage.ru_stime);
    if (killed)
        result.status = -1;
    else if (WIFEXITED(status))
        result.status = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.status = 128 + WTERMSIG(status);
    return result;
}
