// The update protocol of the simulated device, driven over its pty.

#include "DevsimClient.h"

#include <sys/stat.h>

using namespace devupdate::xsvf;
using namespace devupdate::devsim;
using namespace devupdate::svf;

namespace {

constexpr uint8_t ACK = 0x11, RETRY = 0x22, WAIT = 0x33, REFUSE = 0x44, READY = 0x88;

Bytes Block(const Bytes& payload)
{
    Bytes b(payload.size() + 2);
    b[0] = static_cast<uint8_t>(payload.size() >> 8);
    b[1] = static_cast<uint8_t>(payload.size());
    std::copy(payload.begin(), payload.end(), b.begin() + 2);
    return b;
}

Bytes WithCrc(Bytes payload)
{
    const uint16_t crc = Crc16(payload.data(), payload.size());
    payload.push_back(static_cast<uint8_t>(crc >> 8));
    payload.push_back(static_cast<uint8_t>(crc));
    return payload;
}

class DevsimProtocolTest : public DevsimTestBase {};

TEST_F(DevsimProtocolTest, SilentUntilTheConfiguredWakeUpByteThenAcknowledgesEach)
{
    SDevsimConfig c;
    c.powerOnAfterWakeups = 3;
    StartDevice(c);
    for (int i = 0; i < 3; ++i) {
        m_client->Send({0xA4});
        EXPECT_TRUE(m_client->QuietFor(20)) << "wake-up byte " << i + 1;
    }
    EXPECT_EQ(m_client->Exchange({0xA4}, 1), Bytes{ACK});
    EXPECT_EQ(m_client->Exchange({0xA4}, 1), Bytes{ACK});
}

TEST_F(DevsimProtocolTest, PowerOnDelayKeepsTheDeviceSilent)
{
    SDevsimConfig c;
    c.powerOnDelay = std::chrono::milliseconds(300);
    StartDevice(c);
    m_client->Send({0xA4});
    EXPECT_TRUE(m_client->QuietFor(50));
    // After the delay every wake-up byte is answered.
    Bytes answer;
    for (int i = 0; i < 100 && answer.empty(); ++i) {
        m_client->Send({0xA4});
        answer = m_client->Receive(1, 10);
    }
    EXPECT_EQ(answer, Bytes{ACK});
}

TEST_F(DevsimProtocolTest, StartAnswersExtraAcksThenReady)
{
    SDevsimConfig c;
    c.extraAcks = 3;
    StartDevice(c);
    EXPECT_EQ(m_client->Exchange({0xA4}, 1), Bytes{ACK});
    EXPECT_EQ(m_client->Exchange({0xA3}, 4), (Bytes{ACK, ACK, ACK, READY}));
}

TEST_F(DevsimProtocolTest, SelectionChecksComplementAndRefusesAbsentTargets)
{
    SDevsimConfig c;
    c.refusedTargets = {7};
    StartDevice(c);
    WakeAndStart();
    // A bad complement is answered 0x22; number and complement are then expected again.
    EXPECT_EQ(m_client->Exchange({0xA0, 0x01, 0xFF}, 1), Bytes{RETRY});
    EXPECT_EQ(m_client->Exchange({0x01, 0xFE}, 1), Bytes{ACK});
    EXPECT_EQ(m_client->Exchange({0xA0, 0x07, 0xF8}, 1), Bytes{REFUSE});
    EXPECT_EQ(m_client->Exchange({0xA0, 0x02, 0xFD}, 1), Bytes{ACK});
}

TEST_F(DevsimProtocolTest, BlocksAreAcknowledgedAfterBusyBytesAndStoredPerTarget)
{
    SDevsimConfig c;
    c.busyPerBlock = 2;
    StartDevice(c);
    WakeAndStart();
    ASSERT_EQ(m_client->Exchange({0xA0, 0x01, 0xFE}, 1), Bytes{ACK});
    EXPECT_EQ(m_client->Exchange(Block({1, 2, 3}), 3), (Bytes{WAIT, WAIT, ACK}));
    EXPECT_EQ(m_client->Exchange(Block({4, 5}), 3), (Bytes{WAIT, WAIT, ACK}));
    ASSERT_EQ(m_client->Exchange({0xA0, 0x03, 0xFC}, 1), Bytes{ACK});
    EXPECT_EQ(m_client->Exchange(Block({9}), 3), (Bytes{WAIT, WAIT, ACK}));
    m_client->Send({0xA2});
    ASSERT_TRUE(m_device->WaitForSessions(1, std::chrono::seconds(2)));
    const auto images = m_device->Images();
    EXPECT_EQ(images.at(1), (Bytes{1, 2, 3, 4, 5}));
    EXPECT_EQ(images.at(3), (Bytes{9}));
}

TEST_F(DevsimProtocolTest, BlockCrcMismatchIsAnsweredRetryAndNotStored)
{
    SDevsimConfig c;
    c.blockCrc = true;
    StartDevice(c);
    WakeAndStart();
    ASSERT_EQ(m_client->Exchange({0xA0, 0x01, 0xFE}, 1), Bytes{ACK});
    Bytes damaged = WithCrc({0x10, 0x20, 0x30});
    damaged[1] ^= 0x01;
    EXPECT_EQ(m_client->Exchange(Block(damaged), 1), Bytes{RETRY});
    EXPECT_EQ(m_client->Exchange(Block({0x55}), 1), Bytes{RETRY}) << "too short for a CRC";
    EXPECT_EQ(m_client->Exchange(Block(WithCrc({0x10, 0x20, 0x30})), 1), Bytes{ACK});
    m_client->Send({0xA2});
    ASSERT_TRUE(m_device->WaitForSessions(1, std::chrono::seconds(2)));
    EXPECT_EQ(m_device->Images().at(1), (Bytes{0x10, 0x20, 0x30}));
}

TEST_F(DevsimProtocolTest, TypeBytesOtherThanXsvfAreRefused)
{
    StartDevice();
    WakeAndStart();
    ASSERT_EQ(m_client->Exchange({0xA0, 0x02, 0xFD}, 1), Bytes{ACK});
    EXPECT_EQ(m_client->Exchange({0xFF, 0x01}, 1), Bytes{REFUSE});
}

TEST_F(DevsimProtocolTest, EndByteEndsTheSessionAndSwitchesTheDeviceOff)
{
    SDevsimConfig c;
    c.powerOnAfterWakeups = 1;
    StartDevice(c);
    m_client->Send({0xA4});
    WakeAndStart();
    m_client->Send({0xA2});
    ASSERT_TRUE(m_device->WaitForSessions(1, std::chrono::seconds(2)));
    EXPECT_EQ(m_device->SessionsEnded(), 1u);
    // Off again: the first wake-up byte of the next session is ignored.
    m_client->Send({0xA4});
    EXPECT_TRUE(m_client->QuietFor(20));
    EXPECT_EQ(m_client->Exchange({0xA4}, 1), Bytes{ACK});
}

TEST_F(DevsimProtocolTest, VanishClosesTheLineAndRemovesTheLink)
{
    char folder[] = "/tmp/devsimXXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string link = std::string(folder) + "/ports/com1";
    SDevsimConfig c;
    c.linkPath = link;
    c.faults = {*ParseFaultRule("select:1:vanish")};
    StartDevice(c);
    struct stat st{};
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    WakeAndStart();
    m_client->Send({0xA0, 0x01, 0xFE});
    uint8_t byte = 0;
    pollfd p{m_client->Fd(), POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 2000), 1);
    EXPECT_TRUE(p.revents & (POLLHUP | POLLERR));
    EXPECT_LT(read(m_client->Fd(), &byte, 1), 1);
    EXPECT_TRUE(m_device->IsVanished());
    EXPECT_NE(lstat(link.c_str(), &st), 0);
    m_client.reset();
    m_device->Stop();
    rmdir((std::string(folder) + "/ports").c_str());
    rmdir(folder);
}

