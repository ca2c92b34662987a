#include "SysCalls.h"

#include <atomic>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace devupdate::link {

int CSysCalls::Open(const char* path, int flags) { return ::open(path, flags); }
int CSysCalls::Close(int fd) { return ::close(fd); }
ssize_t CSysCalls::Read(int fd, void* buffer, size_t n) { return ::read(fd, buffer, n); }
ssize_t CSysCalls::Write(int fd, const void* buffer, size_t n) { return ::write(fd, buffer, n); }
int CSysCalls::Poll(struct pollfd* fds, nfds_t count, int timeoutMs) { return ::poll(fds, count, timeoutMs); }
int CSysCalls::Flock(int fd, int operation) { return ::flock(fd, operation); }
int CSysCalls::Ioctl(int fd, unsigned long request, void* argument) { return ::ioctl(fd, request, argument); }
int CSysCalls::TcGetAttr(int fd, struct termios* settings) { return ::tcgetattr(fd, settings); }
int CSysCalls::TcSetAttr(int fd, int when, const struct termios* settings)
{
    return ::tcsetattr(fd, when, settings);
}
int CSysCalls::TcFlush(int fd, int queue) { return ::tcflush(fd, queue); }
ssize_t CSysCalls::ReadLink(const char* path, char* buffer, size_t size) { return ::readlink(path, buffer, size); }
int CSysCalls::LStat(const char* path, struct stat* info) { return ::lstat(path, info); }
CSysCalls::Clock::time_point CSysCalls::Now() { return Clock::now(); }

namespace {
CSysCalls g_realSysCalls;
// Atomic because the worker thread reads it while the window's thread may
// also be in link/; it only changes in tests.
std::atomic<CSysCalls*> g_currentSysCalls{&g_realSysCalls};
}  // namespace

CSysCalls& Sys() { return *g_currentSysCalls.load(std::memory_order_acquire); }

CScopedSysCalls::CScopedSysCalls(CSysCalls& calls)
    : m_previous(g_currentSysCalls.exchange(&calls, std::memory_order_acq_rel))
{
}

CScopedSysCalls::~CScopedSysCalls() { g_currentSysCalls.store(m_previous, std::memory_order_release); }

}  // namespace devupdate::link
