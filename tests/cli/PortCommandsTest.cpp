// A new adapter as the user meets it: list the ports, map ComN to the
// device without root, run on ComN; and what update-cli says when the port
// cannot be opened. Each test has its own XDG_CONFIG_HOME.

#include "ChildProcess.h"
#include "Devsim.h"
#include "PortName.h"
#include "UpdateFileFixture.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <sstream>
#include <sys/stat.h>

using namespace devupdate::link;
using namespace devupdate::update;
using namespace devupdate::devsim;
using namespace devupdate::svf;
using namespace devupdate::mkupd;

namespace {

class PortCommandsTest : public ::testing::Test {
protected:
    PortCommandsTest() { setenv("XDG_CONFIG_HOME", m_folder.Path().c_str(), 1); }
    ~PortCommandsTest() override { unsetenv("XDG_CONFIG_HOME"); }

    int Run(const std::vector<std::string>& args)
    {
        CChildProcess child("update-cli", args);
        const int status = child.Wait(20000);
        m_stdout = child.Stdout();
        m_stderr = child.Stderr();
        return status;
    }
    std::string UserLink(unsigned n) const { return m_folder.Path() + "/update/ports/com" + std::to_string(n); }
    bool ProgramLinkExists(unsigned n) const
    {
        struct stat info {};
        return lstat((ProgramDirectory() + "ports/com" + std::to_string(n)).c_str(), &info) == 0;
    }

    CTempFolder m_folder;
    std::string m_stdout;
    std::string m_stderr;
};

TEST_F(PortCommandsTest, ListMapAndRunWithoutRoot)
{
    CDevsim device{SDevsimConfig{}};
    device.Start();
    const std::string pty = device.SlavePath();

    ASSERT_EQ(Run({"--map-port", "Com7", pty}), 0) << m_stderr;
    EXPECT_EQ(m_stdout, "Com7 -> " + UserLink(7) + " -> " + pty + " (no serial device)\n");
    struct stat folder {};
    ASSERT_EQ(stat((m_folder.Path() + "/update").c_str(), &folder), 0);
    EXPECT_EQ(folder.st_mode & 0777, 0700u);

    ASSERT_EQ(Run({"--list-ports"}), 0);
    EXPECT_NE(m_stdout.find("\nCom7 -> " + UserLink(7) + " -> " + pty + " "), std::string::npos) << m_stdout;
    EXPECT_NE(m_stdout.find("\nCom10 -> "), std::string::npos) << m_stdout;
    ASSERT_EQ(Run({"--list-ports", "--json"}), 0);
    std::vector<nlohmann::json> coms;
    std::istringstream lines(m_stdout);
    for (std::string line; std::getline(lines, line);) {
        const nlohmann::json event = nlohmann::json::parse(line);
        if (event.at("event") == "com")
            coms.push_back(event);
        else
            EXPECT_EQ(event.at("event"), "port") << line;
    }
    ASSERT_EQ(coms.size(), 10u) << m_stdout;
    EXPECT_EQ(coms[6].at("com"), 7);
    EXPECT_EQ(coms[6].at("path"), UserLink(7));
    EXPECT_EQ(coms[6].at("leads_to"), pty);

    const std::string file = m_folder.Write("one.upd", std::string("Firmwareupdate-Fileformat-V1.00\n01\n01 A\n"
                                                                   "01000000080006010203040506\n00\n"));
    EXPECT_EQ(Run({"--port", "Com7", "--quiet", file}), 0) << m_stderr;

    ASSERT_EQ(Run({"--map-port", "Com7", "-"}), 0) << m_stderr;
    EXPECT_EQ(m_stdout.rfind("Com7 -> /dev/ttyS6", 0), 0u) << m_stdout;
    struct stat link {};
    EXPECT_NE(lstat(UserLink(7).c_str(), &link), 0);
}

TEST_F(PortCommandsTest, WithoutPortNamesTheDefaultAndSaysWhyItFailed)
{
    if (ProgramLinkExists(1))
        GTEST_SKIP() << "another suite's ports/com1 beside the program decides Com1 now";
    ASSERT_EQ(mkdir((m_folder.Path() + "/update").c_str(), 0700), 0);
    ASSERT_EQ(mkdir((m_folder.Path() + "/update/ports").c_str(), 0700), 0);
    ASSERT_EQ(symlink("/dev/no-such-tty", UserLink(1).c_str()), 0);
    const std::string file = m_folder.Write("one.upd", std::string("Firmwareupdate-Fileformat-V1.00\n01\n01 A\n"
                                                                   "01000000080006010203040506\n00\n"));
    EXPECT_EQ(Run({file}), 2);
    const std::string where = UserLink(1) + " -> /dev/no-such-tty";
    EXPECT_EQ(m_stdout, "Port Com1: " + where + "\n");
    EXPECT_EQ(m_stderr, "Error: COM1 in use or does not exist.\n" + where + ": no such device.\n");
}

TEST_F(PortCommandsTest, RefusesWhatCannotBeMapped)
{
    const struct {
        std::vector<std::string> args;
        const char* error;
    } cases[] = {
        {{"--map-port", "Com11", "/dev/null"}, "update-cli: --map-port needs Com1..Com10\n"},
        {{"--map-port", "Com3"}, "update-cli: --map-port needs a value\n"},
        {{"--map-port", "Com3", "/dev/no-such-tty"}, "update-cli: /dev/no-such-tty: no such device\n"},
        {{"--list-ports", "x.upd"}, "update-cli: --list-ports and --map-port take no update file\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Run(c.args), 2) << c.args[0];
        EXPECT_EQ(m_stderr.substr(0, m_stderr.find('\n') + 1), c.error);
    }
}

}  // namespace
