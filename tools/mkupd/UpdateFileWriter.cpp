#include "UpdateFileWriter.h"

#include "Crc16.h"

#include <cstdio>

namespace upd {

namespace {

constexpr unsigned MAX_BLOCK_PAYLOAD = 998;
constexpr size_t MAX_LITERAL = 127;
constexpr size_t MAX_REPEAT = 127;
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
    AppendHex(out, target.number, 2);
    if (version == FileVersion::V1_00) {
        AppendHex(out, static_cast<unsigned>(target.data.size()), 8);
        for (uint8_t byte : target.data)
            AppendHex(out, byte, 2);
    } else {
        const std::vector<uint8_t> stored = target.packed ? PackData(target.data) : target.data;
        AppendHex(out, target.packed ? 1 : 0, 4);
        AppendHex(out, target.type, 4);
        AppendHex(out, static_cast<unsigned>(stored.size()), 8);
        out.insert(out.end(), stored.begin(), stored.end());
    }
    out.push_back('\n');
}

}  // namespace

std::vector<uint8_t> WriteUpdateFile(const SUpdateFile& file)
{
    const size_t count = file.headerCount >= 0 ? static_cast<size_t>(file.headerCount) : file.targets.size();
    if (count > 255)
        throw CWriteError("the header holds at most 255 targets");
    std::vector<uint8_t> out;
    AppendText(out, file.version == FileVersion::V1_00 ? "Firmwareupdate-Fileformat-V1.00\n"
                                                       : "Firmwareupdate-Fileformat-V1.01\n");
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
    AppendText(out, "00\n");
    return out;
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
        throw CWriteError("block size must be 1..998 (3..998 with a block check)");
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

}  // namespace upd
