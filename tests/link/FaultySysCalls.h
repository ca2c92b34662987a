#pragma once
// Test doubles for the link's system call seam.
//
// CFaultySysCalls passes every call to the kernel except the faults queued
// for it: the next reads, writes and polls fail with the queued errno, polls
// report queued revents, writes take at most writeChunk bytes, and one step
// of the open sequence can be made to fail.
//
// CFakeLine is a line on a fake clock: bytes arrive at scripted times, the
// driver takes written bytes on a schedule, and poll moves the clock instead
// of sleeping. Only Poll, Read, Write and Now are faked; open and close of
// the real pseudo-terminal underneath pass through.

#include "SysCalls.h"

#include <cerrno>
#include <algorithm>
#include <cstdint>
#include <deque>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <vector>

class CFaultySysCalls : public devupdate::link::CSysCalls {
public:
    static constexpr int READ_EMPTY = -1;  // in readFaults: read returns 0

    std::deque<int> readFaults;
    std::deque<int> writeFaults;
    std::deque<int> pollFaults;
    std::deque<short> pollRevents;
    size_t writeChunk = SIZE_MAX;
    // Only writes of at least this many bytes meet the queued write faults.
    size_t faultWritesFrom = 0;

    // One failing step of Open: 0 = none.
    int flockErrno = 0;
    unsigned long ioctlRequest = 0;
    int ioctlErrno = 0;
    int tcGetAttrErrno = 0;
    int tcSetAttrErrno = 0;

    int opens = 0;
    int closes = 0;
    int tcSetAttrs = 0;
    int writes = 0;

    int Open(const char* path, int flags) override
    {
        const int fd = devupdate::link::CSysCalls::Open(path, flags);
        opens += fd != -1;
        return fd;
    }
    int Close(int fd) override
    {
        ++closes;
        return devupdate::link::CSysCalls::Close(fd);
    }
    ssize_t Read(int fd, void* buffer, size_t n) override
    {
        if (!readFaults.empty()) {
            const int fault = Pop(readFaults);
            if (fault == READ_EMPTY)
                return 0;
            return FailWith(fault);
        }
        return devupdate::link::CSysCalls::Read(fd, buffer, n);
    }
    ssize_t Write(int fd, const void* buffer, size_t n) override
    {
        ++writes;
        if (!writeFaults.empty() && n >= faultWritesFrom)
            return FailWith(Pop(writeFaults));
        return devupdate::link::CSysCalls::Write(fd, buffer, n < writeChunk ? n : writeChunk);
    }
    int Poll(struct pollfd* fds, nfds_t count, int timeoutMs) override
    {
        if (!pollFaults.empty())
            return FailWith(Pop(pollFaults));
        if (!pollRevents.empty() && count == 1) {
            fds[0].revents = Pop(pollRevents);
            return 1;
        }
        return devupdate::link::CSysCalls::Poll(fds, count, timeoutMs);
    }
    int Flock(int fd, int operation) override
    {
        if (flockErrno != 0 && (operation & LOCK_EX))
            return FailWith(flockErrno);
        return devupdate::link::CSysCalls::Flock(fd, operation);
    }
    int Ioctl(int fd, unsigned long request, void* argument) override
    {
        if (ioctlErrno != 0 && request == ioctlRequest)
            return FailWith(ioctlErrno);
        return devupdate::link::CSysCalls::Ioctl(fd, request, argument);
    }
    int TcGetAttr(int fd, struct termios* settings) override
    {
        if (tcGetAttrErrno != 0)
            return FailWith(tcGetAttrErrno);
        return devupdate::link::CSysCalls::TcGetAttr(fd, settings);
    }
    int TcSetAttr(int fd, int when, const struct termios* settings) override
    {
        ++tcSetAttrs;
        if (tcSetAttrErrno != 0)
            return FailWith(tcSetAttrErrno);
        return devupdate::link::CSysCalls::TcSetAttr(fd, when, settings);
    }

private:
    template <typename T>
    static T Pop(std::deque<T>& queue)
    {
        T front = queue.front();
        queue.pop_front();
        return front;
    }
    static int FailWith(int error)
    {
        errno = error;
        return -1;
    }
};

class CFakeLine : public devupdate::link::CSysCalls {
public:
    using Ms = std::chrono::milliseconds;
    static constexpr int64_t NEVER = INT64_MAX / 2;

    struct SArrival {
        int64_t atMs;
        uint8_t byte;
    };
    std::vector<SArrival> arrivals;  // in time order
    // The driver takes one byte every acceptEveryMs (NEVER: a stalled adapter).
    int64_t acceptEveryMs = 0;
    std::vector<uint8_t> taken;

    int64_t ElapsedMs() const { return std::chrono::duration_cast<Ms>(m_now - START).count(); }

    Clock::time_point Now() override { return m_now; }

    int Poll(struct pollfd* fds, nfds_t count, int timeoutMs) override
    {
        const int64_t ready = count == 1 && (fds[0].events & POLLOUT) ? NextAcceptMs() : NextArrivalMs();
        if (count == 1 && ready <= ElapsedMs() + timeoutMs) {
            m_now = std::max(m_now, START + Ms(ready));
            fds[0].revents = fds[0].events;
            return 1;
        }
        m_now += Ms(timeoutMs);
        return 0;
    }
    ssize_t Read(int, void* buffer, size_t n) override
    {
        auto* out = static_cast<uint8_t*>(buffer);
        size_t got = 0;
        while (got < n && m_nextArrival < arrivals.size() && arrivals[m_nextArrival].atMs <= ElapsedMs())
            out[got++] = arrivals[m_nextArrival++].byte;
        if (got == 0) {
            errno = EAGAIN;
            return -1;
        }
        return static_cast<ssize_t>(got);
    }
    ssize_t Write(int, const void* buffer, size_t n) override
    {
        if (n == 0 || NextAcceptMs() > ElapsedMs()) {
            errno = EAGAIN;
            return -1;
        }
        taken.push_back(*static_cast<const uint8_t*>(buffer));
        m_lastAcceptMs = ElapsedMs();
        return 1;
    }

private:
    static constexpr Clock::time_point START = Clock::time_point() + std::chrono::hours(1);

    int64_t NextArrivalMs() const
    {
        return m_nextArrival < arrivals.size() ? arrivals[m_nextArrival].atMs : NEVER;
    }
    int64_t NextAcceptMs() const
    {
        return acceptEveryMs >= NEVER ? NEVER : m_lastAcceptMs + acceptEveryMs;
    }

    Clock::time_point m_now = START;
    size_t m_nextArrival = 0;
    int64_t m_lastAcceptMs = 0;
};
