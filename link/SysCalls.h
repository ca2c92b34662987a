#pragma once
// CSysCalls: the one seam between link/ and the operating system.
//
// Every system call that link/ makes goes through Sys(), the process-wide
// current instance. The base class forwards each call unchanged to the kernel
// and keeps errno as the kernel set it. Tests derive from it, override the
// calls they want to disturb (EINTR, EAGAIN, EIO, short writes, a clock that
// only moves when told) and install the override with CScopedSysCalls.
//
// Installing is meant for tests: do it while no other thread uses link/.

#include <chrono>
#include <cstddef>
#include <poll.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <termios.h>

namespace devupdate::link {

class CSysCalls {
public:
    using Clock = std::chrono::steady_clock;

    virtual ~CSysCalls() = default;

    virtual int Open(const char* path, int flags);
    virtual int Close(int fd);
    virtual ssize_t Read(int fd, void* buffer, size_t n);
    virtual ssize_t Write(int fd, const void* buffer, size_t n);
    virtual int Poll(struct pollfd* fds, nfds_t count, int timeoutMs);
    virtual int Flock(int fd, int operation);
    // ioctl requests whose argument is a pointer (or unused).
    virtual int Ioctl(int fd, unsigned long request, void* argument);
    virtual int TcGetAttr(int fd, struct termios* settings);
    virtual int TcSetAttr(int fd, int when, const struct termios* settings);
    virtual int TcFlush(int fd, int queue);
    virtual ssize_t ReadLink(const char* path, char* buffer, size_t size);
    virtual int LStat(const char* path, struct stat* info);
    // Monotonic: the base of every time-out in link/.
    virtual Clock::time_point Now();
};

// The instance all of link/ uses; never null.
CSysCalls& Sys();

// Makes `calls` the current instance for the lifetime of this object and
// restores the previous one afterwards. Nest in stack order.
class CScopedSysCalls {
public:
    explicit CScopedSysCalls(CSysCalls& calls);
    ~CScopedSysCalls();
    CScopedSysCalls(const CScopedSysCalls&) = delete;
    CScopedSysCalls& operator=(const CScopedSysCalls&) = delete;

private:
    CSysCalls* m_previous;
};

}  // namespace devupdate::link
