// The JTAG frames on the wire: CRC, section encoding, every reference frame,
// chunking, section memory and the answer rules (busy, resend, cancel,
// time-out, malformed read-back).
#include "ComErrException.h"
#include "Crc16.h"
#include "JtagTransport.h"
#include "ScriptedJtagDevice.h"
#include "SectionEncoder.h"
#include "XsvfPlayer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

using namespace devupdate::link;
using namespace devupdate::xsvf;

namespace {

ShiftBuffer* NewBuffer(const Bytes& bytes)
{
    static std::vector<std::unique_ptr<ShiftBuffer>> keep;  // the tests' buffers
    keep.push_back(std::make_unique<ShiftBuffer>());
    ShiftBuffer* buffer = keep.back().get();
    std::memset(buffer, 0, sizeof *buffer);
    buffer->length = static_cast<int16_t>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), buffer->bytes);
    return buffer;
}

int ThrownCode(const std::function<void()>& action)
{
    try {
        action();
    } catch (const CComErrException& e) {
        return e.m_code;
    }
    return -1;
}

class JtagTransportTest : public ::testing::Test {
protected:
    void SetUp() override { transport.BeginRun(device); }
    void TearDown() override { transport.EndRun(); }

    CScriptedJtagDevice device;
    CJtagTransport transport;
};

}  // namespace

TEST(Crc16Test, CheckValueAndZeroRemainder)
{
    const char* digits = "123456789";
    EXPECT_EQ(0xFEE8, Crc16(reinterpret_cast<const uint8_t*>(digits), 9));
    const uint8_t payloadWithCrc[] = {0x42, 0x10, 0x01, 0x11, 0x2F, 0x38};
    EXPECT_EQ(0, Crc16Register(payloadWithCrc, sizeof payloadWithCrc));
}

// ---- section encoder ---------------------------------------------------------

struct SEncoderCase {
    const char* name;
    Bytes input;
    Bytes encoded;
};

class SectionEncoderTest : public ::testing::TestWithParam<SEncoderCase> {};

