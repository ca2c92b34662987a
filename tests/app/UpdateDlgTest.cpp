// The main window at start-up, its setting file, file selection and the
// geometry of the run display.

#include "DialogBuilder.h"
#include "StringTable.h"
#include "TestUpdateDlg.h"

#include <QGroupBox>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>

using namespace devupdate;
using namespace devupdate::link;
using namespace devupdate::xsvf;
using namespace devupdate::res;
using namespace devupdate::update;
using namespace devupdate::mkupd;

namespace {

class UpdateDlgTest : public ::testing::Test {
protected:
    CTestUpdateDlg& Start()
    {
        m_dlg = std::make_unique<CTestUpdateDlg>(ProgramDir());
        m_dlg->show();
        return *m_dlg;
    }
    std::string ProgramDir() const { return m_folder.Path() + "/"; }
    std::string Setting() const { return ReadWholeFile(m_folder.Path() + "/update.cfg"); }

    CTempFolder m_folder;
    std::unique_ptr<CTestUpdateDlg> m_dlg;
};

bool HeadersShown(const CUpdateDlg& dlg)
{
    return !dlg.Control(res::IDC_HEADER_STATUS)->isHidden() &&
           !dlg.Control(res::IDC_HEADER_PROGRESS)->isHidden() &&
           !dlg.Control(res::IDC_HEADER_APPLICATION)->isHidden();
}

bool HeadersHidden(const CUpdateDlg& dlg)
{
    return dlg.Control(res::IDC_HEADER_STATUS)->isHidden() &&
           dlg.Control(res::IDC_HEADER_PROGRESS)->isHidden() &&
           dlg.Control(res::IDC_HEADER_APPLICATION)->isHidden();
}

// ---- start-up ----------------------------------------------------------------

TEST_F(UpdateDlgTest, FirstStartWithoutSettingFile)
{
    CTestUpdateDlg& dlg = Start();
    EXPECT_EQ(dlg.windowTitle().toStdString(), "Update V1.5");
    QComboBox* ports = PortList(dlg);
    ASSERT_EQ(ports->count(), 10);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(ports->itemText(i).toStdString(), "Com" + std::to_string(i + 1));
    EXPECT_EQ(ports->currentIndex(), 0);
    EXPECT_FALSE(Button(dlg, res::IDC_CANCEL_RUN)->isEnabled());
    EXPECT_TRUE(Button(dlg, res::IDC_UPDATE)->isEnabled());
    EXPECT_TRUE(dlg.Control(res::IDC_OPEN)->isHidden());
    EXPECT_TRUE(HeadersHidden(dlg));
    EXPECT_EQ(RowCount(dlg), 0);
    EXPECT_EQ(Edit(dlg, res::IDC_FILE_EDIT)->text().toStdString(), "");
    EXPECT_EQ(MessageLine(dlg), res::LoadString(res::IDS_IDLE_HINT));
    EXPECT_TRUE(dlg.Messages().empty());
    EXPECT_EQ(dlg.focusWidget(), PortList(dlg));
}

TEST_F(UpdateDlgTest, RememberedValidFileShowsItsRowsAtStart)
{
    const std::string file = WriteTargetsFile(m_folder, "three.upd", 3);
    WriteSettingFile(m_folder, file + "\nPort=4\n");
    CTestUpdateDlg& dlg = Start();
    EXPECT_TRUE(dlg.Messages().empty());
    EXPECT_EQ(Edit(dlg, res::IDC_FILE_EDIT)->text().toStdString(), file);
    EXPECT_EQ(PortList(dlg)->currentIndex(), 4);
    ASSERT_EQ(RowCount(dlg), 3);
    EXPECT_TRUE(HeadersShown(dlg));
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(dlg.NameLabel(row)->text().toStdString(), dlg.Run().State().m_targetName[row]);
        EXPECT_NE(dlg.Run().State().m_targetName[row].find("name" + std::to_string(row + 1)), std::string::npos);
        EXPECT_EQ(dlg.StatusLabel(row)->text().toStdString(), "0%");
        EXPECT_EQ(dlg.ProgressBar(row)->value(), 0);
    }
    EXPECT_EQ(dlg.Run().State().m_updateFile, nullptr) << "the start-up check closes the file";
}

// A name from the file cannot smuggle control characters into the row.
TEST_F(UpdateDlgTest, RowShowsControlCharactersOfANameAsEscapes)
{
    mkupd::SUpdateTarget target;
    target.name = "\x1b]2;owned\x07" "Board";
    target.data = mkupd::MakeFirmwareBlocks(std::vector<uint8_t>(4, 0), 4, false);
    const std::string file = m_folder.Write("named.upd", mkupd::WriteUpdateFile({mkupd::FileVersion::V1_01, {target}}));
    WriteSettingFile(m_folder, file + "\nPort=0\n");
    CTestUpdateDlg& dlg = Start();
    ASSERT_EQ(RowCount(dlg), 1);
    EXPECT_EQ(dlg.NameLabel(0)->text().toStdString(), " \\x1b]2;owned\\x07Board\n");
}

