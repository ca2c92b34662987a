#pragma once
// The tool's side of a simulated device in tests: the slave of the device's
// pseudo-terminal, opened raw, with plain POSIX reads and writes.

#include "JtagFrame.h"
#include "Crc16.h"
#include "Devsim.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

using Bytes = std::vector<uint8_t>;

class CDevsimClient {
public:
    explicit CDevsimClient(const std::string& path)
    {
        m_fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_fd < 0)
            throw std::runtime_error("open " + path);
        termios t{};
        if (tcgetattr(m_fd, &t) != 0)
            throw std::runtime_error("tcgetattr");
        cfmakeraw(&t);
        if (tcsetattr(m_fd, TCSANOW, &t) != 0)
            throw std::runtime_error("tcsetattr");
    }
    ~CDevsimClient()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    CDevsimClient(const CDevsimClient&) = delete;
    CDevsimClient& operator=(const CDevsimClient&) = delete;

    void Send(const Bytes& bytes)
    {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = write(m_fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            ASSERT_GT(n, 0) << "write: " << errno;
            done += static_cast<size_t>(n);
        }
    }

    // Up to n bytes; fewer when nothing comes for timeoutMs (or the line fails).
    Bytes Receive(size_t n, int timeoutMs = 2000)
    {
        Bytes out;
        while (out.size() < n) {
            pollfd p{m_fd, POLLIN, 0};
            const int r = poll(&p, 1, timeoutMs);
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0)
                break;
            uint8_t buffer[256];
            const ssize_t got = read(m_fd, buffer, std::min(sizeof buffer, n - out.size()));
            if (got <= 0)
                break;
            out.insert(out.end(), buffer, buffer + got);
        }
        return out;
    }

    // Sends and returns the n answer bytes expected.
    Bytes Exchange(const Bytes& bytes, size_t n)
    {
        Send(bytes);
        return Receive(n);
    }

    // True when nothing arrives within ms (silence can only be decided by waiting).
    bool QuietFor(int ms) { return Receive(1, ms).empty(); }

    int Fd() const { return m_fd; }

private:
    int m_fd = -1;
};

// A JTAG frame around a payload: length, payload, CRC.
inline Bytes Frame(const Bytes& payload)
{
    return MakeJtagFrame(payload);
}

// A device started for one test, with its client connected.
class DevsimTestBase : public ::testing::Test {
protected:
    void StartDevice(devupdate::devsim::SDevsimConfig config = {})
    {
        m_device = std::make_unique<devupdate::devsim::CDevsim>(std::move(config));
        m_device->Start();
        m_client = std::make_unique<CDevsimClient>(m_device->SlavePath());
    }

    // Wake-up and start: five 0x11 to 0xA4, then 0x88 to 0xA3.
    void WakeAndStart()
    {
        for (int i = 0; i < 5; ++i)
            ASSERT_EQ(m_client->Exchange({0xA4}, 1), Bytes{0x11});
        ASSERT_EQ(m_client->Exchange({0xA3}, 1), Bytes{0x88});
    }

    // Wakes the device and selects target as an XSVF target.
    void EnterJtag(uint8_t target = 2)
    {
        WakeAndStart();
        ASSERT_EQ(m_client->Exchange({0xA0, target, static_cast<uint8_t>(~target)}, 1), Bytes{0x11});
        ASSERT_EQ(m_client->Exchange({0xFF, 0x00}, 1), Bytes{0x11});
    }

    Bytes SendFrame(const Bytes& payload, size_t answerBytes = 1)
    {
        return m_client->Exchange(Frame(payload), answerBytes);
    }

    void TearDown() override
    {
        m_client.reset();
        if (m_device)
            m_device->Stop();
    }

    std::unique_ptr<devupdate::devsim::CDevsim> m_device;
    std::unique_ptr<CDevsimClient> m_client;
};
