// CComPort with system call faults injected through the seam.

#include "ComPort.h"
#include "FaultySysCalls.h"
#include "PtyPair.h"

#include <gtest/gtest.h>

#include <linux/serial.h>

#include <numeric>
#include <sys/ioctl.h>
#include <vector>

using namespace devupdate::link;

namespace {

class ComPortFaultTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_port.Open(m_pty.SlavePath(), 57600, 2000)); }

    CPtyPair m_pty;
    CComPort m_port;
    CFaultySysCalls m_faults;
};

TEST_F(ComPortFaultTest, InterruptedPollAndReadAreRetried)
{
    ASSERT_TRUE(m_pty.WriteMaster({0x5A}));
    m_faults.pollFaults = {EINTR, EINTR};
    m_faults.readFaults = {EINTR, EAGAIN};
    CScopedSysCalls inject(m_faults);
    uint8_t b = 0;
    ASSERT_TRUE(m_port.Read(&b, 1));
    EXPECT_EQ(b, 0x5A);
    EXPECT_TRUE(m_faults.pollFaults.empty());
    EXPECT_TRUE(m_faults.readFaults.empty());
}

TEST_F(ComPortFaultTest, InterruptedAndRefusedWritesAreRetried)
{
    m_faults.writeFaults = {EINTR, EAGAIN, EINTR};
    {
        CScopedSysCalls inject(m_faults);
        ASSERT_TRUE(m_port.Write("\xA0\x03\xFC", 3));
    }
    EXPECT_EQ(m_pty.ReadMaster(3, 1000), (std::vector<uint8_t>{0xA0, 0x03, 0xFC}));
}

TEST_F(ComPortFaultTest, ShortWritesAreContinuedUntilAllIsTaken)
{
    std::vector<uint8_t> block(300);
    std::iota(block.begin(), block.end(), uint8_t{0});
    m_faults.writeChunk = 7;
    {
        CScopedSysCalls inject(m_faults);
        ASSERT_TRUE(m_port.Write(block.data(), block.size()));
    }
    EXPECT_EQ(m_faults.writes, (300 + 6) / 7);
    EXPECT_EQ(m_pty.ReadMaster(block.size(), 1000), block);
}

struct SErrorCase {
    const char* name;
    int readFault;     // 0: none
    int writeFault;    // 0: none
    short pollRevents; // 0: none
    bool expectGone;
};

class ComPortErrorTest : public ComPortFaultTest, public ::testing::WithParamInterface<SErrorCase> {};

