// Port names: "\\.\COMn" and "COMn" to devices, with and without a
// ports/comN link beside the program.

#include "ComPort.h"
#include "PtyPair.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

using namespace devupdate::link;

namespace {

// The test program's directory is ProgramDirectory(); links go into its
// ports/ folder. Numbers far above the port list keep clear of other suites
// that share the folder.
class CPortLink {
public:
    CPortLink(unsigned number, const std::string& target)
        : m_dir(ProgramDirectory() + "ports"), m_path(m_dir + "/com" + std::to_string(number))
    {
        // The folder stays: suites running side by side put their links there.
        if (mkdir(m_dir.c_str(), 0755) != 0 && errno != EEXIST)
            ADD_FAILURE() << "mkdir " << m_dir;
        (void)unlink(m_path.c_str());  // a leftover of an aborted run, if any
        if (symlink(target.c_str(), m_path.c_str()) != 0)
            ADD_FAILURE() << "symlink " << m_path;
    }
    ~CPortLink()
    {
        if (unlink(m_path.c_str()) != 0)
            ADD_FAILURE() << "unlink " << m_path;
    }
    const std::string& Path() const { return m_path; }

private:
    std::string m_dir;
    std::string m_path;
};

TEST(ProgramDirectoryTest, IsTheFolderOfThisTestProgram)
{
    const std::string dir = ProgramDirectory();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.front(), '/');
    EXPECT_EQ(dir.back(), '/');
    EXPECT_EQ(access((dir + "link_tests").c_str(), X_OK), 0);
}

struct SNameCase {
    const char* name;
    const char* expected;
};

class PortNameTest : public ::testing::TestWithParam<SNameCase> {};

TEST_P(PortNameTest, ResolvesWithoutLink)
{
    EXPECT_EQ(ResolvePortName(GetParam().name), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Names, PortNameTest,
    ::testing::Values(SNameCase{"\\\\.\\COM3", "/dev/ttyS2"},
                      SNameCase{"com3", "/dev/ttyS2"},
                      SNameCase{"Com1", "/dev/ttyS0"},
                      SNameCase{"COM10", "/dev/ttyS9"},
                      SNameCase{"\\\\.\\cOm10", "/dev/ttyS9"},
                      SNameCase{"/dev/ttyUSB0", "/dev/ttyUSB0"},
                      SNameCase{"/tmp/ports/com3", "/tmp/ports/com3"},
                      SNameCase{"COM0", "COM0"},
                      SNameCase{"COM03", "COM03"},
                      SNameCase{"COM", "COM"},
                      SNameCase{"COM3x", "COM3x"},
                      SNameCase{"COM999", "/dev/ttyS998"},
                      SNameCase{"COM1000", "COM1000"},
                      SNameCase{"\\\\.\\", "\\\\.\\"},
                      SNameCase{"LPT1", "LPT1"},
                      SNameCase{"ttyS0", "ttyS0"},
                      SNameCase{"", ""}));

TEST(ComNameTest, ShortNamesUpToALimitAndTheDeviceNameARunOpens)
{
    const struct {
        const char* name;
        unsigned number;
    } cases[] = {{"Com10", 10}, {"com1", 1}, {"Com11", 0}, {"Com100", 0}, {"Com01", 0}, {"\\\\.\\COM3", 0}};
    for (const auto& c : cases)
        EXPECT_EQ(ComNumber(c.name, COM_PORT_COUNT), c.number) << c.name;
    EXPECT_EQ(ComDeviceName(7), "\\\\.\\COM7");
    EXPECT_EQ(ComShortName(7), "COM7");
    EXPECT_EQ(ComNameNumber(ComDeviceName(MAX_COM_NAME_NUMBER)), MAX_COM_NAME_NUMBER);
}

TEST(PortLinkTest, LinkBesideTheProgramWins)
{
    CPtyPair pty;
    CPortLink link(97, pty.SlavePath());
    EXPECT_EQ(ResolvePortName("\\\\.\\COM97"), link.Path());
    EXPECT_EQ(ResolvePortName("com97"), link.Path());
    EXPECT_EQ(ResolvePortName("COM98"), "/dev/ttyS97");  // no link: the default

    CComPort port;
    ASSERT_TRUE(port.Open("\\\\.\\COM97", 57600, 2000));
    ASSERT_TRUE(pty.WriteMaster({0x88}));
    uint8_t b = 0;
    ASSERT_TRUE(port.Read(&b, 1));
    EXPECT_EQ(b, 0x88);
}

TEST(PortLinkTest, DanglingLinkIsUsedAndFailsToOpen)
{
    CPortLink link(96, "/dev/no-such-serial-port");
    EXPECT_EQ(ResolvePortName("COM96"), link.Path());
    CComPort port;
    EXPECT_FALSE(port.Open("COM96", 57600, 2000));
}

}  // namespace
