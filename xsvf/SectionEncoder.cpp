#include "SectionEncoder.h"

namespace devupdate::xsvf {

namespace {

constexpr size_t MIN_RUN = 4;

struct SStretch {
    size_t start;   // where the literal block ends (and the run starts)
    size_t length;  // run length, 0 when there is no run
};

// Finds the first stretch of at least MIN_RUN equal bytes in [from, end).
SStretch FindRun(const uint8_t* p, size_t from, size_t end)
{
    size_t s = from;
    size_t r = 1;
    for (size_t i = from + 1; i < end; ++i) {
        if (p[i] == p[i - 1]) {
            ++r;
        } else if (r >= MIN_RUN) {
            return {s, r};
        } else {
            s = i;
            r = 1;
        }
    }
    if (r >= MIN_RUN)
        return {s, r};
    return {s + 1, 0};
}

}  // namespace

void EncodeSection(const uint8_t* p, size_t n, std::vector<uint8_t>& out)
{
    size_t pos = 0;
    while (pos < n) {
        const SStretch stretch = FindRun(p, pos, n);
        if (stretch.start > pos) {
            out.push_back(static_cast<uint8_t>(stretch.start - pos));
            out.insert(out.end(), p + pos, p + stretch.start);
            pos = stretch.start;
        }
        if (stretch.length > 0) {
            out.push_back(static_cast<uint8_t>(0x80 + stretch.length));
            out.push_back(p[pos]);
            pos += stretch.length;
        }
    }
}

}  // namespace devupdate::xsvf
