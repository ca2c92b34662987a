// The update worker's device side: one fixed update file, the device's
// answers from the input, the worker run to its end on this thread.

#include "FakeSerialLine.h"
#include "FuzzCheck.h"
#include "FuzzHarnesses.h"
#include "FuzzWorkDir.h"
#include "StringTable.h"
#include "UpdateFileWriter.h"
#include "UpdateRun.h"
#include "UpdateThread.h"
#include "XsvfWriter.h"

#include <cstdio>
#include <fstream>
#include <set>
#include <string>

using namespace devupdate;
using namespace devupdate::link;
using namespace devupdate::xsvf;
using namespace devupdate::res;
using namespace devupdate::update;
using namespace devupdate::mkupd;
using namespace devupdate::xsvfgen;

namespace {

class CQuietObserver final : public CRunObserver {
public:
    void ShowMessageBox(const std::string& text) override { boxes.push_back(text); }
    std::vector<std::string> boxes;
};

// Firmware in blocks, an XSVF target with a checked shift (so mismatches,
// read-backs and retries happen), a type the tool skips, packed firmware.
std::vector<uint8_t> MakeFixedFile()
{
    std::vector<uint8_t> image(40);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i * 37);
    CXsvfWriter xsvf;
    xsvf.Repeat(2).RunTest(0).SdrSize(16).TdoMask(0xFFFF).Sir(8, {0x01}).SdrTdo(0x1234, 0x00FF);
    xsvf.RunTest(1000).Sdr(0xFFFF).Complete();

    mkupd::SUpdateFile file;
    file.version = mkupd::FileVersion::V1_01;
    mkupd::SUpdateTarget target;
    target.number = 1;
    target.name = "Controller";
    target.data = mkupd::MakeFirmwareBlocks(image, 16, false);
    file.targets.push_back(target);
    target.number = 2;
    target.name = "Logic";
    target.type = mkupd::TYPE_XSVF;
    target.data = xsvf.Stream();
    file.targets.push_back(target);
    target.number = 3;
    target.name = "Other";
    target.type = 0x1234;
    target.data = {1, 2, 3, 4};
    file.targets.push_back(target);
    target.number = 4;
    target.name = "Packed";
    target.type = mkupd::TYPE_FIRMWARE;
    target.packed = true;
    target.data = mkupd::MakeFirmwareBlocks(std::vector<uint8_t>(300, 0xFF), 200, false);
    file.targets.push_back(target);
    return mkupd::WriteUpdateFile(file);
}

const std::string& FixedFilePath()
{
    static const std::string path = [] {
        const std::string name = FuzzWorkDir() + "/fixed.upd";
        const std::vector<uint8_t> bytes = MakeFixedFile();
        std::ofstream out(name, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        FUZZ_CHECK(out.good());
        return name;
    }();
    return path;
}

void CheckRows(const CUpdateRunState& run)
{
    static const std::set<std::string> statuses = {
        "",
        res::LoadString(res::IDS_UNSUCCESSFUL),
        res::LoadString(res::IDS_MISSING_TARGET),
        res::LoadString(res::IDS_UPDATE_UNKNOWN),
        res::LoadString(res::IDS_CANCELLED),
    };
    for (int i = 0; i < MAX_TARGETS; ++i) {
        const int percent = run.m_targetResult[i].percent;
        FUZZ_CHECK(percent >= 0 && percent <= 100);
        FUZZ_CHECK(statuses.count(run.TargetStatus(i)) == 1);
    }
}

// A success has every record it lists updated; the count agrees with them.
void CheckOutcome(const SRunOutcome& outcome)
{
    int updated = 0;
    for (const SRecordOutcome& record : outcome.records)
        updated += record.result == ERecordResult::Updated ? 1 : 0;
    FUZZ_CHECK(updated == outcome.targetsUpdated);
    if (outcome.Succeeded())
        FUZZ_CHECK(outcome.bodyComplete && updated == static_cast<int>(outcome.records.size()));
}

// "N of M targets updated successfully." with N never more than M, and the
// end byte as the last thing sent, unless the line was gone or stalled: the
// worker does not check its writes (an unplugged device in the selection
// only fails the targets one by one).
void CheckFinalMessage(CUpdateRunState& run, const CFakeSerialLine& line)
{
    int updated = -1;
    int total = -1;
    char rest = 0;
    const std::string message = run.Message();
    if (std::sscanf(message.c_str(), "%d of %d targets updated successfully%c", &updated, &total, &rest) != 3)
        return;
    FUZZ_CHECK(rest == '.');
    FUZZ_CHECK(total == static_cast<int>(run.m_targetCount));
    FUZZ_CHECK(updated >= 0 && updated <= total);
    if (!run.m_comPort.IsGone() && !line.HasStalled())
        FUZZ_CHECK(!line.Writes().empty() && line.Writes().back() == std::vector<uint8_t>{CMD_END});
}

}  // namespace

int FuzzUpdateWorker(const uint8_t* data, size_t size)
{
    CScopedWorkDir folder;
    CFakeSerialLine line(data, size);
    CScopedSysCalls seam(line);
    CQuietObserver heard;
    CUpdateRun owner(heard);
    CUpdateRunState& run = owner.State();
    run.m_fileName = FixedFilePath();
    const CUpdateRunState::SCheckResult check = run.CheckUpdateFileHeader();
    FUZZ_CHECK(check.ok);
    FUZZ_CHECK(run.m_comPort.Open("/dev/fuzz-line", 57600, 2000));
    run.ResetRunResults();
    // The front end's cancel: unconfirmed before the device answered,
    // confirmed (with its texts) afterwards.
    line.OnCancel = [&run] {
        if (run.m_deviceAnswered == 0)
            run.RequestCancel();
        else
            run.ConfirmCancel();
    };
    run.m_runState = RunActive;
    UpdateThread(&run);

    const int state = run.m_runState;
    FUZZ_CHECK(state == RunEnded || state == RunEndedWithMessage);
    if (state == RunEndedWithMessage)
        FUZZ_CHECK(!run.Message().empty());
    CheckRows(run);
    CheckFinalMessage(run, line);
    const SRunOutcome outcome = owner.FinishRun();
    CheckOutcome(outcome);
    FUZZ_CHECK(!line.IsOpen());
    FUZZ_CHECK(run.m_updateFile == nullptr);
    return 0;
}
