// JTAG frames on the simulated device: CRC, pins, shifts, sections,
// compare and read-back, delays, finish, and the model part behind them.

#include "DevsimClient.h"
#include "JtagEngine.h"

using namespace devupdate::xsvf;
using namespace devupdate::devsim;
using namespace devupdate::svf;

namespace {

constexpr uint8_t ACK = 0x11, RETRY = 0x22, WAIT = 0x33, FINISHED = 0x44, MISMATCH = 0x99;

Bytes Hex(std::initializer_list<int> values)
{
    Bytes b;
    for (int v : values)
        b.push_back(static_cast<uint8_t>(v));
    return b;
}

// Shift payload with literal-coded sections (at most 64 bytes each).
Bytes ShiftPayload(uint8_t flags, int bits, const Bytes& tdi, const Bytes& expected = {},
                   const Bytes& mask = {})
{
    Bytes p{0x53, flags, static_cast<uint8_t>(bits >> 8), static_cast<uint8_t>(bits)};
    for (const Bytes* s : {&tdi, &expected, &mask})
        if (!s->empty()) {
            p.push_back(static_cast<uint8_t>(s->size()));
            p.insert(p.end(), s->begin(), s->end());
        }
    return p;
}

class DevsimJtagTest : public DevsimTestBase {
protected:
    void SetUp() override
    {
        StartDevice();
        EnterJtag();
    }

    void ClockTms(int level)
    {
        ASSERT_EQ(SendFrame({0x42, static_cast<uint8_t>(level << 4), 0x01, 0x11}), Bytes{ACK});
    }

    // Reset, then Run-Test/Idle.
    void ResetToIdle()
    {
        for (int i = 0; i < 5; ++i)
            ClockTms(1);
        ClockTms(0);
        ASSERT_EQ(m_device->TapState(), TAP_IDLE);
    }

    // From Run-Test/Idle: one scan of `bits` bits, back to Run-Test/Idle.
    // Returns the shift frame's answer.
    uint8_t Scan(bool ir, int bits, uint64_t tdi, std::optional<uint64_t> expected = {})
    {
        for (int level : ir ? std::vector<int>{1, 1, 0, 0} : std::vector<int>{1, 0, 0})
            ClockTms(level);
        const size_t n = static_cast<size_t>(bits + 7) / 8;
        uint8_t flags = 0x0C;
        Bytes exp;
        if (expected) {
            flags |= 0x11;
            exp = CXsvfValue(*expected, n);
        }
        const Bytes answer = SendFrame(ShiftPayload(flags, bits, CXsvfValue(tdi, n), exp));
        ClockTms(1);
        ClockTms(0);
        return answer.empty() ? 0 : answer[0];
    }

