// An XSVF stream from an update file as --list shows it and --check
// estimates it.

#include "FuzzCheck.h"
#include "FuzzHarnesses.h"
#include "LineEstimate.h"
#include "XsvfListing.h"

#include <sstream>
#include <string>
#include <vector>

using namespace devupdate::link;
using namespace devupdate::xsvf;
using namespace devupdate::update;

namespace {

// Lines "N: ..." numbered from 1 without a gap, then at most one "-- " note.
// Returns the last command's line, empty when none.
std::string CheckNumbering(const std::string& listing)
{
    FUZZ_CHECK(!listing.empty() && listing.back() == '\n');
    std::istringstream in(listing);
    long expected = 1;
    std::string lastCommand;
    bool noted = false;
    for (std::string line; std::getline(in, line);) {
        FUZZ_CHECK(!noted);
        if (line.rfind("-- ", 0) == 0) {
            noted = true;
            continue;
        }
        const std::string number = std::to_string(expected++) + ": ";
        FUZZ_CHECK(line.rfind(number, 0) == 0);
        lastCommand = line.substr(number.size());
        // No value is shown negative: times and lengths are unsigned. A
        // comment's text is the file's own and may hold anything.
        if (lastCommand.rfind("XCOMMENT", 0) != 0)
            FUZZ_CHECK(lastCommand.find(" -") == std::string::npos);
    }
    return lastCommand;
}

}  // namespace

int FuzzXsvfListing(const uint8_t* data, size_t size)
{
    const std::vector<uint8_t> stream(data, data + size);
    const std::string listing = ListXsvf(stream);
    const std::string lastCommand = CheckNumbering(listing);
    const std::optional<SLineEstimate> estimate = EstimateXsvf(stream);
    if (!estimate)
        return 0;
    // A stream the player plays to its end lists to its XCOMPLETE, with at
    // most the bytes after it noted.
    FUZZ_CHECK(lastCommand == "XCOMPLETE");
    const size_t note = listing.find("\n-- ");
    FUZZ_CHECK(note == std::string::npos || listing.find("bytes after XCOMPLETE are not played", note) != std::string::npos);
    FUZZ_CHECK(estimate->waitSeconds >= 0 && estimate->Seconds() >= estimate->waitSeconds);
    return 0;
}
