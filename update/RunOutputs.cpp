#include "RunOutputs.h"

#include "OutputFile.h"
#include "UpdateRunState.h"
#include "XsvfTrace.h"

#include <sys/stat.h>

using namespace devupdate::link;
using namespace devupdate::xsvf;

namespace devupdate::update {

bool BodyMayHoldXsvf(FILE* file, EFileVersion version)
{
    const off_t start = ftello(file);
    if (start < 0)
        return true;
    bool xsvf = false;
    SRecordHeader header;
    // As far as the body is readable: the run ends where it is not.
    while (!xsvf && ReadRecordNumber(file, header.number) && header.number != 0 &&
           ReadRecordHeader(file, version, header)) {
        xsvf = header.type == TARGET_XSVF;
        if (!SkipRecordData(file, version, header.length))
            break;
    }
    clearerr(file);
    return fseeko(file, start, SEEK_SET) != 0 || xsvf;
}

bool UpdateFileMayHoldXsvf(const std::string& path)
{
    struct stat info {};
    if (stat(path.c_str(), &info) != 0)
        return false;
    if (S_ISFIFO(info.st_mode))
        return true;
    if (!S_ISREG(info.st_mode))
        return false;
    CUpdateRunState probe;
    probe.m_fileName = path;
    return probe.CheckUpdateFileHeader().ok && BodyMayHoldXsvf(probe.m_updateFile, probe.m_fileVersion);
}

std::string RunOutputsClash(const std::string& updateFile, const std::string& log,
                            const std::vector<std::string>& traces)
{
    CRunFiles files;
    files.AddInput("the update file", updateFile);
    if (!log.empty()) {
        if (std::string clash = files.AddOutput("the log", log); !clash.empty())
            return clash;
    }
    if (traces.empty() || !UpdateFileMayHoldXsvf(updateFile))
        return {};
    for (const std::string& trace : traces) {
        if (std::string clash = files.AddOutput("the trace", trace); !clash.empty())
            return clash;
    }
    return {};
}

std::string TracePreflightFailure(FILE* updateFile, EFileVersion version, const std::string& tracePath)
{
    if (updateFile == nullptr || !BodyMayHoldXsvf(updateFile, version))
        return {};
    struct stat info {};
    SFileIdentity input;
    if (fstat(fileno(updateFile), &info) == 0) {
        input.exists = true;
        input.device = info.st_dev;
        input.inode = info.st_ino;
    }
    const std::string path = tracePath.empty() ? std::string(CXsvfTrace::FILE_NAME) : tracePath;
    if (TracePlaceProblem(path, input).empty())
        return {};
    return TraceOpenFailureText(path);
}

}  // namespace devupdate::update