// Fault rules: each row scripts one answer and names what the tool then sees.
struct SFaultCase {
    const char* rule;
    Bytes answer;          // what the second selection is answered with
    bool selected;         // whether the target counts as selected afterwards
};

class DevsimFaultTest : public DevsimTestBase, public ::testing::WithParamInterface<SFaultCase> {};

TEST_P(DevsimFaultTest, SecondSelectionFollowsTheRule)
{
    SDevsimConfig c;
    c.faults = {*ParseFaultRule(GetParam().rule)};
    StartDevice(c);
    WakeAndStart();
    ASSERT_EQ(m_client->Exchange({0xA0, 0x01, 0xFE}, 1), Bytes{ACK});
    m_client->Send({0xA0, 0x02, 0xFD});
    const Bytes answer = m_client->Receive(GetParam().answer.size() + 1, 150);
    EXPECT_EQ(answer, GetParam().answer);
    // A selected target takes a block; an unselected one leaves the device
    // waiting for the number and complement, which a block's bytes are not.
    const Bytes block = m_client->Exchange(Block({0x5A, 0x5A}), 1);
    if (GetParam().selected)
        EXPECT_EQ(block, Bytes{ACK});
    else
        EXPECT_NE(block, Bytes{ACK});
}

INSTANTIATE_TEST_SUITE_P(Rules, DevsimFaultTest, ::testing::Values(
    SFaultCase{"select:2:reject", {RETRY}, false},
    SFaultCase{"select:2:replace=44,55", {REFUSE, 0x55}, true},
    SFaultCase{"select:2:silent", {}, true},
    SFaultCase{"select:2:busy=3", {WAIT, WAIT, WAIT, ACK}, true},
    SFaultCase{"select:2:corrupt", {static_cast<uint8_t>(~ACK)}, true},
    SFaultCase{"select:2:drop", {}, false},
    SFaultCase{"select:3:reject", {ACK}, true}));

