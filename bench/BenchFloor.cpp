#include "BenchFloor.h"

#include "BenchStats.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <system_error>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace devupdate::devsim;

namespace {

using namespace std::chrono;

constexpr auto STALL = seconds(5);

[[noreturn]] void ThrowErrno(const char* operation)
{
    throw std::system_error(errno, std::generic_category(), operation);
}

timespec ToTimespec(DevClock::duration d)
{
    const auto ns = duration_cast<nanoseconds>(std::max(d, DevClock::duration::zero())).count();
    return {static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
}

// The minimal tool: one write per frame, then poll and read until the
// answer is in. Only async-signal-safe calls: it runs in the fork.
[[noreturn]] void ToolLoop(int fd, const std::vector<SExchangeSize>& sizes)
{
    uint8_t buffer[4096] = {};
    for (const SExchangeSize& x : sizes) {
        for (size_t sent = 0; sent < x.frameBytes;) {
            const ssize_t n = write(fd, buffer, std::min(sizeof buffer, x.frameBytes - sent));
            if (n < 0 && errno != EINTR)
                _exit(1);
            sent += n > 0 ? static_cast<size_t>(n) : 0;
        }
        for (size_t got = 0; got < x.answerBytes;) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 5000) <= 0)
                _exit(2);
            const ssize_t n = read(fd, buffer, std::min(sizeof buffer, x.answerBytes - got));
            if (n < 0 && errno != EINTR && errno != EAGAIN)
                _exit(3);
            got += n > 0 ? static_cast<size_t>(n) : 0;
        }
    }
    _exit(0);
}

// Waits on the master until readable or until `until`; false when the time came.
bool WaitReadable(int fd, DevClock::time_point until)
{
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        const timespec timeout = ToTimespec(until - DevClock::now());
        const int n = ppoll(&p, 1, &timeout, nullptr);
        if (n > 0)
            return true;
        if (n == 0)
            return false;
        if (errno != EINTR)
            ThrowErrno("ppoll(floor master)");
    }
}

void SleepUntil(DevClock::time_point due)
{
    while (DevClock::now() < due) {
        const timespec timeout = ToTimespec(due - DevClock::now());
        if (ppoll(nullptr, 0, &timeout, nullptr) < 0 && errno != EINTR)
            ThrowErrno("ppoll(floor pacing)");
    }
}

// The minimal device; returns the turnarounds in milliseconds.
std::vector<double> DeviceLoop(int master, const std::vector<SExchangeSize>& sizes, DevClock::duration byteTime)
{
    if (prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL) != 0)
        ThrowErrno("prctl(PR_SET_TIMERSLACK)");
    std::vector<double> turns;
    DevClock::time_point lineFreeIn{}, lineFreeOut{}, lastTx{};
    uint8_t buffer[4096];
    for (size_t i = 0; i < sizes.size(); ++i) {
        for (size_t got = 0; got < sizes[i].frameBytes;) {
            if (!WaitReadable(master, DevClock::now() + STALL))
                throw std::runtime_error("floor: the frame did not arrive");
            const ssize_t n = read(master, buffer, sizeof buffer);
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (n <= 0)
                ThrowErrno("read(floor master)");
            const DevClock::time_point now = DevClock::now();
            if (got == 0 && i > 0)
                turns.push_back(duration<double, std::milli>(now - lastTx).count());
            got += static_cast<size_t>(n);
            lineFreeIn = std::max(lineFreeIn, now) + byteTime * n;
        }
        for (size_t k = 0; k < sizes[i].answerBytes; ++k) {
            const DevClock::time_point due = std::max(lineFreeIn, lineFreeOut) + byteTime;
            SleepUntil(due);
            const uint8_t answer = 0x06;
            if (write(master, &answer, 1) != 1)
                ThrowErrno("write(floor master)");
            lastTx = DevClock::now();
            lineFreeOut = due;
        }
    }
    return turns;
}

}  // namespace

std::vector<SExchangeSize> ExchangeSizes(const std::vector<STrafficByte>& traffic,
                                         const std::vector<SExchange>& exchanges)
{
    std::vector<SExchangeSize> sizes;
    auto byte = traffic.begin();
    for (const SExchange& x : exchanges) {
        size_t frame = 0;
        for (; byte != traffic.end() && byte->time <= x.lastRx; ++byte)
            frame += byte->fromTool && byte->time >= x.firstRx ? 1 : 0;
        if (frame != 0 && x.answerBytes != 0 && x.answerWritten == x.answerBytes)
            sizes.push_back({frame, x.answerBytes});
    }
    return sizes;
}

SFloorFigures MeasureFloor(const std::vector<SExchangeSize>& all, unsigned baud, double maxLineSeconds)
{
    const DevClock::duration byteTime = duration_cast<DevClock::duration>(nanoseconds(10'000'000'000LL / baud));
    std::vector<SExchangeSize> sizes;
    double lineSeconds = 0;
    for (const SExchangeSize& x : all) {
        lineSeconds += static_cast<double>(x.frameBytes + x.answerBytes) * 10.0 / baud;
        if (lineSeconds > maxLineSeconds && sizes.size() >= 2)
            break;
        sizes.push_back(x);
    }

    termios raw{};
    cfmakeraw(&raw);
    raw.c_cflag |= CLOCAL | CREAD;
    int master = -1, slave = -1;
    if (openpty(&master, &slave, nullptr, &raw, nullptr) != 0)
        ThrowErrno("openpty");
    const pid_t pid = fork();
    if (pid < 0) {
        const int error = errno;
        close(master);
        close(slave);
        throw std::system_error(error, std::generic_category(), "fork");
    }
    if (pid == 0) {
        close(master);
        ToolLoop(slave, sizes);
    }
    if (close(slave) != 0)
        ThrowErrno("close(floor slave)");
    std::vector<double> turns;
    std::string failure;
    std::thread device([&] {
        try {
            const int flags = fcntl(master, F_GETFL);
            if (flags < 0 || fcntl(master, F_SETFL, flags | O_NONBLOCK) != 0)
                ThrowErrno("fcntl(floor master)");
            turns = DeviceLoop(master, sizes, byteTime);
        } catch (const std::exception& e) {
            failure = e.what();
        }
    });
    device.join();
    if (!failure.empty())
        kill(pid, SIGKILL);
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR)
            ThrowErrno("wait4(floor tool)");
    }
    if (close(master) != 0)
        ThrowErrno("close(floor master)");
    if (!failure.empty())
        throw std::runtime_error(failure);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("floor: the minimal tool failed");
    const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return {turns.size(), Median(turns), Percentile(turns, 95), sizes.empty() ? 0 : cpu / sizes.size() * 1e6};
}
