#pragma once
// The first pass of a conversion: a file whose XSVF stream could not be
// stored or played is refused before anything is written. It reads only the
// statements' names and lengths, so it is cheap next to the conversion.

#include <cstdint>
#include <istream>

namespace devupdate::svf {

// An update file's record length has 8 hexadecimal digits.
constexpr uint64_t MAX_XSVF_BYTES = 0xFFFFFFFFull;

// Throws CSvfError naming the line of an instruction scan longer than XSIR2
// shifts, or where the stream could grow beyond MAX_XSVF_BYTES: the line of
// the header or trailer statement when its sticky length is what makes the
// scans that big, else the statement where the limit is reached. The bound
// counts every scan at three times its bytes (TDI, expected TDO and mask)
// plus its set-up commands, so it is never below the real size.
void CheckXsvfSize(std::istream& in, uint64_t limit = MAX_XSVF_BYTES);

}  // namespace devupdate::svf
