#include "FuzzCheck.h"

#include <cstdio>
#include <cstdlib>

namespace {
bool g_throwFindings = false;
}  // namespace

void SetFuzzFindingsThrow(bool enable) { g_throwFindings = enable; }

void FuzzFail(const std::string& what, const char* file, int line)
{
    const std::string text = std::string(file) + ":" + std::to_string(line) + ": " + what;
    if (g_throwFindings)
        throw CFuzzFinding(text);
    std::fprintf(stderr, "invariant broken: %s\n", text.c_str());
    std::abort();
}
