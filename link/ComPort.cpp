#include "ComPort.h"

#include "SysCalls.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <linux/serial.h>
#include <optional>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <vector>

namespace devupdate::link {

namespace {

using Clock = CSysCalls::Clock;
using std::chrono::milliseconds;

std::optional<speed_t> SpeedFor(unsigned baudRate)
{
    struct Rate {
        unsigned baud;
        speed_t speed;
    };
    static constexpr Rate RATES[] = {
        {50, B50}, {75, B75}, {110, B110}, {134, B134}, {150, B150}, {200, B200},
        {300, B300}, {600, B600}, {1200, B1200}, {1800, B1800}, {2400, B2400},
        {4800, B4800}, {9600, B9600}, {19200, B19200}, {38400, B38400},
        {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800},
        {500000, B500000}, {576000, B576000}, {921600, B921600}, {1000000, B1000000},
        {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000},
        {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000},
        {4000000, B4000000},
    };
    for (const Rate& r : RATES)
        if (r.baud == baudRate)
            return r.speed;
    return std::nullopt;
}

bool IsGoneErrno(int error) { return error == EIO || error == ENXIO || error == ENODEV; }

// ms * n + ms, saturated far beyond any real wait.
Clock::duration TotalReadTime(unsigned ms, size_t n)
{
    constexpr uint64_t LIMIT_MS = uint64_t{1} << 40;  // about 35 years
    const uint64_t parts = n >= LIMIT_MS ? LIMIT_MS : uint64_t{n} + 1;
    const uint64_t total = ms == 0 ? 0 : std::min(LIMIT_MS, parts > LIMIT_MS / ms ? LIMIT_MS : parts * ms);
    return milliseconds(static_cast<int64_t>(total));
}

// Whole milliseconds from now to deadline, rounded up so that a poll never
// wakes before the deadline; 0 once it has passed.
int MsUntil(Clock::time_point deadline, Clock::time_point now)
{
    if (deadline <= now)
        return 0;
    const auto left = std::chrono::ceil<milliseconds>(deadline - now).count();
    return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

enum class EWait { Ready, TimedOut, Interrupted, Gone, Failed };

// One poll for `events` on fd. A hang-up without pending data, POLLERR and
// POLLNVAL mean the device is gone; data still pending after a hang-up is
// delivered first.
EWait WaitFor(int fd, short events, int timeoutMs)
{
    struct pollfd p {fd, events, 0};
    const int r = Sys().Poll(&p, 1, timeoutMs);
    if (r < 0)
        return errno == EINTR ? EWait::Interrupted : EWait::Failed;
    if (r == 0)
        return EWait::TimedOut;
    if (p.revents & (POLLERR | POLLNVAL))
        return EWait::Gone;
    if (p.revents & events)
        return EWait::Ready;
    if (p.revents & POLLHUP)
        return EWait::Gone;
    return EWait::Interrupted;  // nothing we asked for: look again
}

int OpenRetrying(const std::string& path)
{
    for (;;) {
        const int fd = Sys().Open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd != -1 || errno != EINTR)
            return fd;
    }
}

}  // namespace

CComPort::~CComPort() { Close(); }

bool CComPort::Open(const std::string& name, unsigned baudRate, unsigned timeoutMs)
{
    if (IsOpen())
        return false;
    const std::optional<speed_t> speed = SpeedFor(baudRate);
    if (!speed) {
        m_lastErrno = EINVAL;
        m_lastError = "open: unsupported baud rate " + std::to_string(baudRate);
        return false;
    }
    const int fd = OpenRetrying(ResolvePortName(name));
    if (fd == -1)
        return Fail("open");
    if (!Lock(fd)) {
        CloseDescriptor(fd);
        return false;
    }
    if (!ConfigureLine(fd, *speed)) {
        // Our exclusive flag must not outlive the failed open; the reason
        // reported stays the open's own failure.
        (void)Sys().Ioctl(fd, TIOCNXCL, nullptr);
        CloseDescriptor(fd);
        return false;
    }
    ClearModemLines(fd);
    RequestLowLatency(fd);
    m_hCom = fd;
    m_gone = false;
    if (!SetTimeouts(timeoutMs)) {
        Close();
        return false;
    }
    return true;
}

// Exclusive against other descriptors and processes. flock first: TIOCEXCL
// alone does not stop root, and a failed attempt must not touch the line of
// whoever holds it.
bool CComPort::Lock(int fd)
{
    if (Sys().Flock(fd, LOCK_EX | LOCK_NB) != 0)
        return Fail("flock");
    if (Sys().Ioctl(fd, TIOCEXCL, nullptr) != 0)
        return Fail("ioctl(TIOCEXCL)");
    return true;
}

bool CComPort::ConfigureLine(int fd, speed_t speed)
{
    struct termios saved {};
    if (Sys().TcGetAttr(fd, &saved) != 0)
        return Fail("tcgetattr");
    struct termios raw = saved;
    cfmakeraw(&raw);
    raw.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    raw.c_cflag |= CLOCAL | CREAD | CS8;
    raw.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    if (cfsetispeed(&raw, speed) != 0 || cfsetospeed(&raw, speed) != 0) {
        errno = EINVAL;
        return Fail("cfsetspeed");
    }
    if (Sys().TcSetAttr(fd, TCSANOW, &raw) != 0)
        return Fail("tcsetattr");
    // tcsetattr succeeds when any part of the change took: read it back.
    struct termios applied {};
    if (Sys().TcGetAttr(fd, &applied) != 0)
        return Fail("tcgetattr");
    if (cfgetospeed(&applied) != speed || (applied.c_cflag & CSIZE) != CS8 ||
        (applied.c_cflag & (PARENB | CSTOPB | CRTSCTS)) != 0) {
        if (Sys().TcSetAttr(fd, TCSANOW, &saved) != 0)
            return Fail("tcsetattr(restore)");
        errno = EINVAL;
        return Fail("tcsetattr(not applied)");
    }
    m_savedSettings = saved;
    m_haveSavedSettings = true;
    return true;
}

// Devices without modem lines (a pseudo-terminal) refuse this; that is fine.
// The lines found are put back at Close.
void CComPort::ClearModemLines(int fd)
{
    int found = 0;
    m_haveModemLines = Sys().Ioctl(fd, TIOCMGET, &found) == 0;
    m_savedModemLines = found & (TIOCM_DTR | TIOCM_RTS);
    int lines = TIOCM_DTR | TIOCM_RTS;
    if (Sys().Ioctl(fd, TIOCMBIC, &lines) != 0)
        return;
}

void CComPort::RestoreModemLines()
{
    if (!m_haveModemLines || m_savedModemLines == 0)
        return;
    int lines = m_savedModemLines;
    if (Sys().Ioctl(m_hCom, TIOCMBIS, &lines) != 0)
        Fail("ioctl(TIOCMBIS)");
}

// USB adapters otherwise hold received bytes for up to 16 ms, which would
// add to every answer of a run. Optional: many drivers do not support it.
void CComPort::RequestLowLatency(int fd)
{
    struct serial_struct serial {};
    if (Sys().Ioctl(fd, TIOCGSERIAL, &serial) != 0)
        return;
    if (serial.flags & ASYNC_LOW_LATENCY)
        return;
    serial.flags |= ASYNC_LOW_LATENCY;
    if (Sys().Ioctl(fd, TIOCSSERIAL, &serial) != 0)
        return;
    m_lowLatencySet = true;
}

// The flag is the driver's, shared by every later user of the port.
void CComPort::RestoreLatency()
{
    if (!m_lowLatencySet)
        return;
    m_lowLatencySet = false;
    struct serial_struct serial {};
    if (Sys().Ioctl(m_hCom, TIOCGSERIAL, &serial) != 0) {
        Fail("ioctl(TIOCGSERIAL)");
        return;
    }
    serial.flags &= ~ASYNC_LOW_LATENCY;
    if (Sys().Ioctl(m_hCom, TIOCSSERIAL, &serial) != 0)
        Fail("ioctl(TIOCSSERIAL)");
}

void CComPort::ReleaseExclusive(int fd)
{
    if (Sys().Ioctl(fd, TIOCNXCL, nullptr) != 0)
        Fail("ioctl(TIOCNXCL)");
}

bool CComPort::SetTimeouts(unsigned ms)
{
    m_timeoutMs = ms;
    return true;
}

bool CComPort::Write(const void* buffer, size_t n)
{
    if (!IsOpen() || m_gone)
        return false;
    const auto* p = static_cast<const uint8_t*>(buffer);
    size_t left = n;
    auto deadline = Sys().Now() + milliseconds(WRITE_SAFETY_MS);
    while (left > 0) {
        const ssize_t written = Sys().Write(m_hCom, p, left);
        if (written > 0) {
            m_bytesWritten.fetch_add(static_cast<uint64_t>(written), std::memory_order_relaxed);
            p += written;
            left -= static_cast<size_t>(written);
            deadline = Sys().Now() + milliseconds(WRITE_SAFETY_MS);
            continue;
        }
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0 && IsGoneErrno(errno))
            return FailGone("write");
        if (written < 0 && errno != EAGAIN)
            return Fail("write");
        // The driver's queue is full: wait for room, but not forever.
        const auto now = Sys().Now();
        if (now >= deadline) {
            errno = ETIMEDOUT;
            return Fail("write(no progress)");
        }
        switch (WaitFor(m_hCom, POLLOUT, MsUntil(deadline, now))) {
        case EWait::Ready:
        case EWait::Interrupted:
        case EWait::TimedOut:  // the deadline check above decides
            break;
        case EWait::Gone:
            errno = EIO;
            return FailGone("poll(write)");
        case EWait::Failed:
            return Fail("poll(write)");
        }
    }
    return true;
}

