#include "ProgramStart.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

bool IsClosed(int fd)
{
    return fcntl(fd, F_GETFD) == -1 && errno == EBADF;
}

// open() returns the lowest free descriptor, so opening /dev/null fills the
// closed ones in order; a descriptor above 2 means none was missing.
bool FillClosedStandardDescriptors()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (!IsClosed(fd))
            continue;
        const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened == -1)
            return false;
        if (opened != fd) {
            // Only possible when another thread raced us; keep what we have.
            (void)close(opened);
            return false;
        }
    }
    return true;
}

}  // namespace

bool SignalInheritedAsIgnored(int signal)
{
    struct sigaction action {};
    return sigaction(signal, nullptr, &action) == 0 && action.sa_handler == SIG_IGN;
}

bool PrepareProgramStart()
{
    const bool filled = FillClosedStandardDescriptors();
    return signal(SIGPIPE, SIG_IGN) != SIG_ERR && filled;
}