TEST_P(ComPortErrorTest, FailsAtOnceAndReportsVanishedDevice)
{
    const SErrorCase& c = GetParam();
    ASSERT_TRUE(m_pty.WriteMaster({0x11}));  // readable, so a read gets to its read call
    if (c.readFault != 0)
        m_faults.readFaults = {c.readFault};
    if (c.writeFault != 0)
        m_faults.writeFaults = {c.writeFault};
    if (c.pollRevents != 0)
        m_faults.pollRevents = {c.pollRevents};
    CScopedSysCalls inject(m_faults);
    uint8_t b = 0;
    if (c.writeFault != 0)
        EXPECT_FALSE(m_port.Write(&b, 1));
    else
        EXPECT_FALSE(m_port.Read(&b, 1));
    EXPECT_EQ(m_port.IsGone(), c.expectGone);
    EXPECT_FALSE(m_port.LastError().empty());
    if (c.expectGone) {
        // Gone stays gone: nothing more reaches the descriptor.
        const int writesBefore = m_faults.writes;
        EXPECT_FALSE(m_port.Read(&b, 1));
        EXPECT_FALSE(m_port.Write(&b, 1));
        EXPECT_EQ(m_faults.writes, writesBefore);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ComPortErrorTest,
    ::testing::Values(SErrorCase{"ReadEio", EIO, 0, 0, true},
                      SErrorCase{"ReadEnxio", ENXIO, 0, 0, true},
                      SErrorCase{"ReadEnodev", ENODEV, 0, 0, true},
                      SErrorCase{"ReadableButEmpty", CFaultySysCalls::READ_EMPTY, 0, 0, true},
                      SErrorCase{"ReadEbadf", EBADF, 0, 0, false},
                      SErrorCase{"HangUp", 0, 0, POLLHUP, true},
                      SErrorCase{"PollError", 0, 0, POLLERR, true},
                      SErrorCase{"PollInvalid", 0, 0, POLLNVAL, true},
                      SErrorCase{"WriteEio", 0, EIO, 0, true},
                      SErrorCase{"WriteEnospc", 0, ENOSPC, 0, false}),
    [](const ::testing::TestParamInfo<SErrorCase>& info) { return std::string(info.param.name); });

TEST_F(ComPortFaultTest, DataPendingAtHangUpIsStillDelivered)
{
    ASSERT_TRUE(m_pty.WriteMaster({0x99}));
    m_faults.pollRevents = {POLLIN | POLLHUP};
    CScopedSysCalls inject(m_faults);
    uint8_t b = 0;
    ASSERT_TRUE(m_port.Read(&b, 1));
    EXPECT_EQ(b, 0x99);
    EXPECT_FALSE(m_port.IsGone());
}

// Each step of the open sequence that fails leaves the object closed, the
// descriptor closed and (before the line was set) the line untouched.
struct SOpenStepCase {
    const char* name;
    int flockErrno;
    unsigned long ioctlRequest;
    int tcGetAttrErrno;
    int tcSetAttrErrno;
};

class OpenStepTest : public ::testing::TestWithParam<SOpenStepCase> {};

TEST_P(OpenStepTest, FailingStepLeavesPortClosedAndRetryable)
{
    const SOpenStepCase& c = GetParam();
    CPtyPair pty;
    struct termios before {};
    ASSERT_EQ(tcgetattr(pty.SlaveFd(), &before), 0);
    CFaultySysCalls faults;
    faults.flockErrno = c.flockErrno;
    faults.ioctlRequest = c.ioctlRequest;
    faults.ioctlErrno = c.ioctlRequest != 0 ? ENOTTY : 0;
    faults.tcGetAttrErrno = c.tcGetAttrErrno;
    faults.tcSetAttrErrno = c.tcSetAttrErrno;
    CComPort port;
    {
        CScopedSysCalls inject(faults);
        EXPECT_FALSE(port.Open(pty.SlavePath(), 57600, 2000));
    }
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(faults.opens, 1);
    EXPECT_EQ(faults.closes, 1);
    struct termios after {};
    ASSERT_EQ(tcgetattr(pty.SlaveFd(), &after), 0);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    int exclusive = -1;
    ASSERT_EQ(ioctl(pty.SlaveFd(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0) << "the failed open left the line exclusive";
    EXPECT_TRUE(port.Open(pty.SlavePath(), 57600, 2000));
}

INSTANTIATE_TEST_SUITE_P(
    Steps, OpenStepTest,
    ::testing::Values(SOpenStepCase{"Flock", EWOULDBLOCK, 0, 0, 0},
                      SOpenStepCase{"Exclusive", 0, TIOCEXCL, 0, 0},
                      SOpenStepCase{"GetSettings", 0, 0, EIO, 0},
                      SOpenStepCase{"SetSettings", 0, 0, 0, EINVAL}),
    [](const ::testing::TestParamInfo<SOpenStepCase>& info) { return std::string(info.param.name); });

// A USB adapter over a pseudo-terminal: modem lines, the low-latency flag,
// and an output queue that never empties (stalled); closing with bytes
// queued would wait for the driver's closing time (30 s).
class CStalledAdapter : public CFaultySysCalls {
public:
    int serialFlags = 0;
    int modemLines = TIOCM_DTR | TIOCM_RTS;
    int queued = 0;
    bool closedWithQueuedOutput = false;

    ssize_t Write(int, const void*, size_t n) override
    {
        queued += static_cast<int>(n);
        return static_cast<ssize_t>(n);
    }
    int TcFlush(int fd, int queue) override
    {
        queued = queue == TCOFLUSH ? 0 : queued;
        return CFaultySysCalls::TcFlush(fd, queue);
    }
    int Close(int fd) override
    {
        closedWithQueuedOutput = closedWithQueuedOutput || queued > 0;
        return CFaultySysCalls::Close(fd);
    }
    int Ioctl(int fd, unsigned long request, void* argument) override
    {
        auto* value = static_cast<int*>(argument);
        switch (request) {
        case TIOCOUTQ: *value = queued; return 0;
        case TIOCGSERIAL: static_cast<serial_struct*>(argument)->flags = serialFlags; return 0;
        case TIOCSSERIAL: serialFlags = static_cast<serial_struct*>(argument)->flags; return 0;
        case TIOCMGET: *value = modemLines; return 0;
        case TIOCMBIC: modemLines &= ~*value; return 0;
        case TIOCMBIS: modemLines |= *value; return 0;
        default: return CFaultySysCalls::Ioctl(fd, request, argument);
        }
    }
};

// The next user finds the adapter as this one did, and Close does not hang.
TEST(ComPortCloseTest, StalledAdapterIsGivenBackAsFoundWithinTheDrainTime)
{
    CPtyPair pty;
    CStalledAdapter adapter;
    CScopedSysCalls inject(adapter);
    CComPort port;
    ASSERT_TRUE(port.Open(pty.SlavePath(), 57600, 2000));
    EXPECT_EQ(adapter.modemLines, 0);
    EXPECT_NE(adapter.serialFlags & ASYNC_LOW_LATENCY, 0);
    const uint8_t block[64] = {};
    ASSERT_TRUE(port.Write(block, sizeof block));
    const auto start = std::chrono::steady_clock::now();
    port.Close();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(CComPort::CLOSE_DRAIN_MS + 1000));
    EXPECT_FALSE(adapter.closedWithQueuedOutput) << "close() would wait for the driver's closing time";
    EXPECT_EQ(adapter.modemLines, TIOCM_DTR | TIOCM_RTS);
    EXPECT_EQ(adapter.serialFlags & ASYNC_LOW_LATENCY, 0);
}

TEST(ComPortOpenTest, LineWithoutModemLinesOrLowLatencyStillOpens)
{
    CPtyPair pty;
    for (unsigned long request : {static_cast<unsigned long>(TIOCMBIC), static_cast<unsigned long>(TIOCGSERIAL)}) {
        CFaultySysCalls faults;
        faults.ioctlRequest = request;
        faults.ioctlErrno = EINVAL;
        CScopedSysCalls inject(faults);
        CComPort port;
        EXPECT_TRUE(port.Open(pty.SlavePath(), 57600, 2000)) << request;
    }
}

}  // namespace
