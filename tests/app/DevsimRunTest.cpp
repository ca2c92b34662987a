// Whole runs in the window against the simulated device, linked as Com1
// beside the test program. The device paces its line at 57600 baud so a run
// lasts long enough for the run timer to show it going on.

#include "Devsim.h"
#include "ModelPartProgram.h"
#include "StringTable.h"
#include "TestUpdateDlg.h"

#include <gtest/gtest.h>

#include <QScreen>

#include <cstdlib>
#include <memory>
#include <unistd.h>

using namespace devupdate;
using namespace devupdate::link;
using namespace devupdate::xsvf;
using namespace devupdate::res;
using namespace devupdate::update;
using namespace devupdate::devsim;
using namespace devupdate::svf;
using namespace devupdate::mkupd;
using namespace devupdate::xsvfgen;

namespace {

constexpr int kRunLimitMs = 30000;

// The columns of an image's middle row drawn otherwise than in `empty`.
int ColumnsDrawnOtherwise(const QImage& image, const QImage& empty)
{
    const int y = image.height() / 2;
    int columns = 0;
    for (int x = 0; x < std::min(image.width(), empty.width()); ++x)
        columns += qRgb(qRed(image.pixel(x, y)), qGreen(image.pixel(x, y)), qBlue(image.pixel(x, y))) !=
                   qRgb(qRed(empty.pixel(x, y)), qGreen(empty.pixel(x, y)), qBlue(empty.pixel(x, y)));
    return columns;
}

// A bar of the same size and look drawn afresh at `percent`.
QImage BarDrawnAt(const QProgressBar& bar, int percent)
{
    QProgressBar twin;
    twin.setRange(0, 100);
    twin.setTextVisible(false);
    twin.setPalette(bar.palette());
    twin.resize(bar.size());
    twin.setValue(percent);
    return twin.grab().toImage();
}

// How far the bar is filled on the screen, in columns, beside how far its
// percent says it should be: what the window last drew, not a fresh paint.
std::pair<int, int> FilledOnScreenAndExpected(const QProgressBar& bar)
{
    QCoreApplication::sendPostedEvents();  // paints asked for so far reach the screen
    const QWidget* window = bar.window();
    const QPoint at = bar.mapTo(window, QPoint(0, 0));
    const QImage screen =
        window->screen()->grabWindow(window->winId(), at.x(), at.y(), bar.width(), bar.height()).toImage();
    const QImage empty = BarDrawnAt(bar, 0);
    const int full = ColumnsDrawnOtherwise(BarDrawnAt(bar, 100), empty);
    return {ColumnsDrawnOtherwise(screen, empty), (full * bar.value() + 50) / 100};
}

class DevsimRunTest : public ::testing::Test {
protected:
    void StartDevice()
    {
        SDevsimConfig config;
        config.baud = 57600;
        config.linkPath = ProgramDirectory() + "ports/com1";
        m_device = std::make_unique<CDevsim>(config);
        m_device->Start();
    }
    // Three firmware targets of 1500 bytes each, remembered as the file.
    void OpenWindowWithThreeTargets()
    {
        mkupd::SUpdateFile file;
        for (unsigned i = 0; i < 3; ++i) {
            mkupd::SUpdateTarget target;
            target.number = i + 1;
            target.name = "board" + std::to_string(i + 1);
            target.data = mkupd::MakeFirmwareBlocks(std::vector<uint8_t>(1500, static_cast<uint8_t>(i)), 100, false);
            file.targets.push_back(target);
        }
        OpenWindow(file);
    }
    void OpenWindow(const mkupd::SUpdateFile& file)
    {
        const std::string path = m_folder.Write("run.upd", mkupd::WriteUpdateFile(file));
        WriteSettingFile(m_folder, path + "\nPort=0\n");
        m_dlg = std::make_unique<CTestUpdateDlg>(m_folder.Path() + "/");
        m_dlg->show();
    }
    bool WaitForIdle()
    {
        return QTest::qWaitFor([&] { return m_dlg->Run().State().m_runState == RunIdle && !m_dlg->ControlsLocked(); },
                               kRunLimitMs);
    }
    void TearDown() override
    {
        if (m_dlg && m_dlg->Run().State().m_runState != RunIdle) {
            m_dlg->Run().RequestCancel();
            EXPECT_TRUE(WaitForIdle());
        }
    }