TEST_F(DevsimProtocolTest, GarbageIsNoProtocolAnswerAndRulesCoverTheirRange)
{
    SDevsimConfig c;
    c.faults = {*ParseFaultRule("wakeup:2:2:garbage=5")};
    StartDevice(c);
    EXPECT_EQ(m_client->Exchange({0xA4}, 1), Bytes{ACK});
    for (int i = 0; i < 2; ++i) {
        const Bytes garbage = m_client->Exchange({0xA4}, 5);
        ASSERT_EQ(garbage.size(), 5u);
        for (uint8_t b : garbage)
            for (uint8_t answer : {0x11, 0x22, 0x33, 0x44, 0x88, 0x99})
                EXPECT_NE(b, answer);
    }
    EXPECT_EQ(m_client->Exchange({0xA4}, 1), Bytes{ACK});
}

TEST_F(DevsimProtocolTest, LateAnswerComesAfterItsDelay)
{
    SDevsimConfig c;
    c.faults = {*ParseFaultRule("start:1:late=200")};
    StartDevice(c);
    EXPECT_EQ(m_client->Exchange({0xA4}, 1), Bytes{ACK});
    const auto sent = std::chrono::steady_clock::now();
    EXPECT_EQ(m_client->Exchange({0xA3}, 1), Bytes{READY});
    EXPECT_GE(std::chrono::steady_clock::now() - sent, std::chrono::milliseconds(200));
}

