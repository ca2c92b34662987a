#pragma once
// The SVF expectation target: a JTAG part that answers what an SVF file
// expects and checks that the scans it sees are the ones the file asks for.
//
// Each scan (from a Capture with at least one shifted bit to its Update) is
// compared with the next scan of the file: kind (IR or DR), length and every
// TDI bit, header and trailer included. While it shifts, TDO gives the
// expected bits where the file's mask compares them and the inverted
// expected bits elsewhere, so a player that compares bits the file leaves
// open fails. Passes through Capture without a shift (a move across
// Capture-DR to Pause-DR, say) are no scans and are not counted.

#include "JtagPart.h"
#include "SvfReader.h"

#include <cstddef>
#include <string>
#include <vector>

namespace devupdate::devsim {

struct SSvfCheck {
    size_t expected = 0;        // scans in the file
    size_t seen = 0;            // scans shifted so far (one still open included)
    size_t matched = 0;
    std::string firstMismatch;  // empty while every scan matched
    bool Passed() const { return seen == expected && matched == expected; }
};

class CSvfTarget : public CJtagPart {
public:
    explicit CSvfTarget(std::vector<svf::SSvfScan> scans) : m_scans(std::move(scans)) {}

    void Reset() override {}
    void Capture(bool ir) override;
    bool Tdo() const override;
    void Shift(bool ir, bool tdi) override;
    void Update(bool ir) override;
    std::string RegisterName(bool ir) const override { return ir ? "IR" : "DR"; }

    // The result so far; a scan shifted but not yet updated (a file that
    // ends in a Pause state) is judged as it stands.
    SSvfCheck Check() const;

private:
    // Empty when the scan matches the file's scan at index; else why not.
    std::string Compare(size_t index) const;

    std::vector<svf::SSvfScan> m_scans;
    size_t m_next = 0;
    size_t m_matched = 0;
    std::string m_firstMismatch;
    bool m_open = false;   // between Capture and Update
    bool m_ir = false;
    std::vector<bool> m_answer;     // TDO of the scan in progress, in shift order
    std::vector<bool> m_shifted;    // TDI bits shifted in so far
};

}  // namespace devupdate::devsim
