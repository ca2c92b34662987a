#include "UpdateFileBody.h"

#include "StringTable.h"
#include "UpdateFileReader.h"

#include <cerrno>
#include <sys/types.h>

using namespace devupdate::res;

namespace devupdate::update {

const char* FileVersionToken(EFileVersion version)
{
    return FILE_VERSIONS[static_cast<int>(version)].token;
}

bool ReadRecordNumber(FILE* file, unsigned& number)
{
    return ReadHexField(file, 2, number);
}

bool ReadRecordHeader(FILE* file, EFileVersion version, SRecordHeader& header)
{
    unsigned flags = 0;
    unsigned type = TARGET_FIRMWARE;
    unsigned length = 0;
    if (version == EFileVersion::V1_01 && (!ReadHexField(file, 4, flags) || !ReadHexField(file, 4, type)))
        return false;
    if (!ReadHexField(file, 8, length))
        return false;
    header.flags = flags;
    header.type = type;
    header.length = length;
    return true;
}

bool SkipRecordData(FILE* file, EFileVersion version, uint32_t storedBytes)
{
    // "V1.00" stores every byte as two characters.
    uint64_t left = uint64_t{storedBytes} * (version == EFileVersion::V1_00 ? 2 : 1);
    // Nothing to pass over means no seek at all: a pipe cannot seek.
    if (left == 0)
        return true;
    if (fseeko(file, static_cast<off_t>(left), SEEK_CUR) == 0)
        return true;
    if (errno != ESPIPE)
        return false;
    clearerr(file);
    char buffer[4096];
    while (left > 0) {
        const size_t want = left < sizeof buffer ? static_cast<size_t>(left) : sizeof buffer;
        const size_t got = std::fread(buffer, 1, want, file);
        if (got == 0)
            return false;
        left -= got;
    }
    return true;
}

int CountFirmwareBlocks(const std::vector<uint8_t>& data)
{
    size_t offset = 0;
    int blocks = 0;
    while (offset < data.size()) {
        if (offset + 2 > data.size())
            return -1;
        const size_t count = (size_t{data[offset]} << 8) | data[offset + 1];
        if (count > MAX_BLOCK_PAYLOAD || offset + 2 + count > data.size())
            return -1;
        offset += 2 + count;
        ++blocks;
    }
    return blocks;
}

std::string FormatRecordHeader(EFileVersion version, const SRecordHeader& header)
{
    if (version == EFileVersion::V1_00)
        return res::Format("%02X%08X", header.number, static_cast<unsigned>(header.length));
    return res::Format("%02X%04X%04X%08X", header.number, header.flags, header.type,
                       static_cast<unsigned>(header.length));
}

std::string FormatBodyEnd()
{
    return "00";
}

}  // namespace devupdate::update
