// SVF text as the converter and the simulated device's reader take it.

#include "FuzzCheck.h"
#include "FuzzHarnesses.h"
#include "LineEstimate.h"
#include "SvfReader.h"
#include "SvfToXsvf.h"
#include "XsvfListing.h"

#include <string>

using namespace devupdate::link;
using namespace devupdate::xsvf;
using namespace devupdate::update;
using namespace devupdate::svf;

int FuzzSvf(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    SSvfConversion conversion;
    try {
        conversion = ConvertSvfToXsvf(text);
    } catch (const CSvfError& error) {
        FUZZ_CHECK(std::string(error.what()).rfind("line ", 0) == 0);
        return 0;
    }
    // What the converter takes, the reader of the simulated device takes too.
    FUZZ_CHECK(ReadSvf(text).ops.size() >= conversion.statistics.irScans + conversion.statistics.drScans);
    // Its stream lists to XCOMPLETE without a note, and plays to its end.
    const std::vector<uint8_t>& stream = conversion.xsvf;
    FUZZ_CHECK(!stream.empty() && stream.back() == 0x00);
    FUZZ_CHECK(conversion.statistics.xsvfBytes == stream.size());
    const std::string listing = ListXsvf(stream);
    FUZZ_CHECK(listing.find("\n-- ") == std::string::npos);
    const std::string end = ": XCOMPLETE\n";
    FUZZ_CHECK(listing.size() >= end.size() && listing.compare(listing.size() - end.size(), end.size(), end) == 0);
    const std::optional<SLineEstimate> estimate = EstimateXsvf(stream);
    FUZZ_CHECK(estimate.has_value());
    return 0;
}
