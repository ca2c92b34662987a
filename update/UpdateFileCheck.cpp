// The header check of an update file: marker and version in the first line,
// the target count, one named line per target.

#include "OutputFile.h"
#include "StringTable.h"
#include "UpdateFileReader.h"
#include "UpdateRunState.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

using namespace devupdate::link;
using namespace devupdate::xsvf;
using namespace devupdate::res;

namespace devupdate::update {

namespace {

// The token field holds 19 characters; a longer token is refused.
constexpr size_t MAX_TOKEN_CHARS = 19;

// The white-space-delimited token after the marker; `tooLong` when it does
// not fit the token field.
std::string ReadVersionToken(const char* afterMarker, bool& tooLong)
{
    const char* p = afterMarker;
    while (*p != '\0' && std::isspace(static_cast<unsigned char>(*p)))
        ++p;
    const char* end = p;
    while (*end != '\0' && !std::isspace(static_cast<unsigned char>(*end)))
        ++end;
    const size_t length = static_cast<size_t>(end - p);
    tooLong = length > MAX_TOKEN_CHARS;
    return std::string(p, tooLong ? MAX_TOKEN_CHARS : length);
}

int FindVersion(const std::string& token)
{
    for (const SFileVersionEntry& entry : FILE_VERSIONS) {
        if (entry.index == FILE_VERSIONS_END)
            break;
        if (token == entry.token)
            return entry.index;
    }
    return -1;
}

std::string AcceptedVersionList()
{
    std::string list;
    for (const SFileVersionEntry& entry : FILE_VERSIONS) {
        if (entry.index == FILE_VERSIONS_END)
            break;
        list += entry.token;
        list += ' ';
    }
    return list;
}

}  // namespace

CUpdateRunState::SCheckResult CUpdateRunState::CheckUpdateFileHeader()
{
    CloseUpdateFile();
    m_readError.clear();
    m_signatureCheck = {};
    const std::string& name = m_fileName;
    auto wrongFormat = [&] {
        CloseUpdateFile();
        m_targetCount = 0;
        return SCheckResult{false, res::Format(res::LoadString(res::IDS_WRONG_FILEFORMAT).c_str(), name.c_str())};
    };

    if (name.empty())
        return {false, res::LoadString(res::IDS_NO_FILE_SELECTED)};

    m_updateFile = OpenUpdateFile(name);
    if (m_updateFile == nullptr)
        return {false, res::Format(res::LoadString(res::IDS_FILE_NOT_FOUND).c_str(), name.c_str())};
    if (!TakeSignatureCheck())
        return {false, m_signatureCheck.refusal};

    std::string line;
    if (!ReadTextLine(m_updateFile, line))
        return wrongFormat();
    const size_t marker = line.find(FILE_MARKER);
    if (marker == std::string::npos)
        return wrongFormat();

    bool tooLong = false;
    const std::string token = ReadVersionToken(line.c_str() + marker + std::strlen(FILE_MARKER), tooLong);
    const int version = tooLong ? -1 : FindVersion(token);
    if (version < 0) {
        CloseUpdateFile();
        m_targetCount = 0;
        return {false, res::Format(res::LoadString(res::IDS_WRONG_VERSION).c_str(), token.c_str(), name.c_str(),
                                   AcceptedVersionList().c_str())};
    }
    m_fileVersion = static_cast<EFileVersion>(version);

    unsigned count = 0;
    // The tables hold MAX_TARGETS targets; a larger count is a malformed header.
    if (!ReadHexField(m_updateFile, 2, count) || count > MAX_TARGETS)
        return wrongFormat();
    m_targetCount = count;

    for (unsigned i = 0; i < count; ++i) {
        unsigned unused = 0;
        if (!ReadHexField(m_updateFile, 2, unused) || !ReadTextLine(m_updateFile, m_targetName[i]))
            return wrongFormat();
    }
    return {true, {}};
}

bool CUpdateRunState::TakeSignatureCheck()
{
    m_signatureCheck = CheckFileSignature(m_updateFile, m_fileName, m_requireSignature,
                                          LoadTrustedKeys(TrustedKeyFolders()));
    if (m_signatureCheck.verifiedCopy != nullptr) {
        (void)std::fclose(m_updateFile);  // only read from: nothing can be lost
        m_updateFile = std::exchange(m_signatureCheck.verifiedCopy, nullptr);
    }
    if (m_signatureCheck.refusal.empty())
        return true;
    CloseUpdateFile();
    m_targetCount = 0;
    return false;
}

void CUpdateRunState::CloseUpdateFile()
{
    if (m_updateFile != nullptr) {
        if (std::ferror(m_updateFile)) {
            // The stream keeps no reason: one more read brings it back.
            std::clearerr(m_updateFile);
            errno = 0;
            const bool again = std::getc(m_updateFile) == EOF && std::ferror(m_updateFile) && errno != 0;
            m_readError = again ? std::strerror(errno) : "read error";
        }
        std::fclose(m_updateFile);
        m_updateFile = nullptr;
    }
}

}  // namespace devupdate::update
