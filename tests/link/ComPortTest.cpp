// CComPort against a real pseudo-terminal: the slave is the port, the master
// plays the device.

#include "ComPort.h"
#include "PtyPair.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <numeric>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace devupdate::link;

namespace {

using Clock = std::chrono::steady_clock;

int64_t MsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

struct termios SlaveSettings(const CPtyPair& pty)
{
    struct termios t {};
    EXPECT_EQ(tcgetattr(pty.SlaveFd(), &t), 0);
    return t;
}

// Opens `path` in a child process; the exit status tells whether it worked.
bool OpensInOtherProcess(const std::string& path)
{
    const pid_t child = fork();
    if (child == 0) {
        CComPort port;
        const bool opened = port.Open(path, 57600, 2000);
        port.Close();
        _exit(opened ? 0 : 1);
    }
    EXPECT_NE(child, -1);
    int status = 0;
    EXPECT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status));
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class ComPortTest : public ::testing::Test {
protected:
    bool OpenPort(CComPort& port) { return port.Open(m_pty.SlavePath(), 57600, 2000); }

    CPtyPair m_pty;
    CComPort m_port;
};

TEST_F(ComPortTest, OpensClosesAndReopens)
{
    EXPECT_FALSE(m_port.IsOpen());
    ASSERT_TRUE(OpenPort(m_port));
    EXPECT_TRUE(m_port.IsOpen());
    EXPECT_TRUE(m_port.Close());
    EXPECT_FALSE(m_port.IsOpen());
    EXPECT_TRUE(m_port.Close());  // already closed: still true
    ASSERT_TRUE(OpenPort(m_port));
    EXPECT_TRUE(m_port.IsOpen());
}

TEST_F(ComPortTest, OpenOnOpenPortFailsAndLeavesItWorking)
{
    ASSERT_TRUE(OpenPort(m_port));
    EXPECT_FALSE(OpenPort(m_port));
    EXPECT_TRUE(m_port.IsOpen());
    ASSERT_TRUE(m_pty.WriteMaster({0x11}));
    uint8_t b = 0;
    ASSERT_TRUE(m_port.Read(&b, 1));
    EXPECT_EQ(b, 0x11);
    ASSERT_TRUE(m_port.Write("\xA4", 1));
    EXPECT_EQ(m_pty.ReadMaster(1, 1000), std::vector<uint8_t>{0xA4});
}

TEST_F(ComPortTest, SecondObjectCannotOpenHeldPortUntilClosed)
{
    ASSERT_TRUE(OpenPort(m_port));
    CComPort other;
    EXPECT_FALSE(OpenPort(other));
    EXPECT_FALSE(other.IsOpen());
    EXPECT_FALSE(other.LastError().empty());
    m_port.Close();
    EXPECT_TRUE(OpenPort(other));
}

TEST_F(ComPortTest, OtherProcessCannotOpenHeldPortUntilClosed)
{
    ASSERT_TRUE(OpenPort(m_port));
    EXPECT_FALSE(OpensInOtherProcess(m_pty.SlavePath()));
    // The failed attempt must not have disturbed the holder.
    ASSERT_TRUE(m_pty.WriteMaster({0x88}));
    uint8_t b = 0;
    ASSERT_TRUE(m_port.Read(&b, 1));
    EXPECT_EQ(b, 0x88);
    m_port.Close();
    EXPECT_TRUE(OpensInOtherProcess(m_pty.SlavePath()));
}

TEST_F(ComPortTest, FailedOpenLeavesObjectClosedAndRetryable)
{
    EXPECT_FALSE(m_port.Open("/dev/no-such-serial-port", 57600, 2000));
    EXPECT_FALSE(m_port.IsOpen());
    uint8_t b = 0;
    EXPECT_FALSE(m_port.Read(&b, 1));
    EXPECT_FALSE(m_port.Write(&b, 1));
    EXPECT_TRUE(OpenPort(m_port));
}

TEST_F(ComPortTest, UnsupportedBaudRateIsRefusedWithoutTouchingTheLine)
{
    const struct termios before = SlaveSettings(m_pty);
    EXPECT_FALSE(m_port.Open(m_pty.SlavePath(), 57601, 2000));
    EXPECT_FALSE(m_port.IsOpen());
    const struct termios after = SlaveSettings(m_pty);
    EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
    EXPECT_EQ(after.c_cflag, before.c_cflag);
}

TEST_F(ComPortTest, AppliesRaw57600EightNoneOneWithoutFlowControl)
{
    ASSERT_TRUE(OpenPort(m_port));
    const struct termios t = SlaveSettings(m_pty);
    EXPECT_EQ(cfgetispeed(&t), B57600);
    EXPECT_EQ(cfgetospeed(&t), B57600);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);
}

