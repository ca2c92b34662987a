#include "UpdateFileReader.h"

#include "StringTable.h"
#include "UpdateRunState.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <climits>

using namespace devupdate::link;
using namespace devupdate::xsvf;
using namespace devupdate::res;

namespace devupdate::update {

namespace {

int HexDigitValue(int c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

}  // namespace

bool ReadHexField(FILE* file, int width, unsigned& value)
{
    int c = std::getc(file);
    while (c != EOF && std::isspace(c))
        c = std::getc(file);
    unsigned result = 0;
    int digits = 0;
    while (c != EOF && digits < width) {
        const int digit = HexDigitValue(c);
        if (digit < 0)
            break;
        result = result * 16 + static_cast<unsigned>(digit);
        ++digits;
        if (digits < width)
            c = std::getc(file);
    }
    // The character that ended a short field belongs to what follows.
    if (digits < width && c != EOF)
        std::ungetc(c, file);
    if (digits == 0)
        return false;
    value = result;
    return true;
}

bool ReadTextLine(FILE* file, std::string& line)
{
    char buffer[MAX_LINE_CHARS + 1];
    if (std::fgets(buffer, sizeof buffer, file) == nullptr)
        return false;
    line = buffer;
    return true;
}

bool CUpdateRunState::ReadDataByte(uint8_t& out)
{
    if (m_dataEnd || m_updateFile == nullptr)
        return false;
    if ((m_targetFlags & 1) == 0) {
        // Never read past the target's stored length (a length of 0 holds nothing).
        if (m_dataConsumed >= m_dataLength)
            return false;
        unsigned value = 0;
        if (m_fileVersion == EFileVersion::V1_00) {
            if (!ReadHexField(m_updateFile, 2, value))
                return false;
        } else {
            const int c = std::getc(m_updateFile);
            if (c == EOF)
                return false;
            value = static_cast<unsigned>(c);
        }
        m_dataConsumed += 1;
        if (m_dataConsumed == m_dataLength)
            m_dataEnd = true;
        out = static_cast<uint8_t>(value & 0xFF);
        return true;
    }

    if (m_runPending == 0) {
        if (m_dataConsumed >= m_dataLength)
            return false;
        const int control = std::getc(m_updateFile);
        if (control == EOF)
            return false;
        const uint32_t stored = control >= 0x80 ? 2u : static_cast<uint32_t>(control) + 1;
        // A run whose stored bytes would pass the stored length is malformed.
        if (stored > m_dataLength - m_dataConsumed)
            return false;
        if (control >= 0x80) {
            const int repeated = std::getc(m_updateFile);
            if (repeated == EOF)
                return false;
            const int count = control - 0x80;
            for (int i = 0; i < count; ++i)
                m_runBuffer[i] = static_cast<uint8_t>(repeated);
            m_runPending = static_cast<uint32_t>(count);
        } else {
            if (control > 0 && std::fread(m_runBuffer, 1, static_cast<size_t>(control), m_updateFile) !=
                                   static_cast<size_t>(control))
                return false;
            m_runPending = static_cast<uint32_t>(control);
        }
        m_dataConsumed += stored;
        m_runCursor = m_runBuffer;
    }
    if (m_runPending == 0)  // control byte 0x00 or 0x80
        return false;
    m_runPending -= 1;
    if (m_dataConsumed == m_dataLength && m_runPending == 0)
        m_dataEnd = true;
    out = *m_runCursor++;
    return true;
}

bool CUpdateRunState::LoadRecordHeader(SRecordHeader& header)
{
    if (m_updateFile == nullptr || !ReadRecordHeader(m_updateFile, m_fileVersion, header))
        return false;
    m_targetFlags = header.flags;
    m_targetType = header.type;
    m_dataLength = header.length;
    m_dataConsumed = 0;
    m_runPending = 0;
    m_dataEnd = false;
    return true;
}

void CUpdateRunState::UpdateProgress()
{
    const int percent =
        m_dataLength == 0 ? 0 : static_cast<int>(uint64_t{m_dataConsumed} * 100 / m_dataLength);
    SetTargetPercent(m_currentTarget, percent);
    m_refreshPending = 1;
}

void CUpdateRunState::SetTargetPercent(int index, int percent)
{
    if (m_recordOpen && !m_records.empty())
        m_records.back().percent = percent;
    if (index < 0 || index >= MAX_TARGETS || m_targetResult[index].percent.exchange(percent) == percent)
        return;
    Observer().OnRowChanged(index);
}

void CUpdateRunState::ReportFileFormatError()
{
    SetMessage(res::Format(res::LoadString(res::IDS_CANCELLED_FILEFORMAT).c_str(), m_fileName.c_str()));
    m_bodyPlace = EBodyPlace::Unknown;
    EndWorker(ERunEnding::Failed, true);
}

bool CUpdateRunState::SkipTargetRest()
{
    if (m_updateFile == nullptr)
        return false;
    const uint32_t remaining = m_dataConsumed < m_dataLength ? m_dataLength - m_dataConsumed : 0;
    if (SkipRecordData(m_updateFile, m_fileVersion, remaining))
        return true;
    m_bodyPlace = EBodyPlace::Unknown;
    return false;
}

}  // namespace devupdate::update
