#include "OutputFile.h"

#include "StringTable.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace devupdate::res;

namespace devupdate::link {

namespace {

struct SPathParts {
    std::string folder;
    std::string name;
};

SPathParts SplitPath(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return {".", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

std::string CanonicalFolder(const std::string& folder)
{
    char* real = realpath(folder.c_str(), nullptr);
    if (real == nullptr)
        return folder;
    std::string canonical = real;
    std::free(real);
    return canonical;
}

// A name that does not exist yet: its folder's real path and its last part.
// A dangling symbolic link stands for the name it points to.
std::string CanonicalName(const std::string& path)
{
    std::string named = path;
    struct stat info {};
    if (lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        char target[PATH_MAX];
        const ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
        if (length > 0) {
            const std::string text(target, static_cast<size_t>(length));
            named = text[0] == '/' ? text : SplitPath(path).folder + "/" + text;
        }
    }
    const SPathParts parts = SplitPath(named);
    return CanonicalFolder(parts.folder) + "/" + parts.name;
}

std::string KindOf(mode_t mode)
{
    if (S_ISREG(mode))
        return {};
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    if (S_ISDIR(mode))
        return "a folder";
    return "not a regular file";
}

void CloseQuietly(int fd)
{
    (void)close(fd);  // opened for a check or refused: nothing written through it
}

bool ClearNonBlocking(int fd)
{
    const int flags = fcntl(fd, F_GETFL);
    return flags != -1 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

}  // namespace

bool SFileIdentity::SameAs(const SFileIdentity& other) const
{
    if (exists != other.exists)
        return false;
    if (exists)
        return device == other.device && inode == other.inode;
    return !canonicalName.empty() && canonicalName == other.canonicalName;
}

SFileIdentity IdentifyFile(const std::string& path)
{
    SFileIdentity identity;
    struct stat info {};
    if (stat(path.c_str(), &info) == 0) {
        identity.exists = true;
        identity.device = info.st_dev;
        identity.inode = info.st_ino;
    } else {
        identity.canonicalName = CanonicalName(path);
    }
    return identity;
}

void CRunFiles::AddInput(const std::string& role, const std::string& path)
{
    m_files.push_back({role, path, IdentifyFile(path)});
}

std::string CRunFiles::AddOutput(const std::string& role, const std::string& path)
{
    SEntry entry{role, path, IdentifyFile(path)};
    for (const SEntry& other : m_files) {
        if (entry.identity.SameAs(other.identity))
            return res::Format("%s %s is %s %s", role.c_str(), path.c_str(), other.role.c_str(), other.path.c_str());
    }
    m_files.push_back(std::move(entry));
    return {};
}

std::string OutputKindProblem(const std::string& path, bool refuseLinks)
{
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0)
        return {};
    if (S_ISLNK(info.st_mode)) {
        if (refuseLinks)
            return "a symbolic link";
        if (stat(path.c_str(), &info) != 0)
            return {};  // a dangling link: writing creates its target
    }
    return KindOf(info.st_mode);
}

int OpenOutputFile(const std::string& path, int flags, mode_t mode, std::string& error)
{
    // A device is never opened: opening one can already act on it.
    if (std::string kind = OutputKindProblem(path, false); !kind.empty()) {
        error = kind;
        return -1;
    }
    const int common = O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (flags & ~(O_TRUNC | O_ACCMODE));
    int fd = open(path.c_str(), ((flags & O_ACCMODE) == O_RDWR ? O_RDWR : O_WRONLY) | common, mode);
    // A file this user may write but not read is still written.
    if (fd < 0 && errno == EACCES && (flags & O_ACCMODE) == O_RDWR)
        fd = open(path.c_str(), O_WRONLY | common, mode);
    if (fd < 0) {
        error = errno == ENXIO ? "a FIFO without a reader" : errno == EISDIR ? "a folder" : std::strerror(errno);
        return -1;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        error = std::string("fstat: ") + std::strerror(errno);
        CloseQuietly(fd);
        return -1;
    }
    // Replaced by something else since the look above.
    if (std::string kind = KindOf(info.st_mode); !kind.empty()) {
        error = kind;
        CloseQuietly(fd);
        return -1;
    }
    if (((flags & O_TRUNC) != 0 && ftruncate(fd, 0) != 0) || !ClearNonBlocking(fd)) {
        error = std::strerror(errno);
        CloseQuietly(fd);
        return -1;
    }
    return fd;
}

FILE* OpenOutputStream(const std::string& path, std::string& error)
{
    const int fd = OpenOutputFile(path, O_WRONLY | O_CREAT | O_TRUNC, 0666, error);
    if (fd < 0)
        return nullptr;
    FILE* file = fdopen(fd, "wb");
    if (file == nullptr) {
        error = std::string("fdopen: ") + std::strerror(errno);
        CloseQuietly(fd);
    }
    return file;
}

std::string FinishOutput(FILE* file, bool written)
{
    const int writeError = written ? 0 : errno;
    const bool closed = std::fclose(file) == 0;
    if (!written)
        return std::strerror(writeError != 0 ? writeError : EIO);
    return closed ? "" : std::strerror(errno);
}

std::string AppendRecord(int fd, const std::string& record)
{
    struct stat info {};
    if (fstat(fd, &info) != 0)
        return std::string("fstat: ") + std::strerror(errno);
    std::string text = record;
    char last = '\n';
    if (info.st_size > 0 && pread(fd, &last, 1, info.st_size - 1) == 1 && last != '\n')
        text.insert(text.begin(), '\n');  // a fragment left by someone else stays apart
    // One write with O_APPEND: records of runs side by side never interleave.
    ssize_t written = -1;
    do {
        written = write(fd, text.data(), text.size());
    } while (written < 0 && errno == EINTR);
    if (written < 0)
        return std::string("write: ") + std::strerror(errno);
    if (static_cast<size_t>(written) == text.size())
        return {};
    std::string problem = res::Format("write: only %zd of %zu bytes", written, text.size());
    // A second write would only meet the same full disk: the part that fit
    // is cut off again, unless another writer has appended behind it.
    const off_t end = lseek(fd, 0, SEEK_CUR);
    if (end < 0 || fstat(fd, &info) != 0 || info.st_size != end || ftruncate(fd, end - written) != 0)
        return problem + ", and the part written stays in the log";
    return problem;
}

std::string TracePlaceProblem(const std::string& path, const SFileIdentity& updateFile)
{
    struct stat info {};
    if (lstat(path.c_str(), &info) == 0) {
        if (std::string kind = S_ISLNK(info.st_mode) ? "a symbolic link" : KindOf(info.st_mode); !kind.empty())
            return kind;
        if (updateFile.exists && info.st_dev == updateFile.device && info.st_ino == updateFile.inode)
            return "the update file";
        if (faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0)
            return std::strerror(errno);
        return {};
    }
    if (errno != ENOENT)
        return std::strerror(errno);
    const std::string folder = SplitPath(path).folder;
    if (stat(folder.c_str(), &info) != 0)
        return std::strerror(errno);
    if (!S_ISDIR(info.st_mode))
        return std::strerror(ENOTDIR);
    if (faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
        return std::strerror(errno);
    return {};
}

sigset_t RunSignalSet()
{
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        sigaddset(&set, signal);
    return set;
}

FILE* OpenUpdateFile(const std::string& path)
{
    // Without O_NONBLOCK, open() of a FIFO waits for a writer, deaf to
    // every blocked signal.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat info {};
    bool ok = fstat(fd, &info) == 0;
    if (ok && S_ISFIFO(info.st_mode)) {
        pollfd ready{fd, POLLIN, 0};
        if (poll(&ready, 1, 0) != 1) {
            CloseQuietly(fd);
            errno = EAGAIN;
            return nullptr;
        }
    }
    FILE* file = ok && ClearNonBlocking(fd) ? fdopen(fd, "rb") : nullptr;
    if (file == nullptr) {
        const int reason = errno;
        CloseQuietly(fd);
        errno = reason;
    }
    return file;
}

CUpdateFileWait::~CUpdateFileWait()
{
    if (m_fd >= 0)
        CloseQuietly(m_fd);
}

bool CUpdateFileWait::WaitUntilReadable(const std::string& path)
{
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISFIFO(info.st_mode))
        return true;
    m_fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (m_fd < 0)
        return true;  // the run's own open says why
    // A blocked run signal makes the descriptor readable; one with a handler
    // interrupts poll. Nothing is read from it: the signal stays pending.
    const sigset_t signals = RunSignalSet();
    const int signalFd = signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
    pollfd fds[2] = {{m_fd, POLLIN, 0}, {signalFd, POLLIN, 0}};
    for (;;) {
        const int ready = poll(fds, signalFd >= 0 ? 2 : 1, -1);
        if (ready < 0 && errno == EINTR)
            break;
        if (ready < 0 || (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            if (signalFd >= 0)
                CloseQuietly(signalFd);
            return true;
        }
        if (signalFd >= 0 && fds[1].revents != 0)
            break;
    }
    if (signalFd >= 0)
        CloseQuietly(signalFd);
    return false;
}

}  // namespace devupdate::link
