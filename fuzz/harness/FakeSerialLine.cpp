#include "FakeSerialLine.h"

#include "ComPort.h"
#include "Crc16.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/ioctl.h>

using namespace devupdate::link;
using namespace devupdate::xsvf;

namespace {

constexpr uint8_t READ_TDO_ECHO = 0x52;
constexpr uint8_t BUSY = 0x33;

}  // namespace

CFakeSerialLine::CFakeSerialLine(const uint8_t* script, size_t size)
{
    Parse(script, size);
}

void CFakeSerialLine::Parse(const uint8_t* script, size_t size)
{
    for (size_t i = 0; i < size; ++i) {
        const uint8_t op = script[i];
        if (op < 0xF0) {
            m_events.push_back({EEvent::Byte, op});
            continue;
        }
        switch (op) {
        case 0xF1:
        case 0xF2:
            AddReadBack(script, size, i, op == 0xF1);
            break;
        case 0xF3: {
            const unsigned count = i + 1 < size ? script[++i] + 1u : 1u;
            for (unsigned k = 0; k < count; ++k)
                m_events.push_back({EEvent::Byte, BUSY});
            break;
        }
        case 0xF4:
            m_events.push_back({EEvent::Vanish, 0});
            break;
        case 0xF5:
            if (i + 1 < size)
                m_events.push_back({EEvent::Byte, script[++i]});
            break;
        case 0xF6:
            m_events.push_back({EEvent::Stall, 0});
            break;
        case 0xF7:
            m_events.push_back({EEvent::Cancel, 0});
            break;
        default:
            m_events.push_back({EEvent::Timeout, 0});
            break;
        }
    }
}

// Length 2n + 3, the echo byte, each TDO byte as two nibbles, the CRC of echo
// and nibbles: what the device sends after acknowledging a read-TDO frame.
void CFakeSerialLine::AddReadBack(const uint8_t* script, size_t size, size_t& i, bool rightCrc)
{
    const size_t n = i + 1 < size ? script[++i] % 64u + 1u : 1u;
    std::vector<uint8_t> body{READ_TDO_ECHO};
    for (size_t k = 0; k < n; ++k) {
        const uint8_t tdo = i + 1 < size ? script[++i] : 0;
        body.push_back(static_cast<uint8_t>(tdo >> 4));
        body.push_back(static_cast<uint8_t>(tdo & 0x0F));
    }
    uint16_t crc = Crc16(body.data(), body.size());
    if (!rightCrc)
        crc = static_cast<uint16_t>(~crc);
    const size_t declared = 2 * n + 3;
    std::vector<uint8_t> frame{static_cast<uint8_t>(declared >> 8), static_cast<uint8_t>(declared)};
    frame.insert(frame.end(), body.begin(), body.end());
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    frame.push_back(static_cast<uint8_t>(crc));
    for (uint8_t byte : frame)
        m_events.push_back({EEvent::Byte, byte});
}

void CFakeSerialLine::TakeControlEvents()
{
    while (!m_events.empty()) {
        const EEvent kind = m_events.front().kind;
        if (kind == EEvent::Cancel) {
            m_events.pop_front();
            if (OnCancel)
                OnCancel();
        } else if (kind == EEvent::Stall) {
            m_events.pop_front();
            m_stallPending = true;
        } else {
            return;
        }
    }
}

bool CFakeSerialLine::CheckFd(int fd)
{
    if (fd == FAKE_FD && m_open)
        return true;
    errno = EBADF;
    return false;
}

int CFakeSerialLine::Open(const char*, int)
{
    if (m_open) {
        errno = EBUSY;
        return -1;
    }
    m_open = true;
    m_vanished = false;
    ++m_opens;
    return FAKE_FD;
}

int CFakeSerialLine::Close(int fd)
{
    if (!CheckFd(fd))
        return -1;
    m_open = false;
    return 0;
}

ssize_t CFakeSerialLine::Read(int fd, void* buffer, size_t n)
{
    if (!CheckFd(fd))
        return -1;
    TakeControlEvents();
    if (m_vanished || m_events.empty() || m_events.front().kind == EEvent::Vanish) {
        m_vanished = true;
        errno = EIO;
        return -1;
    }
    auto* out = static_cast<uint8_t*>(buffer);
    size_t got = 0;
    while (got < n && !m_events.empty() && m_events.front().kind == EEvent::Byte) {
        out[got++] = m_events.front().byte;
        m_events.pop_front();
    }
    if (got == 0) {
        errno = EAGAIN;
        return -1;
    }
    return static_cast<ssize_t>(got);
}

ssize_t CFakeSerialLine::Write(int fd, const void* buffer, size_t n)
{
    if (!CheckFd(fd))
        return -1;
    if (m_vanished) {
        errno = EIO;
        return -1;
    }
    if (m_stallPending) {
        m_stallPending = false;
        m_hasStalled = true;
        m_stalledUntil = m_now + std::chrono::milliseconds(CComPort::WRITE_SAFETY_MS + 1);
    }
    if (m_now < m_stalledUntil) {
        errno = EAGAIN;
        return -1;
    }
    if (m_recorded < MAX_RECORDED_BYTES) {
        const auto* bytes = static_cast<const uint8_t*>(buffer);
        m_writes.emplace_back(bytes, bytes + n);
        m_recorded += n;
    }
    return static_cast<ssize_t>(n);
}

int CFakeSerialLine::Poll(struct pollfd* fds, nfds_t count, int timeoutMs)
{
    const auto expire = [&] {
        m_now += std::chrono::milliseconds(std::max(timeoutMs, 0));
        return 0;
    };
    if (count == 0)
        return expire();
    if (count != 1 || !CheckFd(fds[0].fd)) {
        errno = EINVAL;
        return -1;
    }
    struct pollfd& p = fds[0];
    p.revents = 0;
    if (!m_vanished && (p.events & POLLOUT)) {
        if (m_now < m_stalledUntil)
            return expire();
        p.revents = POLLOUT;
        return 1;
    }
    TakeControlEvents();
    if (m_vanished || m_events.empty() || m_events.front().kind == EEvent::Vanish) {
        m_vanished = true;
        p.revents = POLLHUP;
        return 1;
    }
    if (m_events.front().kind == EEvent::Timeout) {
        m_events.pop_front();
        return expire();
    }
    p.revents = POLLIN;
    return 1;
}

int CFakeSerialLine::Flock(int fd, int) { return CheckFd(fd) ? 0 : -1; }

int CFakeSerialLine::Ioctl(int fd, unsigned long request, void* argument)
{
    if (!CheckFd(fd))
        return -1;
    switch (request) {
    case TIOCEXCL:
    case TIOCNXCL:
        return 0;
    case TIOCOUTQ:
        *static_cast<int*>(argument) = 0;
        return 0;
    default:  // modem lines and low latency: a line without them
        errno = ENOTTY;
        return -1;
    }
}

int CFakeSerialLine::TcGetAttr(int fd, struct termios* settings)
{
    if (!CheckFd(fd))
        return -1;
    *settings = m_settings;
    return 0;
}

int CFakeSerialLine::TcSetAttr(int fd, int, const struct termios* settings)
{
    if (!CheckFd(fd))
        return -1;
    m_settings = *settings;
    return 0;
}
