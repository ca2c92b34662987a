// The update file as the worker reads it, with a device that accepts every
// selection and every block.

#include "FuzzCheck.h"
#include "FuzzHarnesses.h"
#include "UpdateFileReader.h"
#include "UpdateRunState.h"

#include <string>
#include <sys/mman.h>
#include <unistd.h>

using namespace devupdate::link;
using namespace devupdate::xsvf;
using namespace devupdate::update;

namespace {

// One in-memory file, rewritten for every input and opened by its
// /proc/self/fd name as the check opens any update file.
class CMemoryFile {
public:
    CMemoryFile()
    {
        m_fd = memfd_create("update-fuzz", 0);
        if (m_fd < 0)
            FuzzFail("memfd_create failed", __FILE__, __LINE__);
        m_path = "/proc/self/fd/" + std::to_string(m_fd);
    }
    ~CMemoryFile()
    {
        if (close(m_fd) != 0)
            std::perror("close");
    }
    CMemoryFile(const CMemoryFile&) = delete;
    CMemoryFile& operator=(const CMemoryFile&) = delete;

    const std::string& Fill(const uint8_t* data, size_t size)
    {
        FUZZ_CHECK(ftruncate(m_fd, 0) == 0);
        size_t done = 0;
        while (done < size) {
            const ssize_t n = pwrite(m_fd, data + done, size - done, static_cast<off_t>(done));
            FUZZ_CHECK(n > 0);
            done += static_cast<size_t>(n);
        }
        return m_path;
    }

private:
    int m_fd = -1;
    std::string m_path;
};

bool ReadByte(CUpdateRunState& run, uint8_t& out)
{
    const bool ok = run.ReadDataByte(out);
    FUZZ_CHECK(run.m_dataConsumed <= run.m_dataLength);
    FUZZ_CHECK(!run.m_dataEnd || run.m_dataConsumed == run.m_dataLength);
    return ok;
}

void CheckProgress(CUpdateRunState& run)
{
    run.UpdateProgress();
    const int index = run.m_currentTarget;
    if (index >= 0 && index < MAX_TARGETS) {
        const int percent = run.m_targetResult[index].percent;
        FUZZ_CHECK(percent >= 0 && percent <= 100);
    }
}

// Blocks as the download loads them: count (2 bytes), then that many bytes.
// False when the file is malformed (the run would end with message 112).
bool ReadFirmware(CUpdateRunState& run)
{
    for (;;) {
        uint8_t high = 0;
        uint8_t low = 0;
        if (!ReadByte(run, high) || !ReadByte(run, low))
            return false;
        const unsigned count = (unsigned{high} << 8) | low;
        if (count > MAX_BLOCK_PAYLOAD)
            return false;
        for (unsigned i = 0; i < count; ++i) {
            uint8_t byte = 0;
            if (!ReadByte(run, byte))
                return false;
        }
        CheckProgress(run);
        if (run.m_dataEnd)
            return true;
    }
}

// The player reads the stream byte by byte until it has what it needs; here
// until the reader says there is no more.
void ReadXsvf(CUpdateRunState& run)
{
    uint8_t byte = 0;
    uint64_t delivered = 0;
    while (ReadByte(run, byte)) {
        ++delivered;
        if (delivered % 64 == 0)
            CheckProgress(run);
    }
    // A packed byte stands for at most 127 bytes of data.
    FUZZ_CHECK(delivered <= uint64_t{run.m_dataLength} * 127);
    if ((run.m_targetFlags & 1) == 0)
        FUZZ_CHECK(delivered <= run.m_dataLength);
}

void ReadBody(CUpdateRunState& run)
{
    unsigned number = 0;
    if (!ReadRecordNumber(run.m_updateFile, number))
        return;
    while (number != 0) {
        SRecordHeader header;
        if (!run.LoadRecordHeader(header))
            return;
        if (run.m_targetType == TARGET_FIRMWARE) {
            if (!ReadFirmware(run))
                return;
        } else if (run.m_targetType == TARGET_XSVF) {
            ReadXsvf(run);
        }
        if (!run.SkipTargetRest())
            return;
        run.m_currentTarget += 1;
        if (!ReadRecordNumber(run.m_updateFile, number))
            return;
    }
}

}  // namespace

int FuzzUpdateFile(const uint8_t* data, size_t size)
{
    static CMemoryFile file;
    CUpdateRunState run;
    run.m_fileName = file.Fill(data, size);
    const CUpdateRunState::SCheckResult check = run.CheckUpdateFileHeader();
    if (!check.ok) {
        FUZZ_CHECK(!check.message.empty());
        FUZZ_CHECK(run.m_updateFile == nullptr);
        return 0;
    }
    FUZZ_CHECK(run.m_targetCount <= MAX_TARGETS);
    FUZZ_CHECK(run.m_fileVersion == EFileVersion::V1_00 || run.m_fileVersion == EFileVersion::V1_01);
    for (unsigned i = 0; i < run.m_targetCount; ++i)
        FUZZ_CHECK(run.m_targetName[i].size() <= MAX_LINE_CHARS);
    ReadBody(run);
    run.CloseUpdateFile();
    return 0;
}
