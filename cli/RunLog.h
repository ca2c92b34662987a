#pragma once
// update-cli --log FILE: one JSON line appended per run, for production
// records: when it started, which program, port and device, which file (size
// and SHA-256), what became of every record, the final message and the exit
// status. The log is opened before the run; a log that cannot be opened or
// written is reported once on standard error and never stops the run.

#include "JsonEvents.h"
#include "RunOutcome.h"

#include <chrono>
#include <string>

class CRunLog {
public:
    // Opens `path` for appending (nothing when empty) and notes the start
    // time and the update file's size and SHA-256 (a regular file only).
    CRunLog(const std::string& path, const std::string& updateFile);
    ~CRunLog();
    CRunLog(const CRunLog&) = delete;
    CRunLog& operator=(const CRunLog&) = delete;

    // The port as given, the device it reached (empty: none) and the
    // adapter's serial number (empty: none known).
    void SetPort(const std::string& port, const std::string& device, const std::string& serialNumber);
    // The update file's signature as the record names it (default null).
    void SetSignature(devupdate::update::JsonObject signature) { m_signature = std::move(signature); }
    // Appends the run's record with one write. Returns the problem to report
    // (empty when written or when there is no log); reported once.
    std::string Append(const devupdate::update::SRunOutcome& outcome, int exitStatus, bool deviceAnswered);
    // The record Append writes: one JSON line.
    std::string Record(const devupdate::update::SRunOutcome& outcome, int exitStatus, bool deviceAnswered) const;
    // Why the log could not be opened (empty when it could or is not wanted).
    std::string OpenError() const { return m_openError; }

private:
    void HashUpdateFile();

    int m_fd = -1;
    std::string m_path;
    std::string m_openError;
    std::string m_updateFile;
    devupdate::update::JsonObject m_signature;
    std::string m_port;
    std::string m_device;
    std::string m_serialNumber;
    std::chrono::system_clock::time_point m_start;
    std::chrono::steady_clock::time_point m_startSteady;
    long long m_fileSize = -1;
    std::string m_sha256;
};
