#include "OutputStream.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int DRAIN_POLL_MS = 100;

// A file or a disk never keeps a writer waiting for a reader.
bool NeverStalls(int fd)
{
    struct stat info {};
    return fstat(fd, &info) == 0 && (S_ISREG(info.st_mode) || S_ISBLK(info.st_mode));
}

// A second open file description of what fd leads to (a terminal, a pipe, a
// character device), non-blocking, so that the shared description - the
// shell's terminal - keeps its flags. -1 where the file cannot be opened
// again that way (a socket).
int OpenNonBlocking(int fd)
{
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    for (;;) {
        const int own = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (own != -1 || errno != EINTR)
            return own;
    }
}

}  // namespace

COutputStream::COutputStream(int fd) : m_fd(fd), m_terminal(isatty(fd) == 1)
{
    if (fcntl(fd, F_GETFD) == -1) {
        m_on = false;
        return;
    }
    if (NeverStalls(fd))
        return;
    m_ownFd = OpenNonBlocking(fd);
    m_mayBlock = m_ownFd == -1;
}

COutputStream::~COutputStream()
{
    if (m_ownFd != -1)
        (void)close(m_ownFd);
}

bool COutputStream::Offer(std::string_view text)
{
    if (m_on && m_pending.size() + text.size() > MAX_PENDING) {
        Pump();
        if (m_pending.size() + text.size() > MAX_PENDING)
            return false;
    }
    Queue(text);
    return true;
}

void COutputStream::Queue(std::string_view text)
{
    if (!m_on)
        return;
    m_pending.append(text);
    Pump();
}

void COutputStream::Pump()
{
    while (m_on && !m_pending.empty() && WriteSome()) {
    }
}

bool COutputStream::WriteSome()
{
    size_t n = m_pending.size();
    const int fd = m_ownFd != -1 ? m_ownFd : m_fd;
    if (m_mayBlock) {
        // Only "writable" is known: no more than a pipe takes in one piece.
        struct pollfd p {fd, POLLOUT, 0};
        if (poll(&p, 1, 0) <= 0 || (p.revents & POLLOUT) == 0) {
            if (p.revents & (POLLERR | POLLHUP | POLLNVAL))
                m_on = false;
            return false;
        }
        n = std::min<size_t>(n, PIPE_BUF);
    }
    const ssize_t written = write(fd, m_pending.data(), n);
    if (written > 0) {
        m_pending.erase(0, static_cast<size_t>(written));
        return true;
    }
    if (written < 0 && (errno == EINTR))
        return true;
    if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return false;
    // EPIPE, ENOSPC, EIO ...: nobody will read this stream again.
    m_on = false;
    m_pending.clear();
    return false;
}

void COutputStream::Drain(const std::function<bool()>& giveUp)
{
    for (;;) {
        Pump();
        if (!m_on || m_pending.empty() || giveUp())
            return;
        struct pollfd p {m_ownFd != -1 ? m_ownFd : m_fd, POLLOUT, 0};
        if (poll(&p, 1, DRAIN_POLL_MS) < 0 && errno != EINTR) {
            m_on = false;
            return;
        }
    }
}
