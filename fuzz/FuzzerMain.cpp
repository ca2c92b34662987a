// libFuzzer's entry point for one harness, chosen at build time.

#include "FuzzHarnesses.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return FUZZ_HARNESS(data, size);
}