bool CComPort::Read(void* buffer, size_t n)
{
    if (!IsOpen() || m_gone)
        return false;
    auto* out = static_cast<uint8_t*>(buffer);
    const milliseconds interval(m_timeoutMs);
    const auto deadline = Sys().Now() + TotalReadTime(m_timeoutMs, n);
    auto lastByte = deadline;
    size_t got = 0;
    while (got < n) {
        const auto now = Sys().Now();
        const auto until = got == 0 ? deadline : std::min(deadline, lastByte + interval);
        const bool expired = now >= until;
        switch (WaitFor(m_hCom, POLLIN, MsUntil(until, now))) {
        case EWait::Ready:
            break;
        case EWait::TimedOut:
            return false;
        case EWait::Interrupted:
            continue;
        case EWait::Gone:
            errno = EIO;
            return FailGone("poll(read)");
        case EWait::Failed:
            return Fail("poll(read)");
        }
        const ssize_t r = Sys().Read(m_hCom, out + got, n - got);
        if (r > 0) {
            got += static_cast<size_t>(r);
            lastByte = Sys().Now();
            continue;
        }
        if (r == 0) {
            errno = EIO;
            return FailGone("read(readable but empty)");
        }
        if (IsGoneErrno(errno))
            return FailGone("read");
        if (errno != EINTR && errno != EAGAIN)
            return Fail("read");
        if (expired)
            return false;
    }
    return true;
}

