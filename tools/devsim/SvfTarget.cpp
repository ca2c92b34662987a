#include "SvfTarget.h"

using namespace devupdate::svf;

namespace devupdate::devsim {

void CSvfTarget::Capture(bool ir)
{
    m_open = true;
    m_ir = ir;
    m_shifted.clear();
    m_answer.clear();
    if (m_next >= m_scans.size())
        return;
    const SSvfScan& scan = m_scans[m_next];
    m_answer.resize(scan.tdo.size());
    for (size_t i = 0; i < scan.tdo.size(); ++i)
        m_answer[i] = scan.mask[i] ? scan.tdo[i] : !scan.tdo[i];
}

bool CSvfTarget::Tdo() const
{
    const size_t position = m_shifted.size();
    if (position < m_answer.size())
        return m_answer[position];
    // Past the register's length the chain gives back what went in.
    if (!m_answer.empty())
        return m_shifted[position - m_answer.size()];
    return true;
}

void CSvfTarget::Shift(bool /*ir*/, bool tdi)
{
    if (m_open)
        m_shifted.push_back(tdi);
}

void CSvfTarget::Update(bool /*ir*/)
{
    if (!m_open)
        return;
    m_open = false;
    if (m_shifted.empty())
        return;  // only passed through Capture
    const std::string mismatch = Compare(m_next);
    if (mismatch.empty())
        ++m_matched;
    else if (m_firstMismatch.empty())
        m_firstMismatch = mismatch;
    ++m_next;
}

std::string CSvfTarget::Compare(size_t index) const
{
    const std::string seen = std::string(m_ir ? "SIR" : "SDR") + " of " + std::to_string(m_shifted.size()) + " bits";
    const std::string where = "scan " + std::to_string(index + 1);
    if (index >= m_scans.size())
        return where + ": " + seen + " is not in the file";
    const SSvfScan& scan = m_scans[index];
    const std::string expected = where + " (line " + std::to_string(scan.line) + "): ";
    if (scan.ir != m_ir || scan.tdi.size() != m_shifted.size())
        return expected + std::string(scan.ir ? "SIR" : "SDR") + " of " + std::to_string(scan.tdi.size()) +
               " bits expected, " + seen + " seen";
    for (size_t i = 0; i < m_shifted.size(); ++i) {
        if (m_shifted[i] != scan.tdi[i])
            return expected + "TDI bit " + std::to_string(i) + " is " + (m_shifted[i] ? "1" : "0") + ", expected " +
                   (scan.tdi[i] ? "1" : "0");
    }
    return {};
}

SSvfCheck CSvfTarget::Check() const
{
    SSvfCheck check{m_scans.size(), m_next, m_matched, m_firstMismatch};
    if (m_open && !m_shifted.empty()) {
        const std::string mismatch = Compare(m_next);
        ++check.seen;
        if (mismatch.empty())
            ++check.matched;
        else if (check.firstMismatch.empty())
            check.firstMismatch = mismatch;
    }
    if (check.firstMismatch.empty() && check.seen < check.expected)
        check.firstMismatch = "only " + std::to_string(check.seen) + " of " + std::to_string(check.expected) +
                              " scans seen";
    return check;
}

}  // namespace devupdate::devsim