    CTempFolder m_folder;
    std::unique_ptr<CDevsim> m_device;
    std::unique_ptr<CTestUpdateDlg> m_dlg;
};

TEST_F(DevsimRunTest, RunLocksWindowShowsProgressAndReportsOutcome)
{
    StartDevice();
    OpenWindowWithThreeTargets();
    CTestUpdateDlg& dlg = *m_dlg;
    bool lockedDuringBox = false;
    dlg.m_onMessageBox = [&](const std::string&) { lockedDuringBox = dlg.ControlsLocked(); };

    Button(dlg, res::IDC_UPDATE)->click();
    ASSERT_TRUE(dlg.ControlsLocked()) << (dlg.Messages().empty() ? "" : dlg.Messages().front());
    EXPECT_TRUE(Button(dlg, res::IDC_CANCEL_RUN)->isEnabled());
    EXPECT_FALSE(Button(dlg, res::IDC_UPDATE)->isEnabled());
    EXPECT_FALSE(Button(dlg, res::IDC_EXIT)->isEnabled());
    EXPECT_EQ(dlg.focusWidget(), Button(dlg, res::IDC_CANCEL_RUN));
    dlg.reject();
    EXPECT_TRUE(dlg.isVisible()) << "closing is refused during a run";
    const QString other = QString::fromStdString(WriteTargetsFile(m_folder, "other.upd", 1));
    EXPECT_FALSE(DropUrls(dlg, dlg.rect().center(), {QUrl::fromLocalFile(other)})) << "no file opens during a run";

    // The timer carries the worker's progress into the window: some tick
    // shows a target part-way through.
    bool sawProgress = false;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            for (int row = 0; row < 3 && dlg.ControlsLocked(); ++row) {
                const int value = dlg.ProgressBar(row)->value();
                if (value > 0 && value < 100 && MessageLine(dlg) == "running update")
                    sawProgress = true;
            }
            return dlg.Run().State().m_runState == RunIdle && !dlg.ControlsLocked();
        },
        kRunLimitMs));
    EXPECT_TRUE(sawProgress);

    ASSERT_EQ(dlg.Messages().size(), 1u);
    EXPECT_EQ(dlg.Messages()[0], "3 of 3 targets updated successfully.");
    EXPECT_TRUE(lockedDuringBox);
    EXPECT_EQ(MessageLine(dlg), "3 of 3 targets updated successfully.");
    EXPECT_TRUE(Button(dlg, res::IDC_UPDATE)->isEnabled());
    EXPECT_FALSE(Button(dlg, res::IDC_CANCEL_RUN)->isEnabled());
    EXPECT_FALSE(dlg.Run().State().m_comPort.IsOpen());
    EXPECT_EQ(dlg.Run().State().m_updateFile, nullptr);
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(dlg.ProgressBar(row)->value(), 100);
        EXPECT_EQ(dlg.StatusLabel(row)->text().toStdString(), dlg.Run().State().TargetRowText(row));
    }
    EXPECT_EQ(m_device->Images().size(), 3u);
    EXPECT_EQ(dlg.LastOutcome().ending, ERunEnding::AllUpdated);
    EXPECT_EQ(dlg.LastOutcome().targetsUpdated, 3);
}

TEST_F(DevsimRunTest, ConfirmedCancelEndsWithoutMessageBox)
{
    StartDevice();
    OpenWindowWithThreeTargets();
    CTestUpdateDlg& dlg = *m_dlg;
    Button(dlg, res::IDC_UPDATE)->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dlg.ProgressBar(0)->value() > 0; }, kRunLimitMs));
    Button(dlg, res::IDC_CANCEL_RUN)->click();
    ASSERT_NE(dlg.WarningDlg(), nullptr);
    QPushButton* yes = dlg.WarningDlg()->findChild<QPushButton*>(QStringLiteral("ctl%1").arg(res::IDC_YES));
    yes->click();
    ASSERT_TRUE(WaitForIdle());
    // The target the worker was at when it saw the cancel, and every later one.
    const int current = dlg.Run().State().m_currentTarget;
    EXPECT_TRUE(dlg.Messages().empty());
    EXPECT_EQ(MessageLine(dlg), "Update cancelled by user");
    EXPECT_EQ(dlg.LastOutcome().ending, ERunEnding::Cancelled);
    for (int row = current; row < 3; ++row) {
        const std::string text = dlg.StatusLabel(row)->text().toStdString();
        EXPECT_NE(text.find("% cancelled"), std::string::npos) << row << ": " << text;
    }
    EXPECT_LT(m_device->Images().size(), 3u);
}

