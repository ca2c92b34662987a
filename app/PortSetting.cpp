#include "PortSetting.h"

#include "OutputFile.h"
#include "PortName.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace devupdate::link;

namespace {

constexpr char kPortKey[] = "Port=";
constexpr char kSettingFile[] = "update.cfg";

// One line without its LF and a CR right before it; false when the stream
// ends before the line begins.
bool ReadLine(std::istream& in, std::string& line)
{
    if (!std::getline(in, line))
        return false;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return true;
}

bool WriteAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

std::optional<SPortSetting> ParsePortSetting(std::istream& in)
{
    SPortSetting setting;
    std::string portLine;
    if (!ReadLine(in, setting.fileName) || !ReadLine(in, portLine))
        return std::nullopt;
    const size_t key = portLine.find(kPortKey);
    if (key == std::string::npos)
        return std::nullopt;
    const size_t digit = key + std::strlen(kPortKey);
    if (digit >= portLine.size() || portLine[digit] < '0' || portLine[digit] > '9')
        return std::nullopt;
    setting.portIndex = portLine[digit] - '0';
    return setting;
}

std::optional<SPortSetting> ReadPortSettingFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    return ParsePortSetting(in);
}

bool WritePortSettingFile(const std::string& path, const SPortSetting& setting)
{
    std::string text = setting.fileName + "\n";
    char portLine[32];
    std::snprintf(portLine, sizeof portLine, "Port=%d\n", setting.portIndex);
    text += portLine;

    // update.cfg is an output like any other: it never replaces something
    // that is no regular file, nor the update file it names.
    CRunFiles files;
    files.AddInput("the update file", setting.fileName);
    if (!OutputKindProblem(path, false).empty() || !files.AddOutput("update.cfg", path).empty())
        return false;
    std::string temporary = path + ".XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0)
        return false;
    // mkstemp creates the file private to the user; the setting is not secret.
    bool ok = fchmod(fd, 0644) == 0 && WriteAll(fd, text) && fsync(fd) == 0;
    if (close(fd) != 0)
        ok = false;
    if (ok && rename(temporary.c_str(), path.c_str()) != 0)
        ok = false;
    if (!ok && unlink(temporary.c_str()) != 0 && errno != ENOENT)
        std::fprintf(stderr, "update.cfg: unlink %s: %s\n", temporary.c_str(), std::strerror(errno));
    return ok;
}

bool IsPortableProgram(const std::string& programDir, const std::string& installedBinDir)
{
    const std::string program = CanonicalPath(programDir.empty() ? "." : programDir);
    const std::string installed = CanonicalPath(installedBinDir);
    return program.empty() || program != installed;
}

std::string PortSettingReadPath(const std::string& programDir, const std::string& userDir, bool portable)
{
    const std::string beside = programDir + kSettingFile;
    if (!portable && !userDir.empty())
        return userDir + kSettingFile;
    struct stat info {};
    if (stat(beside.c_str(), &info) == 0 || userDir.empty())
        return beside;
    return userDir + kSettingFile;
}

std::string PortSettingWritePath(const std::string& programDir, const std::string& userDir, bool portable)
{
    if (portable && (access(programDir.empty() ? "." : programDir.c_str(), W_OK) == 0 || userDir.empty()))
        return programDir + kSettingFile;
    if (userDir.empty())
        return {};
    std::string error;
    if (!MakePrivateFolders(userDir, error)) {
        std::fprintf(stderr, "update.cfg: %s\n", error.c_str());
        return {};
    }
    return userDir + kSettingFile;
}

std::string PortSettingReadPath(const std::string& programDir, const std::string& userDir)
{
    return PortSettingReadPath(programDir, userDir, IsPortableProgram(programDir, UPDATE_INSTALL_BINDIR));
}

std::string PortSettingWritePath(const std::string& programDir, const std::string& userDir)
{
    return PortSettingWritePath(programDir, userDir, IsPortableProgram(programDir, UPDATE_INSTALL_BINDIR));
}