TEST_F(UpdateDlgTest, SettingInTheUsersFolderServesWhenNoneIsBesideTheProgram)
{
    const std::string userDir = std::getenv("XDG_CONFIG_HOME") + std::string("/update");
    std::filesystem::create_directories(userDir);
    std::ofstream(userDir + "/update.cfg") << "\nPort=6\n";
    CTestUpdateDlg& dlg = Start();
    EXPECT_EQ(PortList(dlg)->currentIndex(), 6);
    std::filesystem::remove(userDir + "/update.cfg");
}

TEST_F(UpdateDlgTest, RememberedMissingFileShowsNotFoundAndKeepsName)
{
    const std::string missing = m_folder.Path() + "/gone.upd";
    WriteSettingFile(m_folder, missing + "\nPort=1\n");
    CTestUpdateDlg& dlg = Start();
    ASSERT_EQ(dlg.Messages().size(), 1u);
    EXPECT_EQ(dlg.Messages()[0], "Error: File '" + missing + "' not found.\n");
    EXPECT_EQ(Edit(dlg, res::IDC_FILE_EDIT)->text().toStdString(), missing);
    EXPECT_EQ(RowCount(dlg), 0);
    EXPECT_TRUE(HeadersHidden(dlg));
}

struct SSettingCase {
    const char* label;
    std::string text;
    std::string shownFile;  // "-" stands for the test's "name.upd" path
    int port;
};

class UpdateDlgSettingTest : public UpdateDlgTest, public ::testing::WithParamInterface<SSettingCase> {};

