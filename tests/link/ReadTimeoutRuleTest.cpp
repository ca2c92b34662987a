// The read time-out rule and the write safety on a fake clock: bytes arrive
// at scripted times, no real waiting.

#include "ComPort.h"
#include "FaultySysCalls.h"
#include "PtyPair.h"

#include <gtest/gtest.h>

#include <vector>

using namespace devupdate::link;

namespace {

struct SReadCase {
    const char* name;
    unsigned timeoutMs;
    size_t n;
    std::vector<int64_t> arrivalsMs;
    bool expectOk;
    int64_t expectEndMs;
};

class ReadTimeoutRuleTest : public ::testing::TestWithParam<SReadCase> {};

TEST_P(ReadTimeoutRuleTest, EndsAtTheIntervalOrTotalLimit)
{
    const SReadCase& c = GetParam();
    CPtyPair pty;
    CComPort port;
    ASSERT_TRUE(port.Open(pty.SlavePath(), 57600, 2000));
    CFakeLine line;
    for (size_t i = 0; i < c.arrivalsMs.size(); ++i)
        line.arrivals.push_back({c.arrivalsMs[i], static_cast<uint8_t>(0x10 + i)});
    CScopedSysCalls fake(line);
    port.SetTimeouts(c.timeoutMs);

    std::vector<uint8_t> buffer(c.n);
    EXPECT_EQ(port.Read(buffer.data(), c.n), c.expectOk);
    EXPECT_EQ(line.ElapsedMs(), c.expectEndMs);
    // Whatever arrived in time lies at the start of the buffer.
    for (size_t i = 0; i < c.n && i < c.arrivalsMs.size() && c.arrivalsMs[i] <= c.expectEndMs; ++i)
        EXPECT_EQ(buffer[i], 0x10 + i) << "byte " << i;
    EXPECT_FALSE(port.IsGone());
}

INSTANTIATE_TEST_SUITE_P(
    Rule, ReadTimeoutRuleTest,
    ::testing::Values(
        SReadCase{"SilentLine150", 150, 1, {}, false, 300},
        SReadCase{"SilentLine1", 1, 1, {}, false, 2},
        SReadCase{"SilentLine2000", 2000, 1, {}, false, 4000},
        SReadCase{"FirstByteMayTakeTheWholeTotal", 10, 1, {19}, true, 19},
        SReadCase{"FirstByteAfterTotal", 10, 1, {21}, false, 20},
        SReadCase{"GapsWithinInterval", 10, 3, {5, 14, 23}, true, 23},
        SReadCase{"GapLongerThanInterval", 10, 3, {0, 5, 16}, false, 15},
        SReadCase{"TotalReachedDespiteShortGaps", 10, 2, {25, 34}, false, 30},
        SReadCase{"LateFirstByteThenQuickSecond", 10, 2, {25, 29}, true, 29},
        SReadCase{"AllAtOnce", 10, 4, {3, 3, 3, 3}, true, 3},
        SReadCase{"ZeroTimeoutTakesWhatIsThere", 0, 1, {0}, true, 0},
        SReadCase{"ZeroTimeoutNeverWaits", 0, 1, {1}, false, 0}),
    [](const ::testing::TestParamInfo<SReadCase>& info) { return std::string(info.param.name); });

class WriteSafetyTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_port.Open(m_pty.SlavePath(), 57600, 2000)); }

    CPtyPair m_pty;
    CComPort m_port;
    CFakeLine m_line;
};

TEST_F(WriteSafetyTest, StalledDriverMakesWriteFailAfterTheSafetyTime)
{
    m_line.acceptEveryMs = CFakeLine::NEVER;
    CScopedSysCalls fake(m_line);
    EXPECT_FALSE(m_port.Write("\xA4", 1));
    EXPECT_EQ(m_line.ElapsedMs(), CComPort::WRITE_SAFETY_MS);
    EXPECT_FALSE(m_port.IsGone());
}

// Slow but moving: each byte well inside the safety time, the whole write far
// beyond it. Only a stall without progress may end a write.
TEST_F(WriteSafetyTest, SlowProgressKeepsWriteGoing)
{
    m_line.acceptEveryMs = CComPort::WRITE_SAFETY_MS - 1000;
    CScopedSysCalls fake(m_line);
    EXPECT_TRUE(m_port.Write("\x01\x02\x03", 3));
    EXPECT_EQ(m_line.taken, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(m_line.ElapsedMs(), 3 * (CComPort::WRITE_SAFETY_MS - 1000));
}

}  // namespace
