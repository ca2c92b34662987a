// What a terminal shows of update-cli's display: message and comment lines
// stay, bars are redrawn below them and gone at the end.

#include "OutputStream.h"
#include "ProgressDisplay.h"
#include "TerminalScreen.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

using namespace devupdate::update;

namespace {

class ProgressDisplayTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(pipe2(m_pipe, O_NONBLOCK | O_CLOEXEC), 0); }
    void TearDown() override
    {
        close(m_pipe[0]);
        close(m_pipe[1]);
    }
    std::string Written()
    {
        std::string bytes;
        char buffer[4096];
        for (ssize_t n; (n = read(m_pipe[0], buffer, sizeof buffer)) > 0;)
            bytes.append(buffer, static_cast<size_t>(n));
        return bytes;
    }

    int m_pipe[2] = {-1, -1};
};

TEST_F(ProgressDisplayTest, CommentLinesStayAboveTheBarsAndNoBarIsLeftBehind)
{
    COutputStream out(m_pipe[1]);
    CProgressDisplay display(out, true, false);
    display.ShowMessage("running update");
    display.ShowRows({{"Logic", 10, "", ""}});
    // A comment in pieces, cut inside "é" (C3 A9), with an escape sequence.
    display.ShowComment("caf\xC3", true, false);
    display.ShowRows({{"Logic", 20, "", ""}});  // not drawn into the open comment line
    display.ShowComment("\xA9 \x1b[2J", false, true);
    display.ShowRows({{"Logic", 60, "", ""}});
    display.Finish();
    out.Queue("Logic: 100% \n");
    const std::vector<std::string> expected{"running update", " caf\xC3\xA9 \\x1b[2J", "Logic: 100% "};
    EXPECT_EQ(Screen(Written()), expected);
}

}  // namespace
