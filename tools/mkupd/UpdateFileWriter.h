#pragma once
// Writing update files: the text header, the target records in either file
// version, plain or packed data, and firmware images cut into blocks.

#include "UpdateFileBody.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace devupdate::mkupd {

// The format's own names (UpdateFileBody.h), as the writer's callers know them.
constexpr unsigned TYPE_FIRMWARE = update::TARGET_FIRMWARE;
constexpr unsigned TYPE_XSVF = update::TARGET_XSVF;
using FileVersion = update::EFileVersion;

struct SUpdateTarget {
    unsigned number = 1;          // 1..255, sent to the device
    std::string name;             // header line text after the digits
    unsigned type = TYPE_FIRMWARE;
    bool packed = false;          // "V1.01" only
    std::vector<uint8_t> data;    // the unpacked data (firmware blocks or XSVF)
};

struct SUpdateFile {
    FileVersion version = FileVersion::V1_01;
    std::vector<SUpdateTarget> targets;
    // The header's target count; by default the number of targets.
    int headerCount = -1;
};

class CWriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Throws CWriteError, with the reason, for a file that the tool's check or
// its run would refuse: more than MAX_TARGETS targets or header lines, a
// name the header line cannot hold, no data for a firmware or XSVF target,
// firmware data that are not blocks of at most MAX_BLOCK_PAYLOAD bytes.
// WriteUpdateFile writes such files too (tests need them); mkupd does not.
void CheckReadable(const SUpdateFile& file);

// The whole file's bytes. Throws CWriteError for what the format cannot
// hold (a type or packing in "V1.00", a number out of 1..255, more than 255
// header lines).
std::vector<uint8_t> WriteUpdateFile(const SUpdateFile& file);

// The packed encoding: runs of 3 or more equal bytes as 0x80|count + byte,
// everything else as literal blocks of at most 127 bytes.
std::vector<uint8_t> PackData(const std::vector<uint8_t>& data);

// Cuts a raw firmware image into blocks (2-byte big-endian count + payload)
// of at most blockSize payload bytes (1..998). With appendCrc every block's
// payload ends with the big-endian CRC-16 of the image bytes it carries, so
// blockSize then includes those 2 bytes.
std::vector<uint8_t> MakeFirmwareBlocks(const std::vector<uint8_t>& image, unsigned blockSize, bool appendCrc);

}  // namespace devupdate::mkupd
