// Whole runs through PlayXsvf(host): a transport of its own, a real
// CComPort on a pseudo-terminal and a scripted device on its master end.
#include "ComPort.h"
#include "PlayerFixture.h"
#include "XsvfBuilder.h"
#include "XsvfTrace.h"

#include <gtest/gtest.h>

#include <unistd.h>

using namespace devupdate::link;
using namespace devupdate::xsvf;

namespace {

// Runs the test inside a temporary current directory (the trace is written
// to the current directory).
class CWorkingDirectory {
public:
    explicit CWorkingDirectory(const std::string& path)
    {
        char buffer[4096];
        if (getcwd(buffer, sizeof buffer) == nullptr || chdir(path.c_str()) != 0)
            throw std::runtime_error("cannot change the working directory");
        m_previous = buffer;
    }
    ~CWorkingDirectory() { (void)chdir(m_previous.c_str()); }
    CWorkingDirectory(const CWorkingDirectory&) = delete;
    CWorkingDirectory& operator=(const CWorkingDirectory&) = delete;

private:
    std::string m_previous;
};

class XsvfPtyTest : public ::testing::Test {
protected:
    int PlayOverPty(CVectorXsvfHost& host)
    {
        EXPECT_TRUE(host.port.Open(pty.SlavePath(), 57600, 150));
        CPtyJtagDevice served(pty, script);
        const int result = PlayXsvf(host);
        host.port.Close();
        return result;
    }

    CTempDir dir;
    CWorkingDirectory cwd{dir.Path()};
    CPtyPair pty;
    CJtagFrameScript script;
};

const Bytes& ProgramStream()
{
    static const Bytes stream = CXsvfBuilder()
                                    .Repeat(2)
                                    .RunTest(100)
                                    .Sir(8, {0x05})
                                    .SdrSize(1200)
                                    .TdoMask(Bytes(150, 0xFF))
                                    .SdrTdo(Bytes(150, 0xA5), Bytes(150, 0x5A))
                                    .Sdr(Bytes(150, 0xA5))
                                    .Complete()
                                    .Stream();
    return stream;
}

}  // namespace

TEST_F(XsvfPtyTest, RunsOverTheSerialLinkAsOverTheScriptedLink)
{
    CVectorXsvfHost host(ProgramStream());
    EXPECT_EQ(XSVF_SUCCESS, PlayOverPty(host));
    const std::string trace = dir.Read(CXsvfTrace::FILE_NAME);
    EXPECT_EQ(0u, trace.rfind("Start der Aufzeichnung\r\r\n", 0));
    EXPECT_NE(std::string::npos, trace.find("SUCCESS - Completed XSVF execution.\r\n"));
    EXPECT_EQ(8, host.progressCalls);

    // The same stream over the in-memory link sends the same bytes.
    CScriptedJtagDevice direct;
    CJtagTransport transport;
    CVectorXsvfHost directHost(ProgramStream());
    CTempDir other;
    EXPECT_EQ(XSVF_SUCCESS, PlayXsvf(directHost, transport, direct, other.Path()));
    EXPECT_EQ(direct.Wire(), script.Wire());
}

TEST_F(XsvfPtyTest, SecondRunResendsItsFirstSections)
{
    CVectorXsvfHost first(ProgramStream());
    ASSERT_EQ(XSVF_SUCCESS, PlayOverPty(first));
    const Bytes firstWire = script.Wire();
    CVectorXsvfHost second(ProgramStream());
    ASSERT_EQ(XSVF_SUCCESS, PlayOverPty(second));
    const Bytes both = script.Wire();
    EXPECT_EQ(firstWire, Bytes(both.begin() + static_cast<long>(firstWire.size()), both.end()));
}

TEST_F(XsvfPtyTest, CancelDuringABusyWaitEndsQuietlyAfterTheEndByte)
{
    CVectorXsvfHost host(CXsvfBuilder().Wait(1, 1, 3000000).Sdrb({}).Complete().Stream());
    script.answer = [&host](const Bytes& payload, size_t) {
        if (!payload.empty() && payload[0] == CMD_DELAY) {
            host.cancel = true;
            return Bytes{JTAG_WAIT, JTAG_WAIT, JTAG_WAIT};
        }
        return DefaultAnswer(payload);
    };
    EXPECT_EQ(XSVF_CANCELLED, PlayOverPty(host));
    const auto writes = script.Writes();
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(Bytes{CMD_END_BYTE}, writes.back());
    EXPECT_EQ(CMD_DELAY, writes[writes.size() - 2][2]);
}

TEST_F(XsvfPtyTest, SilentDeviceIs11AfterTheReadTimeout)
{
    script.answer = [](const Bytes&, size_t) { return Bytes{}; };
    CVectorXsvfHost host(CXsvfBuilder().Complete().Stream());
    EXPECT_EQ(XSVF_ERROR_NOANSWER, PlayOverPty(host));
    EXPECT_EQ(1u, script.Writes().size());
}