TEST_P(SectionEncoderTest, EncodesExactly)
{
    Bytes out;
    EncodeSection(GetParam().input.data(), GetParam().input.size(), out);
    EXPECT_EQ(GetParam().encoded, out);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, SectionEncoderTest,
    ::testing::Values(
        SEncoderCase{"Literal", {0x01, 0x02, 0x03}, {0x03, 0x01, 0x02, 0x03}},
        SEncoderCase{"TenEqual", Bytes(10, 0x05), {0x8A, 0x05}},
        SEncoderCase{"RunInside", {0x01, 0x05, 0x05, 0x05, 0x05, 0x02},
                     {0x01, 0x01, 0x84, 0x05, 0x01, 0x02}},
        SEncoderCase{"TwoDifferent", {0x00, 0xFF}, {0x02, 0x00, 0xFF}},
        SEncoderCase{"TwoEqual", {0xFF, 0xFF}, {0x01, 0xFF, 0x01, 0xFF}},
        SEncoderCase{"TrailingPair", {0x01, 0x02, 0x02}, {0x02, 0x01, 0x02, 0x01, 0x02}},
        SEncoderCase{"TrailingTriple", {0x07, 0x09, 0x09, 0x09},
                     {0x02, 0x07, 0x09, 0x01, 0x09, 0x01, 0x09}},
        SEncoderCase{"FullChunkRun", Bytes(64, 0x00), {0xC0, 0x00}},
        SEncoderCase{"RunThenLiteral", {0xAA, 0xAA, 0xAA, 0xAA, 0x01}, {0x84, 0xAA, 0x01, 0x01}},
        SEncoderCase{"Single", {0x5A}, {0x01, 0x5A}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- reference frames --------------------------------------------------------

struct SFrameCase {
    const char* name;
    std::function<void(CJtagTransport&)> prepare;  // frames not checked
    std::function<void(CJtagTransport&)> act;      // its last frame is checked
    Bytes frame;
};

class ReferenceFrameTest : public ::testing::TestWithParam<SFrameCase> {};

TEST_P(ReferenceFrameTest, MatchesByteForByte)
{
    CScriptedJtagDevice device;
    device.answer = [](const Bytes& payload, size_t) {
        if (!payload.empty() && payload[0] == CMD_READ_TDO) {
            Bytes answer{JTAG_ACK};
            const Bytes readBack = MakeReadBackFrame({0x0A, 0x05});
            answer.insert(answer.end(), readBack.begin(), readBack.end());
            return answer;
        }
        return DefaultAnswer(payload);
    };
    CJtagTransport transport;
    transport.BeginRun(device);
    if (GetParam().prepare)
        GetParam().prepare(transport);
    GetParam().act(transport);
    ASSERT_FALSE(device.Writes().empty());
    EXPECT_EQ(GetParam().frame, device.Writes().back());
}

namespace {

void ShiftSixteen(CJtagTransport& t)
{
    ShiftBuffer* captured = NewBuffer({});
    t.ShiftData(16, *NewBuffer({0x12, 0x34}), NewBuffer({0x00, 0xFF}), NewBuffer({0xFF, 0xFF}),
                captured, true);
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(
    Frames, ReferenceFrameTest,
    ::testing::Values(
        SFrameCase{"ClockTmsHigh", nullptr, [](CJtagTransport& t) { t.ClockTms(1); },
                   {0x00, 0x06, 0x42, 0x10, 0x01, 0x11, 0x2F, 0x38}},
        SFrameCase{"ClockTmsLow", nullptr, [](CJtagTransport& t) { t.ClockTms(0); },
                   {0x00, 0x06, 0x42, 0x00, 0x01, 0x11, 0xAE, 0x7B}},
        SFrameCase{"IrShiftEightBits", nullptr,
                   [](CJtagTransport& t) {
                       const uint8_t tdi = 0x01;
                       t.WriteTdiBitsequenz(8, &tdi, nullptr, nullptr, true);
                   },
                   {0x00, 0x08, 0x53, 0x0C, 0x00, 0x08, 0x01, 0x01, 0x0C, 0xD0}},
        SFrameCase{"TmsHighAtRunStart", nullptr,
                   [](CJtagTransport& t) { t.SetPin(PIN_TMS, 1, true); },
                   {0x00, 0x04, 0x42, 0x10, 0x8C, 0x66}},
        SFrameCase{"ExtraResetClock", nullptr,
                   [](CJtagTransport& t) {
                       t.SetPin(PIN_TCK, 0, false);
                       t.SetPin(PIN_TCK, 1, true);
                   },
                   {0x00, 0x05, 0x42, 0x01, 0x11, 0x83, 0x4D}},
        SFrameCase{"Wait1000", nullptr, [](CJtagTransport& t) { t.RemoteWait(1000); },
                   {0x00, 0x07, 0x54, 0x00, 0x00, 0x03, 0xE8, 0x90, 0x13}},
        SFrameCase{"Finish", nullptr, [](CJtagTransport& t) { t.FinishXsvf(); },
                   {0x00, 0x03, 0x46, 0x81, 0x97}},
        SFrameCase{"ReadTdo16", nullptr,
                   [](CJtagTransport& t) {
                       uint8_t captured[2] = {};
                       t.ReadTdoBitsequenz(16, captured);
                   },
                   {0x00, 0x05, 0x52, 0x00, 0x10, 0x04, 0x08}},
        SFrameCase{"CheckedShiftAfterOtherBitCount",
                   [](CJtagTransport& t) {
                       const uint8_t tdi = 0x01;
                       t.WriteTdiBitsequenz(8, &tdi, nullptr, nullptr, true);
                   },
                   ShiftSixteen,
                   {0x00, 0x10, 0x53, 0x3F, 0x00, 0x10, 0x02, 0x12, 0x34, 0x02, 0x00, 0xFF,
                    0x01, 0xFF, 0x01, 0xFF, 0x51, 0xB5}},
        SFrameCase{"CheckedShiftRetriedWithoutSections", ShiftSixteen, ShiftSixteen,
                   {0x00, 0x06, 0x53, 0x07, 0x00, 0x10, 0xFC, 0x17}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReadBackFrameTest, FixtureBuildsTheReferenceReadBack)
{
    EXPECT_EQ((Bytes{0x00, 0x07, 0x52, 0x00, 0x0A, 0x00, 0x05, 0x99, 0xE5}),
              MakeReadBackFrame({0x0A, 0x05}));
}

TEST_F(JtagTransportTest, ReadBackDeliversTheCapturedBytes)
{
    device.answer = [](const Bytes&, size_t) {
        Bytes answer{JTAG_ACK};
        const Bytes readBack = MakeReadBackFrame({0x0A, 0x05});
        answer.insert(answer.end(), readBack.begin(), readBack.end());
        return answer;
    };
    uint8_t captured[2] = {};
    EXPECT_TRUE(transport.ReadTdoBitsequenz(16, captured));
    EXPECT_EQ(0x0A, captured[0]);
    EXPECT_EQ(0x05, captured[1]);
}

// ---- chunking and section memory --------------------------------------------

TEST_F(JtagTransportTest, ChunksFromTheEndOfTheBuffers)
{
    struct SChunkCase {
        long bits;
        std::vector<int> chunkBits;
    };
    for (const SChunkCase& c : {SChunkCase{512, {512}}, SChunkCase{513, {512, 1}},
                                SChunkCase{1200, {512, 512, 176}}}) {
        CScriptedJtagDevice chunkDevice;
        CJtagTransport chunked;
        chunked.BeginRun(chunkDevice);
        Bytes data(static_cast<size_t>((c.bits + 7) / 8));
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<uint8_t>(i);
        EXPECT_TRUE(chunked.ShiftData(c.bits, *NewBuffer(data), nullptr, nullptr, nullptr, true));
        const std::vector<Bytes> payloads = chunkDevice.Payloads();
        ASSERT_EQ(c.chunkBits.size(), payloads.size()) << c.bits;
        size_t end = data.size();
        for (size_t i = 0; i < payloads.size(); ++i) {
            const int bits = c.chunkBits[i];
            const size_t n = static_cast<size_t>((bits + 7) / 8);
            const bool last = i + 1 == payloads.size();
            EXPECT_EQ((last ? SHIFT_EXIT : 0) | SHIFT_HAS_TDI, payloads[i][1]) << c.bits << " #" << i;
            EXPECT_EQ(bits, payloads[i][2] << 8 | payloads[i][3]);
            Bytes section;
            EncodeSection(data.data() + end - n, n, section);
            EXPECT_EQ(section, Bytes(payloads[i].begin() + 4, payloads[i].end()));
            end -= n;
        }
    }
}

TEST_F(JtagTransportTest, UnchangedSectionIsSentOnceAndResentForOtherBitCount)
{
    const ShiftBuffer* tdi = NewBuffer({0x12, 0x34});
    transport.ShiftData(16, *tdi, nullptr, nullptr, nullptr, false);
    transport.ShiftData(16, *tdi, nullptr, nullptr, nullptr, false);
    transport.ShiftData(12, *tdi, nullptr, nullptr, nullptr, false);
    const auto payloads = device.Payloads();
    ASSERT_EQ(3u, payloads.size());
    EXPECT_EQ(SHIFT_HAS_TDI, payloads[0][1]);
    EXPECT_EQ(0, payloads[1][1]);
    EXPECT_EQ(4u, payloads[1].size());
    EXPECT_EQ(SHIFT_HAS_TDI, payloads[2][1]);
}

TEST_F(JtagTransportTest, BeginRunForgetsTheSectionsSentBefore)
{
    const ShiftBuffer* tdi = NewBuffer({0x12, 0x34});
    transport.ShiftData(16, *tdi, nullptr, nullptr, nullptr, false);
    transport.BeginRun(device);
    transport.ShiftData(16, *tdi, nullptr, nullptr, nullptr, false);
    const auto payloads = device.Payloads();
    ASSERT_EQ(2u, payloads.size());
    EXPECT_EQ(payloads[0], payloads[1]);
}

TEST_F(JtagTransportTest, UncheckedShiftNeverComparesButMismatchStillCounts)
{
    device.answer = [](const Bytes&, size_t) { return Bytes{JTAG_MISMATCH}; };
    EXPECT_FALSE(transport.ShiftData(8, *NewBuffer({0x01}), NewBuffer({0x01}), NewBuffer({0xFF}),
                                     nullptr, true));
    const auto payloads = device.Payloads();
    ASSERT_EQ(1u, payloads.size());  // no read-back
    EXPECT_EQ(SHIFT_EXIT | SHIFT_HAS_TDI, payloads[0][1]);
}

TEST_F(JtagTransportTest, MismatchInTheMiddleIsReadBackAndTheRestStillSent)
{
    // 1200 bits: chunks 0, 1, 2; the second reports a mismatch.
    device.answer = [](const Bytes& payload, size_t) {
        if (payload[0] == CMD_SHIFT && (payload[2] << 8 | payload[3]) == 512 &&
            (payload[1] & SHIFT_HAS_TDI) == 0)
            return Bytes{JTAG_MISMATCH};
        if (payload[0] == CMD_READ_TDO) {
            Bytes answer{JTAG_ACK};
            const Bytes readBack = MakeReadBackFrame(Bytes(64, 0xEE));
            answer.insert(answer.end(), readBack.begin(), readBack.end());
            return answer;
        }
        return DefaultAnswer(payload);
    };
    // Equal TDI bytes in both 512-bit chunks: the second leaves its section out.
    ShiftBuffer* captured = NewBuffer({});
    ShiftBuffer* expected = NewBuffer(Bytes(150, 0x11));
    EXPECT_FALSE(transport.ShiftData(1200, *NewBuffer(Bytes(150, 0)), expected, nullptr, captured,
                                     true));
    const auto payloads = device.Payloads();
    ASSERT_EQ(4u, payloads.size());
    EXPECT_EQ(CMD_READ_TDO, payloads[2][0]);
    EXPECT_EQ(CMD_SHIFT, payloads[3][0]);
    EXPECT_EQ(150, captured->length);
    EXPECT_EQ(0x11, captured->bytes[149]);  // matched chunk: the expected bytes
    EXPECT_EQ(0xEE, captured->bytes[85]);   // mismatched chunk: read back
    EXPECT_EQ(0x11, captured->bytes[0]);
}

TEST_F(JtagTransportTest, OtherAnswerToAShiftStopsTheLaterChunks)
{
    device.answer = [](const Bytes&, size_t) { return Bytes{0x55}; };
    EXPECT_FALSE(transport.ShiftData(1024, *NewBuffer(Bytes(128, 1)), nullptr, nullptr, nullptr,
                                     false));
    EXPECT_EQ(1u, device.Payloads().size());
}

// ---- answers: busy, resend, failures ----------------------------------------

TEST_F(JtagTransportTest, BusyBytesBeforeTheAnswerAreOneFrame)
{
    device.answer = [](const Bytes&, size_t) {
        Bytes answer(25, JTAG_WAIT);
        answer.push_back(JTAG_ACK);
        return answer;
    };
    EXPECT_TRUE(transport.RemoteWait(2500000));
    EXPECT_EQ(1u, device.Writes().size());
}

TEST_F(JtagTransportTest, ResendsOnBadCrcUpToSixSendings)
{
    for (const int badAnswers : {5, 6}) {
        CScriptedJtagDevice crcDevice;
        CJtagTransport t;
        t.BeginRun(crcDevice);
        crcDevice.answer = [badAnswers](const Bytes&, size_t index) {
            return Bytes{static_cast<int>(index) < badAnswers ? JTAG_RETRY : JTAG_ACK};
        };
        const int code = ThrownCode([&] { t.ClockTms(1); });
        EXPECT_EQ(badAnswers == 5 ? -1 : XSVF_ERROR_MULTIPLECRC, code);
        const auto writes = crcDevice.Writes();
        EXPECT_EQ(6u, writes.size());
        for (const Bytes& write : writes)
            EXPECT_EQ(writes[0], write);
    }
}

TEST_F(JtagTransportTest, FailuresBecomeResultCodes)
{
    device.answer = [](const Bytes&, size_t) { return Bytes{}; };
    EXPECT_EQ(XSVF_ERROR_NOANSWER, ThrownCode([&] { transport.FinishXsvf(); }));

    device.failWrites = true;
    EXPECT_EQ(XSVF_ERROR_WRITE, ThrownCode([&] { transport.ClockTms(0); }));
    device.failWrites = false;

    // The pending pin frame is empty again after a failed sending.
    device.answer = nullptr;
    transport.ClockTms(0);
    EXPECT_EQ((Bytes{0x42, 0x00, 0x01, 0x11}), device.Payloads().back());
}

TEST_F(JtagTransportTest, MalformedReadBackIs13)
{
    struct SBadReadBack {
        const char* what;
        std::function<void(Bytes&)> spoil;
    };
    for (const SBadReadBack& c : {
             SBadReadBack{"length 2n+4", [](Bytes& r) { r[1] = 0x08; }},
             SBadReadBack{"echo byte", [](Bytes& r) { r[2] = 0x53; }},
             SBadReadBack{"crc", [](Bytes& r) { r.back() ^= 1; }},
         }) {
        device.answer = [&c](const Bytes&, size_t) {
            Bytes readBack = MakeReadBackFrame({0x0A, 0x05});
            c.spoil(readBack);
            readBack.insert(readBack.begin(), JTAG_ACK);
            return readBack;
        };
        uint8_t captured[2] = {};
        EXPECT_EQ(XSVF_ERROR_READTDO, ThrownCode([&] { transport.ReadTdoBitsequenz(16, captured); }))
            << c.what;
    }
}

TEST_F(JtagTransportTest, IncompleteReadBackIs11AndRefusedRequestReadsNothing)
{
    device.answer = [](const Bytes&, size_t) { return Bytes{JTAG_ACK, 0x00, 0x07, 0x52}; };
    uint8_t captured[2] = {0x77, 0x77};
    EXPECT_EQ(XSVF_ERROR_NOANSWER, ThrownCode([&] { transport.ReadTdoBitsequenz(16, captured); }));

    device.answer = [](const Bytes&, size_t) { return Bytes{0x44}; };
    EXPECT_FALSE(transport.ReadTdoBitsequenz(16, captured));
    EXPECT_EQ(0x77, captured[0]);
}

TEST_F(JtagTransportTest, CancelWhileBusySendsEndByteAndEndsTheExchange)
{
    device.answer = [this](const Bytes&, size_t) {
        device.cancel = true;  // the user confirms the cancel during the wait
        return Bytes{JTAG_WAIT, JTAG_WAIT};
    };
    EXPECT_EQ(XSVF_CANCELLED, ThrownCode([&] { transport.RemoteWait(1000000); }));
    const auto writes = device.Writes();
    ASSERT_EQ(2u, writes.size());
    EXPECT_EQ(Bytes{CMD_END_BYTE}, writes[1]);
}
