// Line-rate pacing: bytes in both directions take 10 bits' time each.

#include "DevsimClient.h"

#include <dirent.h>
#include <fstream>
#include <set>
#include <thread>

using namespace devupdate::xsvf;
using namespace devupdate::devsim;
using namespace devupdate::svf;

namespace {

std::set<long> ThreadIds()
{
    std::set<long> ids;
    DIR* dir = opendir("/proc/self/task");
    if (dir == nullptr)
        return ids;
    while (const dirent* entry = readdir(dir))
        if (const long id = std::strtol(entry->d_name, nullptr, 10); id > 0)
            ids.insert(id);
    closedir(dir);
    return ids;
}

class DevsimPacingTest : public DevsimTestBase {};

TEST_F(DevsimPacingTest, AnswersFollowTheLineRate)
{
    SDevsimConfig c;
    c.baud = 9600;  // about 1.04 ms a byte
    StartDevice(c);
    constexpr size_t COUNT = 100;
    const auto start = std::chrono::steady_clock::now();
    m_client->Send(Bytes(COUNT, 0xA4));
    const Bytes answers = m_client->Receive(COUNT, 2000);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(answers, Bytes(COUNT, 0x11));
    // 100 bytes in and, overlapping, 100 bytes out: about 105 ms on the line.
    EXPECT_GE(elapsed, std::chrono::milliseconds(100));
    EXPECT_LT(elapsed, std::chrono::milliseconds(1000));

    const auto exchanges = m_device->Exchanges();
    ASSERT_EQ(exchanges.size(), COUNT);
    const auto byteTime = std::chrono::microseconds(1041);
    // The last wake-up byte arrives only after all 100 have crossed the line.
    EXPECT_GE(exchanges.back().lastArrival - exchanges.front().firstRx, byteTime * COUNT - byteTime);
    // Answers leave no faster than the line allows.
    const auto spread = exchanges.back().lastTx - exchanges.front().lastTx;
    EXPECT_GE(spread, (byteTime * (COUNT - 1)) * 9 / 10);
}

// Each paced byte leaves from a timed wait: with the default timer slack
// (50 us) every answer of a run came that much late.
TEST_F(DevsimPacingTest, ServingThreadWakesWithoutTimerSlack)
{
    // The thread sanitizer's runtime starts a helper thread with the
    // process's first thread: let that happen before counting.
    std::thread([] {}).join();
    const std::set<long> before = ThreadIds();
    SDevsimConfig c;
    c.baud = 57600;
    StartDevice(c);
    ASSERT_EQ(m_client->Exchange({0xA4}, 1), Bytes{0x11});  // the thread is serving
    std::vector<long> started;
    for (long id : ThreadIds())
        if (!before.count(id))
            started.push_back(id);
    ASSERT_EQ(started.size(), 1u);
    std::ifstream slack("/proc/" + std::to_string(started[0]) + "/timerslack_ns");
    long nanoseconds = -1;
    slack >> nanoseconds;
    EXPECT_EQ(nanoseconds, 1);
}

TEST_F(DevsimPacingTest, UnpacedAnswersComeAtOnce)
{
    StartDevice();
    const auto start = std::chrono::steady_clock::now();
    m_client->Send(Bytes(100, 0xA4));
    EXPECT_EQ(m_client->Receive(100, 2000), Bytes(100, 0x11));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
}

TEST_F(DevsimPacingTest, RealDelaysSpaceTheBusyBytes)
{
    SDevsimConfig c;
    c.realDelays = true;
    StartDevice(c);
    EnterJtag();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(SendFrame({0x54, 0x00, 0x03, 0xD0, 0x90}, 3), (Bytes{0x33, 0x33, 0x11}));  // 250 ms
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
    EXPECT_EQ(m_device->BusyTime(), std::chrono::milliseconds(250));
}

TEST_F(DevsimPacingTest, EndByteDuringARealDelayDropsTheRestOfTheBusyBytes)
{
    SDevsimConfig c;
    c.realDelays = true;
    StartDevice(c);
    EnterJtag();
    m_client->Send(Frame({0x54, 0x00, 0x0F, 0x42, 0x40}));  // 1 s: ten busy bytes
    ASSERT_EQ(m_client->Receive(1), Bytes{0x33});
    m_client->Send({0xA2});
    ASSERT_TRUE(m_device->WaitForSessions(1, std::chrono::seconds(2)));
    EXPECT_TRUE(m_client->QuietFor(300));
}

}  // namespace
