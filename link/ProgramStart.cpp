#include "ProgramStart.h"

#include <cerrno>
#include <csignal>
#include <climits>
#include <string>
#include <fcntl.h>
#include <unistd.h>

namespace devupdate::link {

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

std::string& NameOfExecutable()
{
    static std::string name;
    return name;
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

void NameProgramFromExecutable()
{
    std::string path(PATH_MAX, '\0');
    const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0 || static_cast<size_t>(length) >= path.size())
        return;  // keep the build name
    path.resize(static_cast<size_t>(length));
    const std::string replaced = " (deleted)";  // the file was replaced while it runs (an upgrade)
    if (path.ends_with(replaced))
        path.resize(path.size() - replaced.size());
    NameOfExecutable() = path.substr(path.rfind('/') + 1);
}

std::string ProgramName(const char* buildName)
{
    const std::string& name = NameOfExecutable();
    return name.empty() ? std::string(buildName) : name;
}

}  // namespace devupdate::link
