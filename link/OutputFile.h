#pragma once
// The owner of every file the programs write: the XSVF trace, the run log,
// listings, converted streams, update files, update.cfg, port links and a
// station's kept traces. One set of rules for all of them:
//
// - An output is never an input or another output of the same run. Files
//   that exist are compared by device and inode (so a symbolic or hard link
//   is found out); a name that does not exist yet is compared by its
//   canonical folder and its last part.
// - Nothing here opens a file in a way that can block: outputs are opened
//   with O_NONBLOCK and checked with fstat, and only a regular file is
//   written (a FIFO, a device or a folder is reported as such at once, a
//   device is never even opened). The update file's open never waits either;
//   a FIFO is waited for with poll, and every run signal ends that wait.
// - A log record is appended whole or not at all, on a line of its own.

#include <csignal>
#include <cstdio>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace devupdate::link {

// What a path names, for the comparison of the run's files.
struct SFileIdentity {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    std::string canonicalName;  // for a name that does not exist yet

    bool SameAs(const SFileIdentity& other) const;
};
SFileIdentity IdentifyFile(const std::string& path);

// The inputs and outputs of one run, each with the role it is named by in
// a usage error ("the update file", "the trace", "--log", ...).
class CRunFiles {
public:
    void AddInput(const std::string& role, const std::string& path);
    // Empty when `path` is none of the files added before; else the usage
    // error naming both: "the trace x.upd is the update file x.upd".
    std::string AddOutput(const std::string& role, const std::string& path);

private:
    struct SEntry {
        std::string role;
        std::string path;
        SFileIdentity identity;
    };
    std::vector<SEntry> m_files;
};

// Why an existing name cannot take an output: "a FIFO", "a device", "a
// folder", "a symbolic link" (only when links are refused), "not a regular
// file"; empty for a regular file or a name that does not exist.
std::string OutputKindProblem(const std::string& path, bool refuseLinks);

// Opens an output for writing (flags: O_RDWR, O_APPEND, O_CREAT, O_TRUNC as
// wanted; O_WRONLY unless O_RDWR, O_NONBLOCK, O_NOCTTY and O_CLOEXEC are
// added). Only a regular
// file is opened; O_TRUNC is applied only once the file is known to be one.
// The descriptor is blocking again when returned. -1 with `error` ("a FIFO
// without a reader", "a device", "a folder" or the system's reason).
int OpenOutputFile(const std::string& path, int flags, mode_t mode, std::string& error);

// A whole new content for `path` (created or truncated, mode 0666 before the
// umask, as fopen "wb") by the rules above; nullptr with `error` set.
FILE* OpenOutputStream(const std::string& path, std::string& error);

// Closes a stream of OpenOutputStream: empty when every write (`written`)
// and the close went through, else the system's reason.
std::string FinishOutput(FILE* file, bool written);

// Appends `record` (a line ending in '\n') with one write, whole or not at
// all: after a short write the file is cut back to its length before. When
// the file does not end in a line end, the record starts with one (fd open
// for reading too, else that is not looked at). Empty on
// success, else the problem ("write: No space left on device").
std::string AppendRecord(int fd, const std::string& record);

// Whether the XSVF trace could be created at `path` now, without creating,
// truncating or keeping anything: its folder exists and this user may write
// there (or to the existing file), and the name is no symbolic link, folder,
// FIFO or device, and not `updateFile`. Empty when it can, else why not.
std::string TracePlaceProblem(const std::string& path, const SFileIdentity& updateFile);

// The run signals: SIGINT, SIGTERM, SIGHUP and SIGQUIT.
sigset_t RunSignalSet();

// Opens the update file for reading ("rb") without ever blocking in open:
// a FIFO or pipe is taken only when it can be read at once (data, or its
// writer has gone), anything else as the system opens it. nullptr with errno
// set (EAGAIN: a FIFO not ready).
FILE* OpenUpdateFile(const std::string& path);

// For a FIFO or pipe: waits until it can be read (a writer has written or
// gone), holding it open meanwhile so that the data wait for the run's own
// open. Any run signal, pending while blocked or delivered to a handler,
// ends the wait. Nothing to wait for with any other kind of file.
class CUpdateFileWait {
public:
    CUpdateFileWait() = default;
    ~CUpdateFileWait();
    CUpdateFileWait(const CUpdateFileWait&) = delete;
    CUpdateFileWait& operator=(const CUpdateFileWait&) = delete;

    // False only when a run signal ended the wait (it is left pending).
    bool WaitUntilReadable(const std::string& path);

private:
    int m_fd = -1;
};

}  // namespace devupdate::link
