#pragma once
// CPtyPair: a fresh pseudo-terminal pair for one test, header only.
//
// Both ends are raw (no echo, no line editing, no CR/LF translation), 8 bits.
// The master stands for the device: tests write the device's answers into it
// and read back what the tool sent. The slave is the port the tool opens by
// SlavePath(). The pair keeps its own slave descriptor open so that the slave
// tty outlives every open/close of the port under test (otherwise the master
// reads EIO whenever the port is closed); CloseSlave() drops it.
// CloseMaster() makes the device vanish: the slave side then sees a hang-up.
// Both descriptors are close-on-exec and blocking.
//
// The constructor throws std::runtime_error naming the failing call and errno.

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>
#include <chrono>

class CPtyPair {
public:
    CPtyPair()
    {
        char name[256] = {};
        if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0)
            Fail("openpty");
        m_slavePath = name;
        for (int fd : {m_master, m_slave}) {
            if (fcntl(fd, F_SETFD, FD_CLOEXEC) != 0)
                FailAndClose("fcntl(FD_CLOEXEC)");
            struct termios t {};
            if (tcgetattr(fd, &t) != 0)
                FailAndClose("tcgetattr");
            cfmakeraw(&t);
            t.c_cc[VMIN] = 1;
            t.c_cc[VTIME] = 0;
            if (tcsetattr(fd, TCSANOW, &t) != 0)
                FailAndClose("tcsetattr");
        }
    }

    ~CPtyPair()
    {
        CloseMaster();
        CloseSlave();
    }

    CPtyPair(const CPtyPair&) = delete;
    CPtyPair& operator=(const CPtyPair&) = delete;

    int MasterFd() const { return m_master; }
    int SlaveFd() const { return m_slave; }
    const std::string& SlavePath() const { return m_slavePath; }

    void CloseMaster() { CloseFd(m_master); }
    void CloseSlave() { CloseFd(m_slave); }

    // Writes all bytes into the master (the device speaks). False on error.
    bool WriteMaster(const void* data, size_t n)
    {
        const auto* p = static_cast<const uint8_t*>(data);
        while (n > 0) {
            ssize_t w = ::write(m_master, p, n);
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                return false;
            p += w;
            n -= static_cast<size_t>(w);
        }
        return true;
    }
    bool WriteMaster(const std::vector<uint8_t>& bytes)
    {
        return WriteMaster(bytes.data(), bytes.size());
    }

    // Reads from the master until n bytes came or timeoutMs passed since the
    // call; returns what arrived (fewer than n on time-out or error).
    std::vector<uint8_t> ReadMaster(size_t n, int timeoutMs)
    {
        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        std::vector<uint8_t> out;
        while (out.size() < n) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - Clock::now()).count();
            if (left < 0)
                left = 0;
            struct pollfd p {m_master, POLLIN, 0};
            int r = ::poll(&p, 1, static_cast<int>(left));
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0 || !(p.revents & POLLIN))
                break;
            uint8_t buf[4096];
            size_t want = n - out.size() < sizeof buf ? n - out.size() : sizeof buf;
            ssize_t got = ::read(m_master, buf, want);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            out.insert(out.end(), buf, buf + got);
        }
        return out;
    }

private:
    static void CloseFd(int& fd)
    {
        if (fd != -1) {
            (void)::close(fd);  // nothing to do about a failed close in a test fixture
            fd = -1;
        }
    }
    [[noreturn]] static void Fail(const char* what)
    {
        throw std::runtime_error(std::string("CPtyPair: ") + what + ": " + std::strerror(errno));
    }
    [[noreturn]] void FailAndClose(const char* what)
    {
        int saved = errno;
        CloseMaster();
        CloseSlave();
        errno = saved;
        Fail(what);
    }

    int m_master = -1;
    int m_slave = -1;
    std::string m_slavePath;
};