TEST_F(ComPortTest, RestoresPreviousSettingsOnClose)
{
    struct termios cooked = SlaveSettings(m_pty);
    cooked.c_lflag |= ICANON | ECHO | ISIG;
    cooked.c_iflag |= IXON | ICRNL;
    cooked.c_oflag |= OPOST;
    cooked.c_cflag = (cooked.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | CS7 | PARENB;
    cooked.c_cc[VMIN] = 1;
    cooked.c_cc[VTIME] = 5;
    ASSERT_EQ(cfsetspeed(&cooked, B9600), 0);
    ASSERT_EQ(tcsetattr(m_pty.SlaveFd(), TCSANOW, &cooked), 0);
    const struct termios before = SlaveSettings(m_pty);

    ASSERT_TRUE(OpenPort(m_port));
    ASSERT_NE(SlaveSettings(m_pty).c_lflag, before.c_lflag);
    m_port.Close();

    const struct termios after = SlaveSettings(m_pty);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(cfgetospeed(&after), B9600);
    EXPECT_EQ(after.c_cc[VMIN], 1);
    EXPECT_EQ(after.c_cc[VTIME], 5);
}

TEST_F(ComPortTest, WriteAndReadMoveExactlyTheBytesAsked)
{
    ASSERT_TRUE(OpenPort(m_port));
    std::vector<uint8_t> block(1000);
    std::iota(block.begin(), block.end(), uint8_t{0});
    ASSERT_TRUE(m_port.Write(block.data(), block.size()));
    EXPECT_EQ(m_pty.ReadMaster(block.size(), 2000), block);

    ASSERT_TRUE(m_pty.WriteMaster({1, 2, 3, 4, 5, 6}));
    uint8_t four[4] = {};
    ASSERT_TRUE(m_port.Read(four, 4));
    EXPECT_EQ(std::vector<uint8_t>(four, four + 4), (std::vector<uint8_t>{1, 2, 3, 4}));
    uint8_t two[2] = {};
    ASSERT_TRUE(m_port.Read(two, 2));  // the rest stayed queued
    EXPECT_EQ(two[0], 5);
    EXPECT_EQ(two[1], 6);
}

// More than the pseudo-terminal buffers: Write must wait for room, not fail.
TEST_F(ComPortTest, WriteWaitsForRoomWhenTheQueueIsFull)
{
    ASSERT_TRUE(OpenPort(m_port));
    std::vector<uint8_t> data(256 * 1024);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 7);
    std::vector<uint8_t> received;
    std::thread device([&] { received = m_pty.ReadMaster(data.size(), 20000); });
    const bool written = m_port.Write(data.data(), data.size());
    device.join();
    EXPECT_TRUE(written);
    EXPECT_EQ(received, data);
}

TEST_F(ComPortTest, ReadOfMoreBytesThanArriveFailsAndKeepsWhatCame)
{
    ASSERT_TRUE(OpenPort(m_port));
    m_port.SetTimeouts(20);
    ASSERT_TRUE(m_pty.WriteMaster({0xAB, 0xCD}));
    uint8_t buffer[4] = {};
    EXPECT_FALSE(m_port.Read(buffer, 4));
    EXPECT_EQ(buffer[0], 0xAB);
    EXPECT_EQ(buffer[1], 0xCD);
    EXPECT_FALSE(m_port.IsGone());
}

struct SSilentLineCase {
    unsigned timeoutMs;
    int64_t atLeastMs;
    int64_t belowMs;
};

class SilentLineTest : public ComPortTest, public ::testing::WithParamInterface<SSilentLineCase> {};

// A 1-byte read waits ms * 1 + ms on a silent line.
TEST_P(SilentLineTest, OneByteReadGivesUpAfterTwiceTheTimeout)
{
    const SSilentLineCase& c = GetParam();
    ASSERT_TRUE(OpenPort(m_port));
    m_port.SetTimeouts(c.timeoutMs);
    uint8_t b = 0;
    const auto start = Clock::now();
    EXPECT_FALSE(m_port.Read(&b, 1));
    const int64_t elapsed = MsSince(start);
    std::printf("read time-out %u: failed after %lld ms\n", c.timeoutMs, static_cast<long long>(elapsed));
    RecordProperty("elapsed_ms", static_cast<int>(elapsed));
    EXPECT_GE(elapsed, c.atLeastMs);
    EXPECT_LT(elapsed, c.belowMs);
    EXPECT_FALSE(m_port.IsGone());
}

INSTANTIATE_TEST_SUITE_P(Timeouts, SilentLineTest,
                         ::testing::Values(SSilentLineCase{150, 250, 1000}, SSilentLineCase{1, 0, 100}));

// One byte, then silence: the gap after it ends the read long before
// ms * n + ms (400 ms here).
TEST_F(ComPortTest, SilenceAfterFirstByteEndsReadAfterTheInterval)
{
    ASSERT_TRUE(OpenPort(m_port));
    m_port.SetTimeouts(100);
    ASSERT_TRUE(m_pty.WriteMaster({0x42}));
    uint8_t buffer[3] = {};
    const auto start = Clock::now();
    EXPECT_FALSE(m_port.Read(buffer, 3));
    const int64_t elapsed = MsSince(start);
    EXPECT_GE(elapsed, 80);
    EXPECT_LT(elapsed, 300);
    EXPECT_EQ(buffer[0], 0x42);
}

TEST_F(ComPortTest, VanishedDeviceFailsReadAndWriteAtOnce)
{
    ASSERT_TRUE(OpenPort(m_port));
    m_pty.CloseMaster();
    uint8_t b = 0;
    const auto start = Clock::now();
    EXPECT_FALSE(m_port.Read(&b, 1));  // time-out 2000 would wait 4 s
    EXPECT_LT(MsSince(start), 500);
    EXPECT_TRUE(m_port.IsGone());
    EXPECT_FALSE(m_port.Write(&b, 1));
    EXPECT_TRUE(m_port.Close());
    EXPECT_FALSE(m_port.IsGone());
}

TEST_F(ComPortTest, VanishedDeviceFailsWrite)
{
    ASSERT_TRUE(OpenPort(m_port));
    m_pty.CloseMaster();
    const auto start = Clock::now();
    EXPECT_FALSE(m_port.Write("\xA4", 1));
    EXPECT_LT(MsSince(start), 500);
    EXPECT_TRUE(m_port.IsGone());
}

TEST_F(ComPortTest, DestructorClosesAndReleasesThePort)
{
    {
        CComPort scoped;
        ASSERT_TRUE(OpenPort(scoped));
    }
    EXPECT_TRUE(OpenPort(m_port));
}

}  // namespace
