// XSVF targets end to end: the update worker over a pseudo-terminal against
// the simulated device and its model part. The trace and the tool's bytes
// are compared with a replay of the same stream over the scripted link,
// whose device gives the answers the simulated one gave.
#include "ModelPart.h"
#include "ModelPartProgram.h"
#include "ScriptedJtagDevice.h"
#include "TempDir.h"
#include "UpdateRunFixture.h"
#include "VectorXsvfHost.h"
#include "XsvfBuilder.h"
#include "XsvfPlayer.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <unistd.h>

using namespace devupdate;
using namespace devupdate::link;
using namespace devupdate::xsvf;
using namespace devupdate::update;
using namespace devupdate::devsim;
using namespace devupdate::svf;
using namespace devupdate::mkupd;
using namespace devupdate::xsvfgen;

namespace {

// Frame bytes, spelled out here: the device's headers use the same names.
constexpr uint8_t SHIFT_FRAME = 0x53;
constexpr uint8_t COMPARE_FLAG = 0x01;
constexpr uint8_t READ_TDO_FRAME = 0x52;
constexpr uint8_t DELAY_FRAME = 0x54;
constexpr uint8_t ANSWER_ACK = 0x11;
constexpr uint8_t ANSWER_BUSY = 0x33;
constexpr uint8_t ANSWER_MISMATCH = 0x99;
constexpr uint8_t END_BYTE = 0xA2;

Bytes Image(size_t size, uint8_t seed)
{
    Bytes image(size);
    for (size_t i = 0; i < size; ++i)
        image[i] = static_cast<uint8_t>(seed + i * 7);
    return image;
}

bool Contains(const Bytes& haystack, const Bytes& needle)
{
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

class XsvfDevsimTest : public UpdateRunFixture {
protected:
    void SetUp() override
    {
        ASSERT_NE(getcwd(m_previousDir, sizeof m_previousDir), nullptr);
        ASSERT_EQ(chdir(m_folder.Path().c_str()), 0);  // the trace goes here
    }
    void TearDown() override { EXPECT_EQ(chdir(m_previousDir), 0); }

    std::string Trace() const
    {
        std::ifstream in(m_folder.Path() + "/xsvf_debug.txt", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    char m_previousDir[4096] = {};
};

}  // namespace

TEST_F(XsvfDevsimTest, TwoTargetsProgramTheModelPartEachSendingAllItsSections)
{
    const Bytes first = MakeModelPartProgram(Image(64, 1));
    const Bytes imageB = Image(100, 9);
    const Bytes second = MakeModelPartProgram(imageB);
    StartDevice();
    RunUpdate(WriteUpdateFile({mkupd::FileVersion::V1_01, {Xsvf(2, first, "A"), Xsvf(3, second, "B")}}),
              std::chrono::seconds(60));
    EXPECT_EQ("2 of 2 targets updated successfully.", m_run.Message());
    EXPECT_EQ("100% ", Row(1));

    const ModelFlash flash = m_device->Flash();
    for (size_t word = 0; word < imageB.size() / 2; ++word)
        ASSERT_EQ((imageB[2 * word] << 8) | imageB[2 * word + 1], flash[word]) << "word " << word;
    EXPECT_EQ(MODEL_ERASED_WORD, flash[imageB.size() / 2]);

    // Every answer was an acknowledgement (busy bytes aside): the replay over
    // an always-acknowledging link writes the same trace and the same bytes.
    // Each target's traffic equals that of a fresh transport, so both sent
    // their first sections in full.
    const SReplay replayFirst = ReplayXsvf(first);
    const SReplay replaySecond = ReplayXsvf(second);
    ASSERT_EQ(XSVF_SUCCESS, replaySecond.result);
    EXPECT_EQ(replaySecond.trace, Trace());
    const Bytes sent = ToolBytes();
    EXPECT_TRUE(Contains(sent, replayFirst.wire));
    EXPECT_TRUE(Contains(sent, replaySecond.wire));
}

TEST_F(XsvfDevsimTest, WrongIdcodeFailsWithMismatchAndTheCapturedIdcodeInTheTrace)
{
    const uint32_t wrong = MODEL_IDCODE ^ 0x00100000;
    const Bytes stream = CXsvfBuilder()
                             .Sir(MODEL_IR_LENGTH, {INS_IDCODE})
                             .SdrSize(32)
                             .TdoMask({0xFF, 0xFF, 0xFF, 0xFF})
                             .SdrTdo({0, 0, 0, 0}, {static_cast<uint8_t>(wrong >> 24),
                                                    static_cast<uint8_t>(wrong >> 16),
                                                    static_cast<uint8_t>(wrong >> 8),
                                                    static_cast<uint8_t>(wrong)})
                             .Complete()
                             .Stream();
    StartDevice();
    RunUpdate(WriteUpdateFile({mkupd::FileVersion::V1_01, {Xsvf(2, stream)}}));
    EXPECT_EQ(RunEndedWithMessage, m_endState);
    EXPECT_EQ("TDO mismatch", m_run.Message());
    EXPECT_NE(std::string::npos, Row(0).find("% unsuccessful")) << Row(0);

    const SReplay replay = ReplayXsvf(stream, [](const Bytes& payload, size_t) {
        if (payload[0] == SHIFT_FRAME && (payload[1] & COMPARE_FLAG) != 0)
            return Bytes{ANSWER_MISMATCH};
        if (payload[0] == READ_TDO_FRAME) {
            Bytes answer{ANSWER_ACK};
            const Bytes frame = MakeReadBackFrame({0x0D, 0x5E, 0x10, 0x01});
            answer.insert(answer.end(), frame.begin(), frame.end());
            return answer;
        }
        return DefaultAnswer(payload);
    });
    EXPECT_EQ(XSVF_ERROR_TDOMISMATCH, replay.result);
    const std::string trace = Trace();
    EXPECT_EQ(replay.trace, trace);
    EXPECT_NE(std::string::npos, trace.find(" TDO Expected = 0x0d4e1001\r\n"
                                            " TDO Captured = 0x0d5e1001\r\n"
                                            " TDO Mask     = 0xffffffff\r\n"
                                            "ERROR:  TDO mismatch\r\n"
                                            "ERROR at or near XSVF command #4.  See line #4 in the XSVF "
                                            "ASCII file.\r\n"));
    EXPECT_TRUE(Contains(ToolBytes(), replay.wire));
}

TEST_F(XsvfDevsimTest, CancelDuringABusyWaitSendsTheEndByteAndEndsQuietly)
{
    SDevsimConfig config;
    config.realDelays = true;  // one busy byte per 100 ms of the wait
    StartDevice(config);
    const Bytes stream = CXsvfBuilder().Wait(1, 1, 5000000).Sdrb({}).Complete().Stream();
    bool cancelled = false;
    RunUpdate(WriteUpdateFile({mkupd::FileVersion::V1_01, {Xsvf(2, stream)}}), std::chrono::seconds(20),
              [&] {
                  if (cancelled)
                      return;
                  for (const STrafficByte& traffic : m_device->Traffic()) {
                      if (!traffic.fromTool && traffic.byte == ANSWER_BUSY) {
                          m_run.ConfirmCancel();  // the user's "Yes" while the device waits
                          cancelled = true;
                          return;
                      }
                  }
              });
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(RunEnded, m_endState);
    EXPECT_EQ("Update cancelled by user", m_run.Message());
    EXPECT_LT(m_elapsed, std::chrono::seconds(4));
    // The end byte ends the device's session; let the device take it in
    // before its log is read.
    EXPECT_TRUE(m_device->WaitForSessions(1, std::chrono::seconds(2)));
    // The wait frame, then the lone end byte, then nothing.
    const Bytes waitFrame = MakeFrame({DELAY_FRAME, 0x00, 0x4C, 0x4B, 0x40});
    Bytes tail = waitFrame;
    tail.push_back(END_BYTE);
    const Bytes sent = ToolBytes();
    ASSERT_GE(sent.size(), tail.size());
    EXPECT_EQ(tail, Bytes(sent.end() - static_cast<long>(tail.size()), sent.end()));
    EXPECT_NE(std::string::npos, Trace().find("Update cancelled by user\r\n"
                                              "ERROR at or near XSVF command #1."));
}
