// Runs with the real worker over a pseudo-terminal linked as a port beside
// the test program. The line here has no device behind it, so the worker
// stays in the wake-up phase until the test cancels.

#include "ComPort.h"
#include "PtyPair.h"
#include "StringTable.h"
#include "TestUpdateDlg.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

using namespace devupdate;
using namespace devupdate::link;
using namespace devupdate::xsvf;
using namespace devupdate::res;
using namespace devupdate::update;
using namespace devupdate::mkupd;

namespace {

// Each case links its own port (ctest runs cases side by side, and a shared
// link would let one case's worker knock on the other's line), all apart
// from the Com1 link that other suites use for the simulated device.
int PortIndexOfThisTest()
{
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    if (name == "CancelDuringWakeUpEndsQuietly")
        return 8;
    if (name == "PortInUseIsReportedAndFreePortOpensNextTime")
        return 9;
    return 7;
}

class CPortLink {
public:
    CPortLink(int number, const std::string& target)
        : m_path(ProgramDirectory() + "ports/com" + std::to_string(number))
    {
        std::filesystem::create_directories(ProgramDirectory() + "ports");
        std::error_code ignored;
        std::filesystem::remove(m_path, ignored);
        std::filesystem::create_symlink(target, m_path);
    }
    ~CPortLink()
    {
        std::error_code ignored;
        std::filesystem::remove(m_path, ignored);
    }
    CPortLink(const CPortLink&) = delete;
    CPortLink& operator=(const CPortLink&) = delete;

private:
    std::string m_path;
};

class SilentLineRunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_portIndex = PortIndexOfThisTest();
        m_link = std::make_unique<CPortLink>(m_portIndex + 1, m_line.SlavePath());
        const std::string file = WriteTargetsFile(m_folder, "run.upd", 2);
        WriteSettingFile(m_folder, file + "\nPort=" + std::to_string(m_portIndex) + "\n");
        m_dlg = std::make_unique<CTestUpdateDlg>(m_folder.Path() + "/");
        m_dlg->show();
    }
    void TearDown() override
    {
        // Never leave a worker running on a window that goes away.
        if (m_dlg->Run().State().m_runState != RunIdle) {
            m_dlg->Run().RequestCancel();
            EXPECT_TRUE(QTest::qWaitFor([&] { return m_dlg->Run().State().m_runState == RunIdle; }, 10000));
        }
    }

    CTempFolder m_folder;
    CPtyPair m_line;
    int m_portIndex = 0;
    std::unique_ptr<CPortLink> m_link;
    std::unique_ptr<CTestUpdateDlg> m_dlg;
};

TEST_F(SilentLineRunTest, CancelDuringWakeUpEndsQuietly)
{
    CTestUpdateDlg& dlg = *m_dlg;
    Button(dlg, res::IDC_UPDATE)->click();
    ASSERT_TRUE(dlg.Messages().empty()) << dlg.Messages().front();
    EXPECT_TRUE(dlg.ControlsLocked());
    EXPECT_TRUE(dlg.IsRunTimerActive());
    EXPECT_EQ(MessageLine(dlg), "Connect device, switch device off then on");
    // The worker is knocking: wake-up bytes arrive on the line.
    const std::vector<uint8_t> sent = m_line.ReadMaster(1, 5000);
    ASSERT_EQ(sent, std::vector<uint8_t>{0xA4});

    Button(dlg, res::IDC_CANCEL_RUN)->click();
    EXPECT_EQ(dlg.WarningDlg(), nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return dlg.Run().State().m_runState == RunIdle; }, 10000));
    EXPECT_TRUE(dlg.Messages().empty());
    EXPECT_EQ(MessageLine(dlg), "Connect device, switch device off then on");
    EXPECT_FALSE(dlg.ControlsLocked());
    EXPECT_FALSE(dlg.Run().State().m_comPort.IsOpen());
    EXPECT_EQ(dlg.Run().State().m_updateFile, nullptr);
    EXPECT_FALSE(dlg.IsRunTimerActive());
}

TEST_F(SilentLineRunTest, PortInUseIsReportedAndFreePortOpensNextTime)
{
    CTestUpdateDlg& dlg = *m_dlg;
    {
        CComPort holder;
        ASSERT_TRUE(holder.Open(m_line.SlavePath(), 57600, 100));
        Button(dlg, res::IDC_UPDATE)->click();
        ASSERT_EQ(dlg.Messages().size(), 1u);
        // The original text, then which device and who holds it.
        EXPECT_EQ(dlg.Messages()[0], "Error: COM10 in use or does not exist.\n" + ProgramDirectory() + "ports/com10 -> " +
                                         m_line.SlavePath() + ": busy, held by process " + std::to_string(getpid()) +
                                         " (app_tests).\n");
        EXPECT_FALSE(dlg.ControlsLocked());
        EXPECT_EQ(dlg.Run().State().m_updateFile, nullptr);
        EXPECT_EQ(dlg.Run().State().m_runState, RunIdle);
    }
    Button(dlg, res::IDC_UPDATE)->click();
    EXPECT_EQ(dlg.Messages().size(), 1u);
    EXPECT_TRUE(dlg.ControlsLocked());
    EXPECT_EQ(dlg.Run().State().m_runState, RunActive);
}

TEST_F(SilentLineRunTest, FailedCheckStartsNoRun)
{
    CTestUpdateDlg& dlg = *m_dlg;
    Edit(dlg, res::IDC_FILE_EDIT)->setText(QString::fromStdString(m_folder.Path() + "/gone.upd"));
    Button(dlg, res::IDC_UPDATE)->click();
    ASSERT_EQ(dlg.Messages().size(), 1u);
    EXPECT_EQ(dlg.Messages()[0], "Error: File '" + m_folder.Path() + "/gone.upd' not found.\n");
    EXPECT_FALSE(dlg.Run().State().m_comPort.IsOpen());
    EXPECT_EQ(dlg.Run().State().m_runState, RunIdle);
    EXPECT_FALSE(dlg.ControlsLocked());
}

}  // namespace