    static Bytes CXsvfValue(uint64_t v, size_t n)
    {
        Bytes b(n);
        for (size_t i = 0; i < n; ++i)
            b[n - 1 - i] = static_cast<uint8_t>(v >> (8 * i));
        return b;
    }
};

// The worked example: from Reset to Run-Test/Idle, then an 8-bit XSIR of 0x01.
TEST_F(DevsimJtagTest, WorkedExampleFramesMoveTheTapAndLoadTheInstruction)
{
    struct SStep {
        Bytes frame;
        ETapState after;
    };
    const SStep steps[] = {
        {Hex({0x00, 0x04, 0x42, 0x10, 0x8C, 0x66}), TAP_RESET},
        {Hex({0x00, 0x06, 0x42, 0x10, 0x01, 0x11, 0x2F, 0x38}), TAP_RESET},
        {Hex({0x00, 0x05, 0x42, 0x01, 0x11, 0x83, 0x4D}), TAP_RESET},
        {Hex({0x00, 0x06, 0x42, 0x00, 0x01, 0x11, 0xAE, 0x7B}), TAP_IDLE},
        {Hex({0x00, 0x06, 0x42, 0x10, 0x01, 0x11, 0x2F, 0x38}), TAP_DRSELECT},
        {Hex({0x00, 0x06, 0x42, 0x10, 0x01, 0x11, 0x2F, 0x38}), TAP_IRSELECT},
        {Hex({0x00, 0x06, 0x42, 0x00, 0x01, 0x11, 0xAE, 0x7B}), TAP_IRCAPTURE},
        {Hex({0x00, 0x06, 0x42, 0x00, 0x01, 0x11, 0xAE, 0x7B}), TAP_IRSHIFT},
        {Hex({0x00, 0x08, 0x53, 0x0C, 0x00, 0x08, 0x01, 0x01, 0x0C, 0xD0}), TAP_IREXIT1},
        {Hex({0x00, 0x06, 0x42, 0x10, 0x01, 0x11, 0x2F, 0x38}), TAP_IRUPDATE},
        {Hex({0x00, 0x06, 0x42, 0x00, 0x01, 0x11, 0xAE, 0x7B}), TAP_IDLE},
    };
    int i = 0;
    for (const SStep& s : steps) {
        EXPECT_EQ(m_client->Exchange(s.frame, 1), Bytes{ACK}) << "step " << i;
        EXPECT_EQ(m_device->TapState(), s.after) << "step " << i;
        ++i;
    }
    const auto scans = m_device->Scans();
    ASSERT_EQ(scans.size(), 1u);
    EXPECT_EQ(scans[0].reg, "IR");
    EXPECT_EQ(scans[0].Bits(), 8);
    EXPECT_EQ(scans[0].TdiValue(), 0x01u);
    EXPECT_EQ(scans[0].TdoValue(), MODEL_IR_CAPTURE);
    EXPECT_EQ(m_device->Instruction(), INS_IDCODE);
}

TEST_F(DevsimJtagTest, BadCrcOrLayoutIsAnsweredRetryAndNotCarriedOut)
{
    Bytes bad = Frame({0x42, 0x10, 0x01, 0x11});
    bad.back() ^= 0x01;
    ResetToIdle();
    EXPECT_EQ(m_client->Exchange(bad, 1), Bytes{RETRY});
    EXPECT_EQ(m_device->TapState(), TAP_IDLE);
    // Valid CRC, but a section that decodes to more bytes than the bit count allows.
    EXPECT_EQ(SendFrame({0x53, 0x08, 0x00, 0x08, 0x02, 0x01, 0x02}), Bytes{RETRY});
    EXPECT_EQ(SendFrame({0x57}), Bytes{RETRY}) << "unknown command";
    EXPECT_EQ(m_client->Exchange({0x00, 0x02}, 1), Bytes{RETRY}) << "frame too short";
    EXPECT_EQ(m_device->TapState(), TAP_IDLE);
}

TEST_F(DevsimJtagTest, IdcodeReadsBackAndMismatchReportsCapturedTdo)
{
    ResetToIdle();
    EXPECT_EQ(Scan(true, 8, INS_IDCODE), ACK);
    EXPECT_EQ(Scan(false, 32, 0, MODEL_IDCODE), ACK);
    EXPECT_EQ(Scan(false, 32, 0, 0x12345678), MISMATCH);
    const Bytes readBack = SendFrame({0x52, 0x00, 0x20}, 1 + 13);
    Bytes expected{ACK, 0x00, 0x0B, 0x52};
    for (uint8_t b : CXsvfValue(MODEL_IDCODE, 4)) {
        expected.push_back(static_cast<uint8_t>(b >> 4));
        expected.push_back(static_cast<uint8_t>(b & 0x0F));
    }
    const uint16_t crc = Crc16(expected.data() + 3, expected.size() - 3);
    expected.push_back(static_cast<uint8_t>(crc >> 8));
    expected.push_back(static_cast<uint8_t>(crc));
    EXPECT_EQ(readBack, expected);
}

TEST(DevsimReadBack, FrameLayoutMatchesTheReferenceBytes)
{
    EXPECT_EQ(CJtagEngine::ReadBackFrame({0x0A, 0x05}),
              Hex({0x00, 0x07, 0x52, 0x00, 0x0A, 0x00, 0x05, 0x99, 0xE5}));
}

TEST_F(DevsimJtagTest, OmittedSectionsReuseTheLastOnesReceived)
{
    ResetToIdle();
    ASSERT_EQ(Scan(true, 8, INS_BYPASS), ACK);
    for (int level : {1, 0, 0})
        ClockTms(level);
    // 16 bits through BYPASS come out one bit late: TDI 0x1234 gives 0x2468.
    EXPECT_EQ(SendFrame(ShiftPayload(0x3B, 16, Hex({0x12, 0x34}), Hex({0x24, 0x68}), Hex({0xFF, 0xFE}))),
              Bytes{ACK});
    // No sections: the same TDI, expected and mask again (flags compare + mask).
    EXPECT_EQ(SendFrame({0x53, 0x03, 0x00, 0x10}), Bytes{ACK});
    // A new expected only: TDI and mask kept; bit 0 is masked out.
    EXPECT_EQ(SendFrame({0x53, 0x13, 0x00, 0x10, 0x02, 0x24, 0x69}), Bytes{ACK});
    EXPECT_EQ(SendFrame({0x53, 0x13, 0x00, 0x10, 0x02, 0x25, 0x68}), Bytes{MISMATCH});
    // Without the mask flag every bit counts, the masked-out bit 0 too.
    EXPECT_EQ(SendFrame({0x53, 0x11, 0x00, 0x10, 0x02, 0x24, 0x69}), Bytes{MISMATCH});
}

TEST_F(DevsimJtagTest, RunLengthSectionsDecode)
{
    ResetToIdle();
    ASSERT_EQ(Scan(true, 8, INS_VERIFY), ACK);
    for (int level : {1, 0, 0})
        ClockTms(level);
    // 80 bits of TDI 0x05 repeated (8A 05), the last chunk leaves Shift-DR.
    EXPECT_EQ(SendFrame({0x53, 0x0C, 0x00, 0x50, 0x8A, 0x05}), Bytes{ACK});
    ClockTms(1);
    const auto scans = m_device->Scans();
    ASSERT_FALSE(scans.empty());
    EXPECT_EQ(scans.back().reg, "VERIFY");
    EXPECT_EQ(scans.back().Bits(), 80);
    EXPECT_EQ(scans.back().TdiValue(), 0x0505050505050505u);
}

TEST_F(DevsimJtagTest, DelayAnswersOneBusyBytePerHundredMilliseconds)
{
    EXPECT_EQ(SendFrame({0x54, 0x00, 0x00, 0x03, 0xE8}), Bytes{ACK});
    EXPECT_EQ(SendFrame({0x54, 0x00, 0x03, 0xD0, 0x90}, 3), (Bytes{WAIT, WAIT, ACK}));  // 250 ms
}

TEST_F(DevsimJtagTest, FinishIsAnsweredAndTheDeviceTakesTheNextSelection)
{
    EXPECT_EQ(SendFrame({0x46}), Bytes{FINISHED});
    EXPECT_EQ(m_client->Exchange({0xA0, 0x03, 0xFC}, 1), Bytes{ACK});
}

TEST_F(DevsimJtagTest, EndByteInsteadOfAFrameEndsTheSession)
{
    m_client->Send({0xA2});
    EXPECT_TRUE(m_device->WaitForSessions(1, std::chrono::seconds(2)));
}

TEST_F(DevsimJtagTest, SectionsAreForgottenWhenAnXsvfTargetIsSelected)
{
    ResetToIdle();
    ASSERT_EQ(Scan(true, 8, INS_ADDRESS), ACK);
    EXPECT_EQ(Scan(false, 8, 0x5A), ACK);
    EXPECT_EQ(SendFrame({0x46}), Bytes{FINISHED});
    ASSERT_EQ(m_client->Exchange({0xA0, 0x02, 0xFD}, 1), Bytes{ACK});
    ASSERT_EQ(m_client->Exchange({0xFF, 0x00}, 1), Bytes{ACK});
    for (int level : {1, 0, 0})
        ClockTms(level);
    EXPECT_EQ(SendFrame({0x53, 0x04, 0x00, 0x08}), Bytes{ACK});
    ClockTms(1);
    EXPECT_EQ(m_device->Scans().back().TdiValue(), 0u) << "the TDI section must not survive";
}

TEST_F(DevsimJtagTest, ModelPartErasesProgramsAndVerifies)
{
    ModelFlash old;
    old.fill(0x0F0F);
    m_device->SetFlash(old);
    ResetToIdle();
    const uint16_t words[] = {0x1234, 0xABCD, 0x0001};

    // Programming over old contents without an erase only clears bits.
    ASSERT_EQ(Scan(true, 8, INS_ADDRESS), ACK);
    ASSERT_EQ(Scan(false, 8, 0), ACK);
    ASSERT_EQ(Scan(true, 8, INS_PROGRAM), ACK);
    ASSERT_EQ(Scan(false, 16, words[0]), ACK);
    EXPECT_EQ(m_device->Flash()[0], 0x1234 & 0x0F0F);

    ASSERT_EQ(Scan(true, 8, INS_ERASE), ACK);
    EXPECT_EQ(Scan(false, 8, 0, 0x00), ACK) << "status before the erase: not blank";
    EXPECT_EQ(Scan(false, 8, 0, 0x01), ACK) << "status after the erase: blank";

    ASSERT_EQ(Scan(true, 8, INS_ADDRESS), ACK);
    ASSERT_EQ(Scan(false, 8, 0), ACK);
    ASSERT_EQ(Scan(true, 8, INS_PROGRAM), ACK);
    for (uint16_t w : words)
        ASSERT_EQ(Scan(false, 16, w), ACK);

    ASSERT_EQ(Scan(true, 8, INS_ADDRESS), ACK);
    ASSERT_EQ(Scan(false, 8, 0), ACK);
    ASSERT_EQ(Scan(true, 8, INS_VERIFY), ACK);
    for (uint16_t w : words)
        EXPECT_EQ(Scan(false, 16, 0, w), ACK);
    EXPECT_EQ(Scan(false, 16, 0, 0x0000), MISMATCH) << "word 3 is still erased";

    const ModelFlash flash = m_device->Flash();
    EXPECT_EQ(flash[0], 0x1234);
    EXPECT_EQ(flash[1], 0xABCD);
    EXPECT_EQ(flash[2], 0x0001);
    EXPECT_EQ(flash[3], MODEL_ERASED_WORD);
}

// JTAG fault rules: (rule, frame kind hit, answer seen).
struct SJtagFault {
    const char* rule;
    Bytes answer;
};

class DevsimJtagFaultTest : public DevsimTestBase, public ::testing::WithParamInterface<SJtagFault> {};

TEST_P(DevsimJtagFaultTest, SecondShiftFrameAnswersAsScripted)
{
    SDevsimConfig c;
    c.faults = {*ParseFaultRule(GetParam().rule)};
    StartDevice(c);
    EnterJtag();
    EXPECT_EQ(SendFrame({0x53, 0x08, 0x00, 0x08, 0x01, 0x00}), Bytes{ACK});
    m_client->Send(Frame({0x53, 0x00, 0x00, 0x08}));
    EXPECT_EQ(m_client->Receive(GetParam().answer.size()), GetParam().answer);
    EXPECT_TRUE(m_client->QuietFor(100));
}

INSTANTIATE_TEST_SUITE_P(Rules, DevsimJtagFaultTest, ::testing::Values(
    SJtagFault{"shift:2:replace=99", {MISMATCH}},
    SJtagFault{"shift:2:reject", {RETRY}},
    SJtagFault{"frame:2:0:silent", {}},
    SJtagFault{"shift:2:busy=4", {WAIT, WAIT, WAIT, WAIT, ACK}},
    SJtagFault{"pins:1:reject", {ACK}}));

TEST_F(DevsimJtagTest, CorruptReadBackFailsItsCrc)
{
    m_device->SetFaults({*ParseFaultRule("readtdo:1:corrupt")});
    const Bytes answer = SendFrame({0x52, 0x00, 0x08}, 8);
    ASSERT_EQ(answer.size(), 8u);
    EXPECT_EQ(answer[0], ACK);
    EXPECT_NE(Crc16(answer.data() + 3, 5), 0) << "the CRC register over payload and CRC must not end at 0";
}

// Section decoding, one row per layout.
struct SSectionCase {
    Bytes encoded;
    size_t n;
    bool valid;
    Bytes decoded;
};

class SectionDecodeTest : public ::testing::TestWithParam<SSectionCase> {};

TEST_P(SectionDecodeTest, Decodes)
{
    const SSectionCase& c = GetParam();
    Bytes out(c.n, 0xEE);
    size_t pos = 0;
    EXPECT_EQ(CJtagEngine::DecodeSection(c.encoded.data(), c.encoded.size(), pos, c.n, out.data()),
              c.valid);
    if (c.valid) {
        EXPECT_EQ(out, c.decoded);
        EXPECT_EQ(pos, c.encoded.size());
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, SectionDecodeTest, ::testing::Values(
    SSectionCase{Hex({0x03, 0x01, 0x02, 0x03}), 3, true, Hex({0x01, 0x02, 0x03})},
    SSectionCase{Hex({0x8A, 0x05}), 10, true, Bytes(10, 0x05)},
    SSectionCase{Hex({0x01, 0x01, 0x84, 0x05, 0x01, 0x02}), 6, true, Hex({0x01, 0x05, 0x05, 0x05, 0x05, 0x02})},
    SSectionCase{Hex({0x01, 0xFF, 0x01, 0xFF}), 2, true, Hex({0xFF, 0xFF})},
    SSectionCase{Hex({0x00, 0x01}), 1, false, {}},           // count 0
    SSectionCase{Hex({0x83, 0x05}), 3, false, {}},           // run shorter than 4
    SSectionCase{Hex({0x02, 0x01}), 2, false, {}},           // literal cut short
    SSectionCase{Hex({0x84, 0x05}), 3, false, {}},           // more than n bytes
    SSectionCase{Hex({0x01, 0x01}), 2, false, {}}));         // fewer than n bytes

}  // namespace
