#pragma once
// The fuzz harnesses, one function each: libFuzzer calls them with its
// inputs, and the regression tests replay saved inputs through them. Each
// returns 0; a broken invariant ends in FuzzFail (FuzzCheck.h).
//
// Not thread-safe: they install the link's system-call seam and use the
// current directory for the XSVF trace; run one at a time.

#include <cstddef>
#include <cstdint>

// The input is an update file: the header check, then every body record read
// the way the worker reads it (firmware blocks, XSVF bytes, skipped targets).
int FuzzUpdateFile(const uint8_t* data, size_t size);

// Two bytes (big-endian) give the length L of the XSVF stream that follows;
// the rest is the device's script (FakeSerialLine.h). The stream is played
// through the real transport over the fake line.
int FuzzXsvfPlayer(const uint8_t* data, size_t size);

// A fixed update file (firmware, packed firmware, XSVF, an unknown type) run
// by the worker; the input is the device's script.
int FuzzUpdateWorker(const uint8_t* data, size_t size);

// The input is the content of the setting file.
int FuzzPortSetting(const uint8_t* data, size_t size);

// The input is SVF text: converted to XSVF (a refusal names its line), the
// stream listed and estimated as the update file's target would be.
int FuzzSvf(const uint8_t* data, size_t size);

// The input is an XSVF stream: its listing (--list) and estimate (--check).
int FuzzXsvfListing(const uint8_t* data, size_t size);

// The input is a station child's standard output, one event a line, read
// by a port and shown by the station's text and JSON views.
int FuzzStationEvents(const uint8_t* data, size_t size);
