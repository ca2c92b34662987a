#include "RunLog.h"
#include "ProgramStart.h"

#include "JsonEvents.h"
#include "OutputFile.h"
#include "StringTable.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sodium.h>

using namespace devupdate;
using namespace devupdate::link;
using namespace devupdate::res;
using namespace devupdate::update;

namespace {

std::string UtcTime(std::chrono::system_clock::time_point time)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm utc{};
    if (gmtime_r(&seconds, &utc) == nullptr)
        return {};
    char text[32];
    if (std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc) == 0)
        return {};
    return text;
}

}  // namespace

CRunLog::CRunLog(const std::string& path, const std::string& updateFile)
    : m_path(path),
      m_updateFile(updateFile),
      m_start(std::chrono::system_clock::now()),
      m_startSteady(std::chrono::steady_clock::now())
{
    if (path.empty())
        return;
    std::string error;
    // Read too: a record must know whether the log ends in a line end.
    m_fd = OpenOutputFile(path, O_RDWR | O_APPEND | O_CREAT, 0644, error);
    if (m_fd < 0) {
        m_openError = res::Format("%s: log %s: open: %s", ProgramName("update-cli").c_str(), path.c_str(), error.c_str());
        return;
    }
    HashUpdateFile();
}

CRunLog::~CRunLog()
{
    if (m_fd >= 0)
        (void)close(m_fd);  // nothing left to report: the record was written or reported
}

void CRunLog::HashUpdateFile()
{
    // A pipe could be read only once, by the run: only regular files are
    // hashed, and nothing else is even opened.
    struct stat named {};
    if (stat(m_updateFile.c_str(), &named) != 0 || !S_ISREG(named.st_mode))
        return;
    const int fd = open(m_updateFile.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return;
    struct stat info {};
    crypto_hash_sha256_state hash;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && sodium_init() >= 0 && crypto_hash_sha256_init(&hash) == 0) {
        uint8_t buffer[65536];
        long long total = 0;
        ssize_t got = 0;
        while ((got = read(fd, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)) {
            if (got > 0) {
                (void)crypto_hash_sha256_update(&hash, buffer, static_cast<size_t>(got));  // fails never
                total += got;
            }
        }
        uint8_t digest[crypto_hash_sha256_BYTES];
        char hex[2 * sizeof digest + 1];
        if (got == 0 && crypto_hash_sha256_final(&hash, digest) == 0) {
            m_fileSize = total;
            m_sha256 = sodium_bin2hex(hex, sizeof hex, digest, sizeof digest);
        }
    }
    (void)close(fd);  // read-only: nothing can be lost
}

void CRunLog::SetPort(const std::string& port, const std::string& device, const std::string& serialNumber)
{
    m_port = port;
    m_device = device;
    m_serialNumber = serialNumber;
}

std::string CRunLog::Record(const SRunOutcome& outcome, int exitStatus, bool deviceAnswered) const
{
    using namespace events;
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - m_startSteady;
    const bool sized = m_fileSize >= 0;
    JsonObject record = {
        {field::START, UtcTime(m_start)},
        {field::PROGRAM, ProgramName("update-cli") + " " + res::PROGRAM_VERSION},
        {field::PORT, m_port},
        {field::DEVICE, m_device},
        {field::SERIAL_NUMBER, m_serialNumber.empty() ? JsonObject() : JsonObject(m_serialNumber)},
        {field::SECONDS, JsonSeconds(seconds.count())},
        {field::DEVICE_ANSWERED, deviceAnswered},
        {field::FILE, m_updateFile},
        {field::SIZE, sized ? JsonObject(m_fileSize) : JsonObject()},
        {field::SHA256, sized ? JsonObject(m_sha256) : JsonObject()},
        {field::SIGNATURE, m_signature},
        {field::ENDING, EndingName(outcome.ending)},
        {field::RECORDS, JsonRecords(outcome)},
        {field::MESSAGE, outcome.message},
        {field::EXIT_STATUS, exitStatus},
    };
    if (!outcome.osError.empty())
        record[field::OS_ERROR] = outcome.osError;
    return JsonLine(record);
}

std::string CRunLog::Append(const SRunOutcome& outcome, int exitStatus, bool deviceAnswered)
{
    if (m_fd < 0)
        return {};
    const std::string text = Record(outcome, exitStatus, deviceAnswered);
    const std::string problem = AppendRecord(m_fd, text);
    return problem.empty() ? problem
                           : res::Format("%s: log %s: %s", ProgramName("update-cli").c_str(), m_path.c_str(),
                                         problem.c_str());
}
