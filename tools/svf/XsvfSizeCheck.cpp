#include "XsvfSizeCheck.h"

#include "SvfReader.h"
#include "XsvfInfo.h"

#include <string>

using namespace devupdate::xsvf;

namespace devupdate::svf {

namespace {

constexpr uint64_t SCAN_BITS = static_cast<uint64_t>(MAX_SHIFT_BITS);

// A header or trailer: its sticky length and where it was set.
struct SPad {
    const char* name;
    long bits = 0;
    int line = 0;
};

// At most XSDRSIZE, XENDDR, XRUNTEST, XTDOMASK and XSDRTDO per piece of a scan.
uint64_t ScanBound(uint64_t bits)
{
    const uint64_t bytes = (bits + 7) / 8;
    const uint64_t pieces = bits / SCAN_BITS + 1;
    return 3 * bytes + 14 + 6 * pieces;
}

class CSizeCheck {
public:
    explicit CSizeCheck(uint64_t limit) : m_limit(limit) {}

    void Statement(const SSvfStatementSize& s)
    {
        for (SPad* pad : {&m_hir, &m_hdr, &m_tir, &m_tdr}) {
            if (s.name == pad->name && s.length >= 0) {
                pad->bits = s.length;
                pad->line = s.line;
                return;
            }
        }
        if ((s.name == "SIR" || s.name == "SDR") && s.length >= 0) {
            Scan(s, s.name == "SIR");
            return;
        }
        // A STATE path costs one XSTATE per state; RUNTEST at most one XWAIT or two XSTATE.
        Add(8 + 2 * static_cast<uint64_t>(s.tokens), s.line, nullptr);
    }

private:
    void Scan(const SSvfStatementSize& s, bool ir)
    {
        const SPad& header = ir ? m_hir : m_hdr;
        const SPad& trailer = ir ? m_tir : m_tdr;
        const uint64_t bits = static_cast<uint64_t>(header.bits + s.length + trailer.bits);
        if (ir && bits > SCAN_BITS)
            throw CSvfError(s.line, "SIR of " + std::to_string(bits) + " bits is longer than XSIR2 can shift (" +
                                        std::to_string(SCAN_BITS) + ")");
        const SPad& longer = header.bits >= trailer.bits ? header : trailer;
        Add(ScanBound(bits), s.line, longer.bits > s.length ? &longer : nullptr);
    }

    void Add(uint64_t bytes, int line, const SPad* cause)
    {
        m_bound += bytes;
        if (m_bound <= m_limit)
            return;
        const std::string limit = m_limit == MAX_XSVF_BYTES ? "4 GiB" : std::to_string(m_limit) + " bytes";
        if (cause != nullptr)
            throw CSvfError(cause->line, std::string(cause->name) + " " + std::to_string(cause->bits) +
                                             " makes every scan so long that the XSVF stream would exceed " +
                                             limit + " (at line " + std::to_string(line) + ")");
        throw CSvfError(line, "the XSVF stream would exceed " + limit + ", more than an update file holds");
    }

    uint64_t m_limit;
    uint64_t m_bound = 0;
    SPad m_hir{"HIR"}, m_hdr{"HDR"}, m_tir{"TIR"}, m_tdr{"TDR"};
};

}  // namespace

void CheckXsvfSize(std::istream& in, uint64_t limit)
{
    CSizeCheck check(limit);
    ForEachSvfStatementSize(in, [&](const SSvfStatementSize& s) { check.Statement(s); });
}

}  // namespace devupdate::svf