bool CComPort::Close()
{
    if (!IsOpen())
        return true;
    // What did not go out by the deadline is dropped: close() would otherwise
    // wait for it as long as the driver's closing time (30 s by default).
    if (!m_gone && !DrainOutput() && Sys().TcFlush(m_hCom, TCOFLUSH) != 0)
        Fail("tcflush");
    if (m_haveSavedSettings && Sys().TcSetAttr(m_hCom, TCSANOW, &m_savedSettings) != 0)
        Fail("tcsetattr(restore)");  // a vanished device refuses; closing goes on
    RestoreModemLines();
    RestoreLatency();
    // The exclusive flag would outlive us on a tty that someone else keeps open.
    ReleaseExclusive(m_hCom);
    CloseDescriptor(m_hCom);
    m_hCom = -1;
    m_gone = false;
    m_haveSavedSettings = false;
    m_haveModemLines = false;
    return true;
}

// Bytes still queued would go out at the restored speed; give them a bounded
// time so that a stalled adapter cannot hang Close. False when bytes are
// still queued at the deadline. (A pseudo-terminal reports nothing queued:
// what its other side has not read yet is left to it.)
bool CComPort::DrainOutput()
{
    const auto deadline = Sys().Now() + milliseconds(CLOSE_DRAIN_MS);
    for (;;) {
        int queued = 0;
        if (Sys().Ioctl(m_hCom, TIOCOUTQ, &queued) != 0 || queued <= 0)
            return true;
        if (Sys().Now() >= deadline)
            return false;
        if (Sys().Poll(nullptr, 0, 1) < 0 && errno != EINTR)
            return false;
    }
}

// Closing releases the flock as well. No retry on EINTR: on Linux the
// descriptor is gone either way.
void CComPort::CloseDescriptor(int fd)
{
    if (Sys().Close(fd) != 0)
        Fail("close");
}

bool CComPort::Fail(const char* operation)
{
    m_lastErrno = errno;
    m_lastError = std::string(operation) + ": " + std::strerror(errno);
    return false;
}

bool CComPort::FailGone(const char* operation)
{
    m_gone = true;
    return Fail(operation);
}

}  // namespace devupdate::link
