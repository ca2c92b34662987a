#pragma once
// Converting SVF to an XSVF stream that the player executes with the same
// effect on the JTAG chain: the same scans in the same order with the same
// TAP paths between them, and waits at least as long.
//
// How SVF maps onto the player:
// - SIR: XSIR (up to 255 bits) or XSIR2 (up to 7000 bytes); longer ones are
//   refused. XSVF cannot check an instruction scan's TDO: such checks are
//   dropped and counted (the statistics and notes name them).
// - SDR: XSDRSIZE when the length changes, XTDOMASK when the compare mask
//   changes (an all-zero mask before unchecked scans), then XSDRTDO, or XSDR
//   when the expected value is already loaded or nothing is compared. Scans
//   longer than 7000 bytes are cut into XSDRB, XSDRC..., XSDRE pieces
//   (XSDRTDOB/C/E for pieces whose bits are all compared; a piece compared
//   in part only is refused).
// - ENDIR / ENDDR: XENDIR / XENDDR before the next scan that needs them.
// - RUNTEST in Run-Test/Idle right after a scan: folded into that scan as
//   XRUNTEST (the player waits in Run-Test/Idle after the shift); any other
//   RUNTEST with a time: XWAIT; without a time: XSTATE moves.
// - STATE: XSTATE to the stable state (nothing when already there), or one
//   XSTATE per state of an explicit path, so the player clocks the same path.
// - XREPEAT with the chosen retry count first, XCOMPLETE last.

#include "SvfReader.h"

#include <cstdint>
#include <functional>
#include <istream>
#include <string>
#include <vector>

namespace devupdate::svf {

struct SSvfOptions {
    uint8_t repeat = 0;  // XREPEAT: extra attempts of a failing checked data scan
};

struct SSvfStatistics {
    unsigned svfCommands = 0;
    unsigned xsvfCommands = 0;
    size_t svfBytes = 0;
    size_t xsvfBytes = 0;
    unsigned irScans = 0;
    unsigned drScans = 0;
    unsigned splitScans = 0;        // data scans cut into XSDRB..XSDRE pieces
    unsigned droppedIrChecks = 0;   // SIR TDO checks XSVF cannot express
    uint64_t waitMicroseconds = 0;  // all waits the stream asks the device for
};

struct SSvfConversion {
    std::vector<uint8_t> xsvf;
    SSvfStatistics statistics;
    std::vector<std::string> notes;  // "line N: ..." for what was dropped or adapted
};

// The first notes of a conversion and how many there were in all.
struct SSvfNotes {
    std::vector<std::string> first;
    size_t count = 0;
};

// Receives the XSVF stream piece by piece as the conversion goes.
using XsvfSink = std::function<void(const uint8_t* data, size_t size)>;

// Converts SVF text from a seekable stream, writing the XSVF as it reads:
// memory is bounded by the longest scan, not by the file. A first pass
// (CheckXsvfSize) refuses a stream that could not be stored before `out`
// sees a byte; a statement refused later throws after some of the stream
// went out, so a caller writing a file writes it aside and keeps it only on
// success. Keeps the first `keptNotes` notes in `notes`. Throws CSvfError
// (naming the line) for anything that cannot be read or expressed in XSVF,
// std::runtime_error when the text cannot be read again.
SSvfStatistics ConvertSvfStream(std::istream& in, const XsvfSink& out, const SSvfOptions& options,
                                SSvfNotes& notes, size_t keptNotes);

// Converts SVF text held in memory.
SSvfConversion ConvertSvfToXsvf(const std::string& svfText, const SSvfOptions& options = {});

// "N SVF commands in, M XSVF commands out, A bytes in, B bytes out" and the
// scan counts, on one line.
std::string FormatSvfStatistics(const SSvfStatistics& statistics);

}  // namespace devupdate::svf
