#include "SpoolingInput.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace devupdate::mkupd {

namespace {

std::string Reason(const std::string& operation, const std::string& path)
{
    return operation + " " + path + ": " + std::strerror(errno);
}

ssize_t ReadRetrying(int fd, char* data, size_t size)
{
    ssize_t n;
    do {
        n = read(fd, data, size);
    } while (n < 0 && errno == EINTR);
    return n;
}

}  // namespace

CSpoolingBuffer::~CSpoolingBuffer()
{
    // Input only: nothing is lost when closing fails.
    if (m_source >= 0)
        (void)close(m_source);
    if (m_copy >= 0)
        (void)close(m_copy);
}

bool CSpoolingBuffer::Open(const std::string& path, std::string& error)
{
    m_source = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_source < 0) {
        error = Reason("cannot open", path);
        return false;
    }
    const char* folder = std::getenv("TMPDIR");
    std::string copy = std::string(folder != nullptr && *folder != '\0' ? folder : "/tmp") + "/mkupd-input-XXXXXX";
    m_copy = mkstemp(copy.data());
    if (m_copy < 0) {
        error = Reason("mkstemp", copy);
        return false;
    }
    if (unlink(copy.c_str()) != 0) {
        error = Reason("unlink", copy);
        return false;
    }
    return true;
}

bool CSpoolingBuffer::CopyOut(const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = write(m_copy, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            m_error = Reason("cannot keep a copy of the input:", "write");
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

CSpoolingBuffer::int_type CSpoolingBuffer::underflow()
{
    if (!m_error.empty())
        return traits_type::eof();
    const int fd = m_replaying ? m_copy : m_source;
    const ssize_t n = ReadRetrying(fd, m_buffer, sizeof m_buffer);
    if (n < 0)
        m_error = Reason("cannot read", m_replaying ? "the copy of the input" : "the input");
    if (n <= 0 || (!m_replaying && !CopyOut(m_buffer, static_cast<size_t>(n))))
        return traits_type::eof();
    setg(m_buffer, m_buffer, m_buffer + n);
    return traits_type::to_int_type(m_buffer[0]);
}

CSpoolingBuffer::pos_type CSpoolingBuffer::seekoff(off_type offset, std::ios_base::seekdir from,
                                                   std::ios_base::openmode which)
{
    if (offset == 0 && from == std::ios_base::beg)
        return seekpos(0, which);
    return pos_type(off_type(-1));
}

CSpoolingBuffer::pos_type CSpoolingBuffer::seekpos(pos_type position, std::ios_base::openmode which)
{
    if (position != pos_type(0) || (which & std::ios_base::in) == 0 || !m_error.empty())
        return pos_type(off_type(-1));
    // Whatever the first pass left unread belongs to the copy too.
    while (!m_replaying && underflow() != traits_type::eof())
        setg(nullptr, nullptr, nullptr);
    if (!m_error.empty() || lseek(m_copy, 0, SEEK_SET) != 0)
        return pos_type(off_type(-1));
    m_replaying = true;
    setg(nullptr, nullptr, nullptr);
    return position;
}

}  // namespace devupdate::mkupd
