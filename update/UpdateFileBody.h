#pragma once
// The body of an update file: the file versions, the target record header
// and the firmware block limit. The worker, the listing and the writer of
// update files all go through here, so the format has one owner.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace devupdate::update {

// The file versions, by the index of their token in the first line.
enum class EFileVersion : int { V1_00 = 0, V1_01 = 1 };

// The accepted version tokens, in order; the entry with index
// FILE_VERSIONS_END ends the table.
struct SFileVersionEntry {
    int index;
    const char* token;
};
constexpr int FILE_VERSIONS_END = 2;
constexpr SFileVersionEntry FILE_VERSIONS[] = {{0, "V1.00"}, {1, "V1.01"}, {FILE_VERSIONS_END, nullptr}};

// "V1.00" or "V1.01".
const char* FileVersionToken(EFileVersion version);

// The text before the version token in an update file's first line.
constexpr char FILE_MARKER[] = "Firmwareupdate-Fileformat-";

// Target types of a body record.
constexpr unsigned TARGET_FIRMWARE = 0xFEFF;
constexpr unsigned TARGET_XSVF = 0xFF00;
constexpr unsigned TARGET_SKIP = 0xFF01;  // internal: not updated

// Flag bit 0 of a "V1.01" record: the data are packed runs.
constexpr unsigned TARGET_FLAG_PACKED = 1;

// A firmware block is a 2-byte count and at most this many bytes: the
// device's send buffer holds 1000 bytes.
constexpr unsigned MAX_BLOCK_PAYLOAD = 998;

// Most stored bytes of one packed run's literal part or repeat count.
constexpr unsigned MAX_PACKED_RUN = 127;

// The fields of a record after its target number. "V1.00" records carry no
// flags and no type: they are plain firmware.
struct SRecordHeader {
    unsigned number = 0;  // 1..255; 0 ends the body
    unsigned flags = 0;
    unsigned type = TARGET_FIRMWARE;
    uint32_t length = 0;  // stored data bytes ("V1.00": bytes, two digits each)
};

// The record number ("%2X"); false when none can be read.
bool ReadRecordNumber(FILE* file, unsigned& number);
// Flags and type ("V1.01" only) and the stored length; false on a field
// that cannot be read. `header.number` is left as it is.
bool ReadRecordHeader(FILE* file, EFileVersion version, SRecordHeader& header);

// Moves forward over `storedBytes` of a record's data: seeks where the file
// can, reads the bytes where it cannot (a pipe). False on failure.
bool SkipRecordData(FILE* file, EFileVersion version, uint32_t storedBytes);

// Firmware data are blocks of a 2-byte count (high byte first) and that
// many bytes, at most MAX_BLOCK_PAYLOAD: the number of whole blocks, or -1
// when the data do not divide into such blocks.
int CountFirmwareBlocks(const std::vector<uint8_t>& data);

// The text of a record's number and header fields, as ReadRecordHeader reads
// them back: "01" "0001" "FF00" "0000000A" (flags and type only in "V1.01").
std::string FormatRecordHeader(EFileVersion version, const SRecordHeader& header);
// The record number 00 that ends the body.
std::string FormatBodyEnd();

}  // namespace devupdate::update
