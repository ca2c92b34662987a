#pragma once
// What hangs behind the TAP controller: the model part, or the SVF
// expectation target. The controller calls these on its clock edges.

#include <string>

namespace devupdate::devsim {

class CJtagPart {
public:
    virtual ~CJtagPart() = default;

    // Test-Logic-Reset.
    virtual void Reset() = 0;
    // Capture-IR (ir) or Capture-DR.
    virtual void Capture(bool ir) = 0;
    // Level on TDO while in a Shift state.
    virtual bool Tdo() const = 0;
    // One bit shifted: tdi goes in, the TDO bit moves on.
    virtual void Shift(bool ir, bool tdi) = 0;
    // Entering Update-IR / Update-DR.
    virtual void Update(bool ir) = 0;
    // Name of the register a scan of this kind goes to, for the scan log.
    virtual std::string RegisterName(bool ir) const = 0;
};

}  // namespace devupdate::devsim