// Every refresh draws each bar exactly at its percent, and so does the
// refresh after a cancel: none lags until its value has moved a whole chunk.
TEST_F(DevsimRunTest, BarsAreDrawnAtTheirPercentAtEveryRefreshAndAfterACancel)
{
    StartDevice();
    mkupd::SUpdateTarget target;
    target.number = 1;
    target.name = "board";
    target.data = mkupd::MakeFirmwareBlocks(std::vector<uint8_t>(20000, 0x5A), 200, false);
    OpenWindow({mkupd::FileVersion::V1_01, {target}});
    CTestUpdateDlg& dlg = *m_dlg;
    Button(dlg, res::IDC_UPDATE)->click();
    int samples = 0;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const auto [drawn, expected] = FilledOnScreenAndExpected(*dlg.ProgressBar(0));
            EXPECT_LE(std::abs(drawn - expected), 1) << dlg.ProgressBar(0)->value() << "%";
            samples += dlg.ProgressBar(0)->value() > 0;
            return dlg.ProgressBar(0)->value() >= 40;
        },
        kRunLimitMs));
    Button(dlg, res::IDC_CANCEL_RUN)->click();
    ASSERT_NE(dlg.WarningDlg(), nullptr);
    dlg.WarningDlg()->findChild<QPushButton*>(QStringLiteral("ctl%1").arg(res::IDC_YES))->click();
    ASSERT_TRUE(WaitForIdle());
    EXPECT_NE(dlg.StatusLabel(0)->text().toStdString().find("% cancelled"), std::string::npos);
    const auto [drawn, expected] = FilledOnScreenAndExpected(*dlg.ProgressBar(0));
    EXPECT_LE(std::abs(drawn - expected), 1) << dlg.ProgressBar(0)->value() << "%";
    EXPECT_GT(samples, 3);
}

TEST_F(DevsimRunTest, RunEndingWithTheWarningOpenClosesIt)
{
    StartDevice();
    OpenWindowWithThreeTargets();
    CTestUpdateDlg& dlg = *m_dlg;
    Button(dlg, res::IDC_UPDATE)->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dlg.Run().State().m_deviceAnswered != 0; }, kRunLimitMs));
    Button(dlg, res::IDC_CANCEL_RUN)->click();
    ASSERT_NE(dlg.WarningDlg(), nullptr);
    ASSERT_TRUE(WaitForIdle());
    EXPECT_EQ(dlg.WarningDlg(), nullptr);
    ASSERT_EQ(dlg.Messages().size(), 1u);
    EXPECT_EQ(dlg.Messages()[0], "3 of 3 targets updated successfully.");
    EXPECT_FALSE(Button(dlg, res::IDC_CANCEL_RUN)->isEnabled());
}

// The player asks for its message box on the worker thread; the window
// shows it on its own thread while the worker waits.
TEST_F(DevsimRunTest, WorkerMessageBoxIsShownOnTheWindowThread)
{
    StartDevice();
    mkupd::SUpdateFile file;
    mkupd::SUpdateTarget target;
    target.number = 1;
    target.name = "logic";
    target.type = mkupd::TYPE_XSVF;
    target.data = MakeModelPartProgram(Bytes(16, 0x5A));
    file.targets.push_back(target);
    OpenWindow(file);
    CTestUpdateDlg& dlg = *m_dlg;

    // The trace file cannot be created where a folder has its name.
    CTempFolder workDir;
    ASSERT_EQ(mkdir((workDir.Path() + "/xsvf_debug.txt").c_str(), 0755), 0);
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(workDir.Path().c_str()), 0);
    Button(dlg, res::IDC_UPDATE)->click();
    const bool ended = WaitForIdle();
    ASSERT_EQ(chdir(previous), 0);
    ASSERT_TRUE(ended);

    const std::vector<std::string> boxes = dlg.Messages();
    ASSERT_GE(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "Debugdatei xsvf_debug.txt kann nicht geöffnet werden !");
    EXPECT_EQ(dlg.OffThreadBoxes(), 0);
}

}  // namespace
