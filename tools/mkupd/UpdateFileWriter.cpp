#include "UpdateFileWriter.h"

#include "Crc16.h"

#include <cstdio>
#include <string>

using namespace devupdate::xsvf;
using namespace devupdate::update;

namespace devupdate::mkupd {

namespace {

constexpr size_t MAX_LITERAL = MAX_PACKED_RUN;
constexpr size_t MAX_REPEAT = MAX_PACKED_RUN;
// The tool reads a target line's name with at most 79 characters after the
// digits, the blank before the name and the line end included.
constexpr size_t MAX_NAME_CHARS = 77;
// The tool's tables hold this many targets.
constexpr size_t MAX_HEADER_TARGETS = 10;
constexpr size_t MIN_REPEAT = 3;

void AppendText(std::vector<uint8_t>& out, const std::string& text)
{
    out.insert(out.end(), text.begin(), text.end());
}

void AppendHex(std::vector<uint8_t>& out, unsigned value, int digits)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%0*X", digits, value);
    AppendText(out, buffer);
}

size_t RepeatLength(const std::vector<uint8_t>& data, size_t start)
{
    size_t length = 1;
    while (start + length < data.size() && data[start + length] == data[start] && length < MAX_REPEAT)
        ++length;
    return length;
}

void CheckTarget(const SUpdateTarget& target, FileVersion version)
{
    if (target.number < 1 || target.number > 255)
        throw CWriteError("target number must be 1..255");
    if (target.type > 0xFFFF)
        throw CWriteError("target type must be 4 hexadecimal digits");
    if (version == FileVersion::V1_00 && (target.type != TYPE_FIRMWARE || target.packed))
        throw CWriteError("version V1.00 holds only plain firmware targets");
    if (target.name.find('\n') != std::string::npos)
        throw CWriteError("a target name must be one line");
}

void AppendRecord(std::vector<uint8_t>& out, const SUpdateTarget& target, FileVersion version)
{
    SRecordHeader header;
    header.number = target.number;
    header.type = target.type;
    if (version == FileVersion::V1_00) {
        header.length = static_cast<uint32_t>(target.data.size());
        AppendText(out, FormatRecordHeader(version, header));
        for (uint8_t byte : target.data)
            AppendHex(out, byte, 2);
    } else {
        const std::vector<uint8_t> stored = target.packed ? PackData(target.data) : target.data;
        header.flags = target.packed ? TARGET_FLAG_PACKED : 0;
        header.length = static_cast<uint32_t>(stored.size());
        AppendText(out, FormatRecordHeader(version, header));
        out.insert(out.end(), stored.begin(), stored.end());
    }
    out.push_back('\n');
}

size_t HeaderCount(const SUpdateFile& file)
{
    return file.headerCount >= 0 ? static_cast<size_t>(file.headerCount) : file.targets.size();
}

}  // namespace

std::vector<uint8_t> WriteUpdateFile(const SUpdateFile& file)
{
    const size_t count = HeaderCount(file);
    if (count > 255)
        throw CWriteError("the header holds at most 255 targets");
    std::vector<uint8_t> out;
    AppendText(out, std::string(FILE_MARKER) + FileVersionToken(file.version) + "\n");
    AppendHex(out, static_cast<unsigned>(count), 2);
    out.push_back('\n');
    for (size_t i = 0; i < count; ++i) {
        const SUpdateTarget* target = i < file.targets.size() ? &file.targets[i] : nullptr;
        AppendHex(out, target ? target->number : static_cast<unsigned>(i + 1), 2);
        AppendText(out, " " + (target ? target->name : std::string("Target")));
        out.push_back('\n');
    }
    for (const SUpdateTarget& target : file.targets) {
        CheckTarget(target, file.version);
        AppendRecord(out, target, file.version);
    }
    AppendText(out, FormatBodyEnd() + "\n");
    return out;
}

void CheckReadable(const SUpdateFile& file)
{
    if (HeaderCount(file) > MAX_HEADER_TARGETS)
        throw CWriteError("the header may count at most " + std::to_string(MAX_HEADER_TARGETS) + " targets");
    for (const SUpdateTarget& target : file.targets) {
        const std::string which = "target " + std::to_string(target.number);
        CheckTarget(target, file.version);
        if (target.name.size() > MAX_NAME_CHARS)
            throw CWriteError(which + ": a name may have at most " + std::to_string(MAX_NAME_CHARS) + " characters");
        if (target.name.find('\0') != std::string::npos || target.name.find('\r') != std::string::npos)
            throw CWriteError(which + ": a name may not hold a NUL or carriage return");
        if (target.data.size() > 0xFFFFFFFFu)
            throw CWriteError(which + ": the data do not fit a record's length field");
        const bool known = target.type == TYPE_FIRMWARE || target.type == TYPE_XSVF;
        if (known && target.data.empty())
            throw CWriteError(which + ": no data");
        if (target.type == TYPE_FIRMWARE && CountFirmwareBlocks(target.data) < 0)
            throw CWriteError(which + ": firmware data must be blocks of a 2-byte count and at most " +
                              std::to_string(MAX_BLOCK_PAYLOAD) + " bytes");
    }
}

std::vector<uint8_t> PackData(const std::vector<uint8_t>& data)
{
    std::vector<uint8_t> out;
    size_t literalStart = 0;
    size_t i = 0;
    auto flushLiterals = [&](size_t end) {
        while (literalStart < end) {
            const size_t n = std::min(MAX_LITERAL, end - literalStart);
            out.push_back(static_cast<uint8_t>(n));
            out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(literalStart),
                       data.begin() + static_cast<std::ptrdiff_t>(literalStart + n));
            literalStart += n;
        }
    };
    while (i < data.size()) {
        const size_t repeat = RepeatLength(data, i);
        if (repeat >= MIN_REPEAT) {
            flushLiterals(i);
            out.push_back(static_cast<uint8_t>(0x80 + repeat));
            out.push_back(data[i]);
            i += repeat;
            literalStart = i;
        } else {
            i += 1;
        }
    }
    flushLiterals(data.size());
    return out;
}

std::vector<uint8_t> MakeFirmwareBlocks(const std::vector<uint8_t>& image, unsigned blockSize, bool appendCrc)
{
    if (blockSize < (appendCrc ? 3u : 1u) || blockSize > MAX_BLOCK_PAYLOAD)
        throw CWriteError("block size must be 1.." + std::to_string(MAX_BLOCK_PAYLOAD) + " (3.." +
                          std::to_string(MAX_BLOCK_PAYLOAD) + " with a block check)");
    const size_t chunk = appendCrc ? blockSize - 2 : blockSize;
    std::vector<uint8_t> out;
    for (size_t offset = 0; offset < image.size(); offset += chunk) {
        const size_t n = std::min(chunk, image.size() - offset);
        const size_t payload = n + (appendCrc ? 2 : 0);
        out.push_back(static_cast<uint8_t>(payload >> 8));
        out.push_back(static_cast<uint8_t>(payload));
        out.insert(out.end(), image.begin() + static_cast<std::ptrdiff_t>(offset),
                   image.begin() + static_cast<std::ptrdiff_t>(offset + n));
        if (appendCrc) {
            const uint16_t crc = Crc16(image.data() + offset, n);
            out.push_back(static_cast<uint8_t>(crc >> 8));
            out.push_back(static_cast<uint8_t>(crc));
        }
    }
    return out;
}

}  // namespace devupdate::mkupd
