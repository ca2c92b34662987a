#include "XsvfTrace.h"

#include "OutputFile.h"
#include "StringTable.h"

#include <algorithm>
#include <cstdarg>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

using namespace devupdate::res;

namespace devupdate::xsvf {

std::string TraceOpenFailureText(const std::string& shownName)
{
    return res::Format("Debugdatei %s kann nicht geöffnet werden !", shownName.c_str());
}

std::string DumpBuffer(const ShiftBuffer* buffer)
{
    if (buffer == nullptr)
        return {};
    static const char digits[] = "0123456789abcdef";
    std::string text = "0x";
    const int length = buffer->length < 0 ? 0 : std::min<int>(buffer->length, MAX_LEN);
    text.reserve(2 + 2 * static_cast<size_t>(length));
    for (int i = 0; i < length; ++i) {
        text.push_back(digits[buffer->bytes[i] >> 4]);
        text.push_back(digits[buffer->bytes[i] & 0x0F]);
    }
    return text;
}

CXsvfTrace::~CXsvfTrace()
{
    Close();
}

bool CXsvfTrace::Open(const std::string& path)
{
    Close();
    // A link planted under the trace's name must not redirect the trace onto
    // another file: only a regular file of our own is written.
    std::string problem;
    const int fd = link::OpenOutputFile(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0644, problem);
    if (fd == -1)
        return false;
    // Binary mode: the line-end conversion is done by Put.
    m_file = fdopen(fd, "wb");
    if (m_file == nullptr)
        (void)close(fd);
    return m_file != nullptr;
}

void CXsvfTrace::Close()
{
    if (m_file == nullptr)
        return;
    (void)std::fclose(m_file);  // write errors of the trace are not reported
    m_file = nullptr;
}

void CXsvfTrace::Put(const char* text, size_t n)
{
    if (m_file == nullptr)
        return;
    size_t start = 0;
    for (size_t i = 0; i < n; ++i) {
        if (text[i] != '\n')
            continue;
        (void)std::fwrite(text + start, 1, i - start, m_file);
        (void)std::fwrite("\r\n", 1, 2, m_file);
        start = i + 1;
    }
    (void)std::fwrite(text + start, 1, n - start, m_file);
}

void CXsvfTrace::Write(int level, const char* format, ...)
{
    if (m_file == nullptr || level > TRACE_LEVEL)
        return;
    va_list args;
    va_start(args, format);
    va_list sizing;
    va_copy(sizing, args);
    const int length = std::vsnprintf(nullptr, 0, format, sizing);
    va_end(sizing);
    if (length > 0) {
        std::vector<char> text(static_cast<size_t>(length) + 1);
        std::vsnprintf(text.data(), text.size(), format, args);
        Put(text.data(), static_cast<size_t>(length));
    }
    va_end(args);
}

void CXsvfTrace::DumpLine(int level, const char* label, const ShiftBuffer* buffer)
{
    if (m_file == nullptr || level > TRACE_LEVEL)
        return;
    std::string line = label;
    line += DumpBuffer(buffer);
    line += '\n';
    Put(line.data(), line.size());
}

}  // namespace devupdate::xsvf
