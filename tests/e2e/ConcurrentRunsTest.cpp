// Two runs in one process at the same time, each against a simulated device
// of its own: each run's traffic, trace and outcome are those of the same run
// alone. Packed data and XSVF targets in both files reach what a run owns
// (record buffer, answer counter, JTAG transport).
#include "ModelPartProgram.h"
#include "UpdateRunFixture.h"

#include <cstdio>
#include <fstream>
#include <iterator>

using namespace devupdate;
using namespace devupdate::link;
using namespace devupdate::xsvf;
using namespace devupdate::update;
using namespace devupdate::devsim;
using namespace devupdate::svf;
using namespace devupdate::mkupd;
using namespace devupdate::xsvfgen;

namespace {

struct SRunRecord {
    // Each direction from the start of the update on: the tool's bytes from
    // its start byte, the device's after its "ready". How many wake-up bytes
    // go either way before depends on timing.
    Bytes toolBytes;
    Bytes deviceBytes;
    std::string trace;
    std::string message;
    std::vector<std::string> rows;
    ERunEnding ending = ERunEnding::Failed;
};

Bytes Image(size_t size, uint8_t seed)
{
    Bytes image(size);
    for (size_t i = 0; i < size; ++i)
        image[i] = static_cast<uint8_t>(i % 64 < 40 ? seed : seed + i);  // runs to pack
    return image;
}

// One device and one run, set up the same way whether alone or side by side.
class CRunOnDevice {
public:
    CRunOnDevice(const CTempFolder& folder, const std::string& name, const mkupd::SUpdateFile& file)
        : m_tracePath(folder.Path() + "/" + name + ".txt"), m_device(SDevsimConfig{})
    {
        m_run.SetFileName(folder.Write(name + ".upd", mkupd::WriteUpdateFile(file)));
        m_run.SetTracePath(m_tracePath);
        m_device.Start();
    }

    void Start()
    {
        const std::string line = m_device.SlavePath();
        ASSERT_TRUE(m_run.PrepareRun({line, line}));
        ASSERT_TRUE(m_run.StartRun());
    }
    bool Active() const { return m_run.IsRunActive(); }

    SRunRecord Finish()
    {
        SRunRecord record;
        if (m_run.WorkerReachedBodyEnd()) {
            EXPECT_TRUE(m_device.WaitForSessions(1, std::chrono::seconds(2)));
        }
        const SRunOutcome outcome = m_run.FinishRun();
        record.ending = outcome.ending;
        record.message = outcome.message;
        for (const SRunSnapshot::SRow& row : m_run.Snapshot().rows)
            record.rows.push_back(row.Text());
        bool toolStarted = false;
        bool deviceReady = false;
        for (const STrafficByte& traffic : m_device.Traffic()) {
            if (traffic.fromTool) {
                toolStarted = toolStarted || traffic.byte == CMD_START;
                if (toolStarted)
                    record.toolBytes.push_back(traffic.byte);
            } else if (deviceReady) {
                record.deviceBytes.push_back(traffic.byte);
            } else {
                deviceReady = traffic.byte == ANS_READY;
            }
        }
        std::ifstream in(m_tracePath, std::ios::binary);
        record.trace.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        return record;
    }

private:
    std::string m_tracePath;
    CDevsim m_device;
    CCapturingObserver m_heard;
    CUpdateRun m_run{m_heard};
};

void RunToEnd(std::vector<CRunOnDevice*> runs)
{
    for (CRunOnDevice* run : runs)
        run->Start();
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (;;) {
        bool active = false;
        for (CRunOnDevice* run : runs)
            active = active || run->Active();
        if (!active || std::chrono::steady_clock::now() > limit)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// Where two byte streams part, for the failure message.
std::string FirstDifference(const Bytes& a, const Bytes& b)
{
    size_t at = 0;
    while (at < a.size() && at < b.size() && a[at] == b[at])
        ++at;
    std::string text = "at byte " + std::to_string(at) + " of " + std::to_string(a.size()) + "/" +
                       std::to_string(b.size()) + ":";
    for (const Bytes* bytes : {&a, &b}) {
        text += "\n ";
        for (size_t i = at; i < at + 12 && i < bytes->size(); ++i) {
            char byte[8];
            std::snprintf(byte, sizeof byte, " %02X", (*bytes)[i]);
            text += byte;
        }
    }
    return text;
}

class ConcurrentRunsTest : public UpdateRunFixture {
protected:
    mkupd::SUpdateFile FirmwareFile() const
    {
        mkupd::SUpdateTarget board = Firmware(1, mkupd::MakeFirmwareBlocks(Image(3000, 0x5A), 256, false));
        board.packed = true;
        mkupd::SUpdateTarget logic = Xsvf(2, MakeModelPartProgram(Image(64, 0x21)));
        logic.packed = true;
        return {mkupd::FileVersion::V1_01, {board, logic}};
    }
    mkupd::SUpdateFile XsvfFile() const
    {
        mkupd::SUpdateTarget logic = Xsvf(3, MakeModelPartProgram(Image(200, 0x0F)), "Other");
        logic.packed = true;
        return {mkupd::FileVersion::V1_01, {logic, Firmware(4, mkupd::MakeFirmwareBlocks(Image(500, 0x77), 100, false))}};
    }

    static void ExpectSame(const SRunRecord& alone, const SRunRecord& together, const char* which)
    {
        EXPECT_EQ(alone.ending, ERunEnding::AllUpdated) << which << ": " << alone.message;
        EXPECT_EQ(together.ending, alone.ending) << which;
        EXPECT_EQ(together.message, alone.message) << which;
        EXPECT_EQ(together.rows, alone.rows) << which;
        EXPECT_FALSE(alone.trace.empty()) << which;
        EXPECT_TRUE(together.trace == alone.trace) << which << ": the traces differ";
        EXPECT_GT(alone.toolBytes.size(), 10000u) << which;
        EXPECT_TRUE(together.toolBytes == alone.toolBytes)
            << which << ": the tool's bytes differ " << FirstDifference(alone.toolBytes, together.toolBytes);
        EXPECT_TRUE(together.deviceBytes == alone.deviceBytes)
            << which << ": the device's bytes differ " << FirstDifference(alone.deviceBytes, together.deviceBytes);
    }
};

}  // namespace

TEST_F(ConcurrentRunsTest, TwoRunsSideBySideAreEachTheSameRunAlone)
{
    CTempFolder aloneFolder;
    CTempFolder togetherFolder;
    SRunRecord firmwareAlone;
    SRunRecord xsvfAlone;
    {
        CRunOnDevice firmware(aloneFolder, "firmware", FirmwareFile());
        RunToEnd({&firmware});
        firmwareAlone = firmware.Finish();
    }
    {
        CRunOnDevice xsvf(aloneFolder, "xsvf", XsvfFile());
        RunToEnd({&xsvf});
        xsvfAlone = xsvf.Finish();
    }

    CRunOnDevice firmware(togetherFolder, "firmware", FirmwareFile());
    CRunOnDevice xsvf(togetherFolder, "xsvf", XsvfFile());
    RunToEnd({&firmware, &xsvf});
    ExpectSame(firmwareAlone, firmware.Finish(), "firmware file");
    ExpectSame(xsvfAlone, xsvf.Finish(), "XSVF file");
}
