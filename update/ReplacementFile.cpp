#include "ReplacementFile.h"

#include "OutputFile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

using namespace devupdate::link;

namespace devupdate::update {

namespace {

std::string Failed(const char* operation, const std::string& path)
{
    return std::string(operation) + " " + path + ": " + std::strerror(errno);
}

// A destination that is a symbolic link stays one: its target is replaced.
std::string FollowLink(const std::string& path)
{
    struct stat st{};
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return path;
    char* resolved = realpath(path.c_str(), nullptr);
    if (resolved == nullptr)
        return path;  // a dangling link is replaced itself
    std::string target = resolved;
    std::free(resolved);
    return target;
}

}  // namespace

CReplacementFile::CReplacementFile(std::string destination) : m_destination(std::move(destination)) {}

CReplacementFile::~CReplacementFile()
{
    Discard();
}

bool CReplacementFile::Open(std::string& error)
{
    m_destination = FollowLink(m_destination);
    // A FIFO, device or folder of that name is never replaced by a file.
    if (std::string kind = OutputKindProblem(m_destination, false); !kind.empty()) {
        error = "open " + m_destination + ": " + kind;
        return false;
    }
    m_temporary = m_destination + ".XXXXXX";
    const int fd = mkstemp(m_temporary.data());
    if (fd < 0) {
        error = Failed("mkstemp", m_temporary);
        m_temporary.clear();
        return false;
    }
    // mkstemp makes the file private; the result is an ordinary file.
    const mode_t mask = umask(0);
    umask(mask);
    if (fchmod(fd, 0666 & ~mask) != 0) {
        error = Failed("fchmod", m_temporary);
        close(fd);
        Discard();
        return false;
    }
    m_file = fdopen(fd, "wb");
    if (m_file == nullptr) {
        error = Failed("fdopen", m_temporary);
        close(fd);
        Discard();
        return false;
    }
    // Large outputs go out in large writes; without the buffer they still go out.
    if (std::setvbuf(m_file, nullptr, _IOFBF, 1 << 20) != 0)
        std::fprintf(stderr, "%s\n", Failed("setvbuf", m_temporary).c_str());
    return true;
}

bool CReplacementFile::Write(const void* data, size_t size, std::string& error)
{
    if (m_file == nullptr) {
        error = "write " + m_destination + ": not open";
        return false;
    }
    if (std::fwrite(data, 1, size, m_file) != size) {
        error = Failed("write", m_temporary);
        return false;
    }
    return true;
}

bool CReplacementFile::Commit(std::string& error)
{
    if (m_file == nullptr) {
        error = "write " + m_destination + ": not open";
        return false;
    }
    bool ok = true;
    if (std::fflush(m_file) != 0) {
        error = Failed("write", m_temporary);
        ok = false;
    } else if (fsync(fileno(m_file)) != 0) {
        error = Failed("fsync", m_temporary);
        ok = false;
    }
    FILE* file = std::exchange(m_file, nullptr);
    if (std::fclose(file) != 0 && ok) {
        error = Failed("close", m_temporary);
        ok = false;
    }
    if (ok && std::rename(m_temporary.c_str(), m_destination.c_str()) != 0) {
        error = Failed("rename", m_destination);
        ok = false;
    }
    if (ok)
        m_temporary.clear();
    else
        Discard();
    return ok;
}

void CReplacementFile::Discard()
{
    if (m_file != nullptr)
        std::fclose(std::exchange(m_file, nullptr));  // the file is thrown away: its errors do not matter
    if (!m_temporary.empty() && unlink(m_temporary.c_str()) != 0 && errno != ENOENT)
        std::fprintf(stderr, "%s\n", Failed("unlink", m_temporary).c_str());
    m_temporary.clear();
}

}  // namespace devupdate::update