TEST_F(DevsimProtocolTest, TrafficLogStampsBothDirectionsAndExchanges)
{
    StartDevice();
    WakeAndStart();
    const auto bytes = m_device->Traffic();
    ASSERT_EQ(bytes.size(), 12u);
    EXPECT_TRUE(bytes[0].fromTool);
    EXPECT_EQ(bytes[0].byte, 0xA4);
    EXPECT_FALSE(bytes[1].fromTool);
    EXPECT_EQ(bytes[1].byte, ACK);
    for (size_t i = 1; i < bytes.size(); ++i)
        EXPECT_LE(bytes[i - 1].time, bytes[i].time);
    const auto exchanges = m_device->Exchanges();
    ASSERT_EQ(exchanges.size(), 6u);
    EXPECT_EQ(exchanges[4].phase, EPhase::Wakeup);
    EXPECT_EQ(exchanges[4].nth, 5u);
    EXPECT_EQ(exchanges[5].phase, EPhase::Start);
    EXPECT_EQ(m_device->HostTurnarounds().size(), 5u);
    for (auto t : m_device->HostTurnarounds())
        EXPECT_GE(t.count(), 0);

    char path[] = "/tmp/devsimlogXXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    ASSERT_EQ(m_device->WriteTrafficLog(path), "");
    FILE* f = fopen(path, "r");
    ASSERT_NE(f, nullptr);
    char line[128];
    int lines = 0;
    std::string first, last;
    while (fgets(line, sizeof line, f)) {
        if (lines++ == 0)
            first = line;
        last = line;
    }
    fclose(f);
    unlink(path);
    EXPECT_EQ(lines, 18);

    // A FIFO or a folder in place of the log or the flash image is reported,
    // never waited on.
    ASSERT_EQ(mkfifo(path, 0644), 0);
    EXPECT_EQ(m_device->WriteTrafficLog(path), "a FIFO");
    EXPECT_EQ(m_device->WriteFlash(path), "a FIFO");
    unlink(path);
    EXPECT_EQ(m_device->WriteFlash("/tmp"), "a folder");
    EXPECT_NE(first.find(" RX A4"), std::string::npos) << first;
    EXPECT_EQ(last.rfind("X start 1 ", 0), 0u) << last;
}

struct SParseCase {
    const char* text;
    bool valid;
    EPhase phase;
    unsigned nth, times;
    EFaultAction action;
};

class FaultRuleParseTest : public ::testing::TestWithParam<SParseCase> {};

TEST_P(FaultRuleParseTest, ParsesOrRefuses)
{
    const auto rule = ParseFaultRule(GetParam().text);
    ASSERT_EQ(rule.has_value(), GetParam().valid);
    if (!rule)
        return;
    EXPECT_EQ(rule->phase, GetParam().phase);
    EXPECT_EQ(rule->nth, GetParam().nth);
    EXPECT_EQ(rule->times, GetParam().times);
    EXPECT_EQ(rule->action, GetParam().action);
}

INSTANTIATE_TEST_SUITE_P(Texts, FaultRuleParseTest, ::testing::Values(
    SParseCase{"shift:3:replace=99", true, EPhase::Shift, 3, 1, EFaultAction::Replace},
    SParseCase{"block:2:3:reject", true, EPhase::Block, 2, 3, EFaultAction::Reject},
    SParseCase{"frame:10:0:silent", true, EPhase::AnyFrame, 10, 0, EFaultAction::Silent},
    SParseCase{"delay:1:busy=40", true, EPhase::Delay, 1, 1, EFaultAction::Busy},
    SParseCase{"readtdo:1:corrupt", true, EPhase::ReadTdo, 1, 1, EFaultAction::Corrupt},
    SParseCase{"shift:0:silent", false, EPhase::Shift, 0, 0, EFaultAction::Silent},
    SParseCase{"shift:1:replace", false, EPhase::Shift, 0, 0, EFaultAction::Silent},
    SParseCase{"shift:1:replace=1FF", false, EPhase::Shift, 0, 0, EFaultAction::Silent},
    SParseCase{"shift:1:silent=3", false, EPhase::Shift, 0, 0, EFaultAction::Silent},
    SParseCase{"bogus:1:silent", false, EPhase::Shift, 0, 0, EFaultAction::Silent},
    SParseCase{"shift:1:explode", false, EPhase::Shift, 0, 0, EFaultAction::Silent}));

}  // namespace
