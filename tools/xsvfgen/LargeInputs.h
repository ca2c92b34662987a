#pragma once
// Large inputs for the benchmark and the tests of big files, written
// straight to disk.

#include <cstdint>
#include <string>

namespace devupdate::xsvfgen {

// An SVF file of about `bytes` bytes as a large part's programming file
// looks: instruction scans, 8192-bit data rows written and then verified
// under a mask, waits, and now and then a row too long for one XSVF shift.
// Throws std::runtime_error when the file cannot be written.
void WriteLargeSvf(const std::string& path, uint64_t bytes);

// An update file with one XSVF target of about `bytes` bytes of scans with
// a comment now and then. Throws std::runtime_error on a write error.
void WriteLargeXsvfUpdateFile(const std::string& path, uint64_t bytes);

// An update file with one firmware target of `bytes` bytes in 998-byte
// blocks. Throws std::runtime_error on a write error.
void WriteLargeFirmwareUpdateFile(const std::string& path, uint64_t bytes);

}  // namespace devupdate::xsvfgen