TEST_P(UpdateDlgSettingTest, StartsWithFileAndPortOfTheSetting)
{
    const SSettingCase& c = GetParam();
    const std::string file = WriteTargetsFile(m_folder, "name.upd", 1);
    std::string text = c.text;
    if (const size_t at = text.find('-'); at == 0)
        text.replace(0, 1, file);
    WriteSettingFile(m_folder, text);
    CTestUpdateDlg& dlg = Start();
    EXPECT_EQ(Edit(dlg, res::IDC_FILE_EDIT)->text().toStdString(), c.shownFile == "-" ? file : c.shownFile);
    EXPECT_EQ(PortList(dlg)->currentIndex(), c.port);
    EXPECT_TRUE(dlg.Messages().empty()) << "no file check message at start-up";
    EXPECT_EQ(RowCount(dlg), c.shownFile.empty() ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, UpdateDlgSettingTest,
    ::testing::Values(SSettingCase{"Com10", "-\nPort=9\n", "-", 9},
                      SSettingCase{"OneDigitOnly", "-\nPort=12\n", "-", 1},
                      SSettingCase{"KeyInsideLine", "-\nspeed 5 Port=3\n", "-", 3},
                      SSettingCase{"KeyOnly", "-\nPort=\n", "", 0},
                      SSettingCase{"NotADigit", "-\nPort=x\n", "", 0},
                      SSettingCase{"LowerCaseKey", "-\nport=3\n", "", 0},
                      SSettingCase{"NoSecondLine", "-\n", "", 0},
                      SSettingCase{"EmptyFileLine", "\nPort=6\n", "", 6}),
    [](const ::testing::TestParamInfo<SSettingCase>& info) { return std::string(info.param.label); });

// ---- closing -----------------------------------------------------------------

TEST_F(UpdateDlgTest, ClosingWithoutSettingCreatesIt)
{
    CTestUpdateDlg& dlg = Start();
    dlg.reject();  // the close box
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(Setting(), "\nPort=0\n");
}

TEST_F(UpdateDlgTest, ExitTakesTypedNameAndPort)
{
    CTestUpdateDlg& dlg = Start();
    PortList(dlg)->setCurrentIndex(2);
    Edit(dlg, res::IDC_FILE_EDIT)->setText("/fw/dev.upd");
    Button(dlg, res::IDC_EXIT)->click();
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(Setting(), "/fw/dev.upd\nPort=2\n");
}

TEST_F(UpdateDlgTest, CloseBoxKeepsNameOfTheLastTransfer)
{
    WriteSettingFile(m_folder, "\nPort=0\n");
    CTestUpdateDlg& dlg = Start();
    Edit(dlg, res::IDC_FILE_EDIT)->setText("/typed/but/never/taken.upd");
    dlg.reject();
    EXPECT_EQ(Setting(), "\nPort=0\n");
}

// ---- file selection ----------------------------------------------------------

TEST_F(UpdateDlgTest, BrowseWithEmptyFieldStartsInProgramFolder)
{
    CTestUpdateDlg& dlg = Start();
    Button(dlg, res::IDC_BROWSE)->click();
    ASSERT_EQ(dlg.m_fileDialogStarts.size(), 1u);
    EXPECT_EQ(dlg.m_fileDialogStarts[0], ProgramDir() + "*.upd");
    EXPECT_TRUE(dlg.Messages().empty());
}

TEST_F(UpdateDlgTest, BrowseWithFolderRewritesTheName)
{
    CTestUpdateDlg& dlg = Start();
    Edit(dlg, res::IDC_FILE_EDIT)->setText(QString::fromStdString(m_folder.Path() + "//"));
    Button(dlg, res::IDC_BROWSE)->click();
    ASSERT_EQ(dlg.m_fileDialogStarts.size(), 1u);
    EXPECT_EQ(dlg.m_fileDialogStarts[0], m_folder.Path() + "/*.upd");
    EXPECT_EQ(dlg.Run().State().m_fileName, m_folder.Path() + "/*.upd");
}

TEST_F(UpdateDlgTest, BrowseFromMissingFolderRetriesInProgramFolder)
{
    CTestUpdateDlg& dlg = Start();
    Edit(dlg, res::IDC_FILE_EDIT)->setText(QString::fromStdString(m_folder.Path() + "/no/such/dev.upd"));
    Button(dlg, res::IDC_BROWSE)->click();
    ASSERT_EQ(dlg.m_fileDialogStarts.size(), 1u);
    EXPECT_EQ(dlg.m_fileDialogStarts[0], ProgramDir() + "*.upd");
}

TEST_F(UpdateDlgTest, ChosenFileIsCheckedAndShown)
{
    const std::string file = WriteTargetsFile(m_folder, "three.upd", 3);
    CTestUpdateDlg& dlg = Start();
    dlg.m_fileDialogAnswers.push_back(file);
    Button(dlg, res::IDC_BROWSE)->click();
    EXPECT_EQ(Edit(dlg, res::IDC_FILE_EDIT)->text().toStdString(), file);
    EXPECT_EQ(RowCount(dlg), 3);
    EXPECT_TRUE(HeadersShown(dlg));
    EXPECT_EQ(dlg.Run().State().m_updateFile, nullptr);
    EXPECT_TRUE(dlg.Messages().empty());

    // Cancelling the next dialog keeps rows and name.
    dlg.m_fileDialogAnswers.push_back(std::nullopt);
    Button(dlg, res::IDC_BROWSE)->click();
    EXPECT_EQ(Edit(dlg, res::IDC_FILE_EDIT)->text().toStdString(), file);
    EXPECT_EQ(RowCount(dlg), 3);
}

TEST_F(UpdateDlgTest, ChosenFileThatIsNoUpdateFileShowsWrongFormat)
{
    const std::string file = m_folder.Write("notes.upd", "just some text\n");
    CTestUpdateDlg& dlg = Start();
    dlg.m_fileDialogAnswers.push_back(file);
    Button(dlg, res::IDC_BROWSE)->click();
    ASSERT_EQ(dlg.Messages().size(), 1u);
    EXPECT_EQ(dlg.Messages()[0], "Error: wrong Fileformat in " + file + ".\n");
    EXPECT_EQ(RowCount(dlg), 0);
    EXPECT_TRUE(HeadersHidden(dlg));
}

// ---- run display geometry ----------------------------------------------------

class RunDisplayGeometry : public UpdateDlgTest {
protected:
    void SetUp() override
    {
        const res::SDialogTemplate& dialog = RequireDialogTemplate(res::IDD_UPDATE_DIALOG);
        const CDialogUnits units(DialogFont(dialog));
        m_templateHeight = units.Y(dialog.height);
        const res::SDialogControl* group = res::FindDialogControl(dialog, res::IDC_UPDATE_INFO);
        m_templateGroupHeight = units.Rect(group->x, group->y, group->w, group->h).height();
    }
    void Check(CTestUpdateDlg& dlg, const std::string& file)
    {
        Edit(dlg, res::IDC_FILE_EDIT)->setText(QString::fromStdString(file));
        dlg.OnOpenButton();
    }
    int GroupHeight(const CUpdateDlg& dlg) const { return dlg.Control(res::IDC_UPDATE_INFO)->height(); }

    int m_templateHeight = 0;
    int m_templateGroupHeight = 0;
};

TEST_F(RunDisplayGeometry, NoTargetsKeepsTemplateSizeAndGroupFiveTaller)
{
    CTestUpdateDlg& dlg = Start();
    EXPECT_EQ(dlg.height(), m_templateHeight);
    EXPECT_EQ(GroupHeight(dlg), m_templateGroupHeight + 5);
}

TEST_F(RunDisplayGeometry, WindowGrowsPerTarget)
{
    const std::string one = WriteTargetsFile(m_folder, "one.upd", 1);
    const std::string ten = WriteTargetsFile(m_folder, "ten.upd", 10);
    CTestUpdateDlg& dlg = Start();
    Check(dlg, one);
    EXPECT_EQ(dlg.height() - m_templateHeight, 25);
    EXPECT_EQ(GroupHeight(dlg) - m_templateGroupHeight, 30);
    Check(dlg, ten);
    EXPECT_EQ(dlg.height() - m_templateHeight, 250);
    EXPECT_EQ(GroupHeight(dlg) - m_templateGroupHeight, 255);
    EXPECT_EQ(RowCount(dlg), 10);
    for (int row = 0; row < 10; ++row) {
        EXPECT_EQ(dlg.ProgressBar(row)->property("controlId").toInt(), 1020 + row);
        EXPECT_EQ(dlg.ProgressBar(row)->objectName().toStdString(), "ctl" + std::to_string(1020 + row));
        EXPECT_FALSE(dlg.NameLabel(row)->property("controlId").isValid());
        EXPECT_EQ(dlg.ProgressBar(row)->maximum(), 100);
    }
}

TEST_F(RunDisplayGeometry, RowsStackBelowTheInitialGroupEdge)
{
    const std::string file = WriteTargetsFile(m_folder, "three.upd", 3);
    CTestUpdateDlg& dlg = Start();
    Check(dlg, file);
    const QWidget* group = dlg.Control(res::IDC_UPDATE_INFO);
    const QWidget* status = dlg.Control(res::IDC_HEADER_STATUS);
    const QWidget* progress = dlg.Control(res::IDC_HEADER_PROGRESS);
    for (int row = 0; row < 3; ++row) {
        const QRect bar = dlg.ProgressBar(row)->geometry();
        const QRect text = dlg.StatusLabel(row)->geometry();
        EXPECT_EQ(dlg.ProgressBar(row)->parentWidget(), group);
        EXPECT_EQ(bar.top(), m_templateGroupHeight + 25 * row);
        EXPECT_EQ(bar.height(), 20);
        EXPECT_EQ(bar.left(), progress->x() - group->x());
        EXPECT_EQ(bar.left() + bar.width(), status->x() - group->x() - 10);
        EXPECT_EQ(text.left(), status->x() - group->x());
        EXPECT_EQ(text.left() + text.width(), group->width() - 2);
    }
}

TEST_F(RunDisplayGeometry, SecondFileWithFewerTargetsLeavesOnlyItsRows)
{
    const std::string three = WriteTargetsFile(m_folder, "three.upd", 3);
    const std::string one = WriteTargetsFile(m_folder, "one.upd", 1);
    CTestUpdateDlg& dlg = Start();
    Check(dlg, three);
    Check(dlg, one);
    EXPECT_EQ(RowCount(dlg), 1);
    EXPECT_EQ(dlg.findChildren<QProgressBar*>().size(), 1);
    EXPECT_EQ(dlg.height() - m_templateHeight, 25);
}

TEST_F(RunDisplayGeometry, FailedCheckShowsNothingAndKeepsHeight)
{
    const std::string three = WriteTargetsFile(m_folder, "three.upd", 3);
    CTestUpdateDlg& dlg = Start();
    Check(dlg, three);
    Check(dlg, m_folder.Path() + "/missing.upd");
    EXPECT_EQ(RowCount(dlg), 0);
    EXPECT_TRUE(dlg.findChildren<QProgressBar*>().isEmpty());
    EXPECT_TRUE(HeadersHidden(dlg));
    EXPECT_EQ(dlg.height() - m_templateHeight, 75);
    EXPECT_EQ(GroupHeight(dlg), m_templateGroupHeight);
}

TEST_F(RunDisplayGeometry, RowsShowPercentAndStatusDuringARun)
{
    const std::string file = WriteTargetsFile(m_folder, "one.upd", 1);
    CTestUpdateDlg& dlg = Start();
    Check(dlg, file);
    dlg.Run().State().m_targetResult[0].percent = 37;
    dlg.Run().State().SetTargetStatus(0, "cancelled");
    dlg.UpdateData(false);
    EXPECT_EQ(dlg.StatusLabel(0)->text().toStdString(), "0%") << "rows refresh only while a run is on";
    dlg.Run().State().m_runState = RunActive;
    dlg.UpdateData(false);
    dlg.Run().State().m_runState = RunIdle;
    EXPECT_EQ(dlg.StatusLabel(0)->text().toStdString(), "37% cancelled");
    EXPECT_EQ(dlg.ProgressBar(0)->value(), 37);
}

}  // namespace
