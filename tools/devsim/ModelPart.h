#pragma once
// The model part on the simulated device's JTAG pins: a small flash device
// made up for this project, so that an XSVF stream can really identify,
// erase, program and verify something, and a wrong stream really fails.
//
// Instruction register: 8 bits. Capture-IR loads 0x01 (the two lowest bits
// "01" as every 1149.1 part does). Test-Logic-Reset selects IDCODE and sets
// the address register to 0. Unknown instructions act as BYPASS.
//
// Data registers (bit 0 is the first bit shifted in and out):
//
// | Instruction | Code | DR bits | Capture-DR loads      | Update-DR does                 |
// |-------------|------|---------|-----------------------|--------------------------------|
// | IDCODE      | 0x01 | 32      | MODEL_IDCODE          | nothing                        |
// | ADDRESS     | 0x02 | 8       | the address register  | address := DR                  |
// | ERASE       | 0x03 | 8       | status: bit 0 = 1 when every word is 0xFFFF | every word := 0xFFFF |
// | PROGRAM     | 0x04 | 16      | flash[address]        | flash[address] &= DR; address += 1 |
// | VERIFY      | 0x05 | 16      | flash[address]        | address += 1                   |
// | BYPASS      | 0xFF | 1       | 0                     | nothing                        |
//
// Flash: FLASH_WORDS words of 16 bits, erased state 0xFFFF; programming can
// only clear bits, so programming over old contents without an erase fails
// the verify. The address wraps from 255 to 0.
//
// Typical use: IDCODE check with XSIR 0x01 and a 32-bit XSDRTDO; ERASE with
// one 8-bit XSDR (then an 8-bit XSDRTDO expecting 0x01 checks the blank
// state); ADDRESS 0; PROGRAM with one 16-bit XSDR per word; ADDRESS 0;
// VERIFY with one 16-bit XSDRTDO per word (TDI ignored, expected = word).

#include "JtagPart.h"

#include <array>
#include <cstdint>

namespace devupdate::devsim {

constexpr uint32_t MODEL_IDCODE = 0x0D5E1001;  // made up; bit 0 set as 1149.1 requires
constexpr int MODEL_IR_LENGTH = 8;
constexpr uint8_t MODEL_IR_CAPTURE = 0x01;
constexpr uint8_t INS_IDCODE = 0x01;
constexpr uint8_t INS_ADDRESS = 0x02;
constexpr uint8_t INS_ERASE = 0x03;
constexpr uint8_t INS_PROGRAM = 0x04;
constexpr uint8_t INS_VERIFY = 0x05;
constexpr uint8_t INS_BYPASS = 0xFF;
constexpr int MODEL_FLASH_WORDS = 256;
constexpr uint16_t MODEL_ERASED_WORD = 0xFFFF;

using ModelFlash = std::array<uint16_t, MODEL_FLASH_WORDS>;

class CModelPart : public CJtagPart {
public:
    CModelPart();

    // Test-Logic-Reset.
    void Reset() override;
    // The TAP controller's actions; ir selects the instruction register.
    void Capture(bool ir) override;
    // Level on TDO while in a Shift state: bit 0 of the shift register.
    bool Tdo() const override { return (m_shift & 1) != 0; }
    void Shift(bool ir, bool tdi) override;
    void Update(bool ir) override;
    // "IR", or the current instruction's name.
    std::string RegisterName(bool ir) const override { return ir ? "IR" : InstructionName(m_instruction); }

    // Length of the register that the next scan of this kind shifts.
    int RegisterLength(bool ir) const;
    uint8_t Instruction() const { return m_instruction; }
    uint8_t Address() const { return m_address; }
    const ModelFlash& Flash() const { return m_flash; }
    void SetFlash(const ModelFlash& flash) { m_flash = flash; }
    // Name of an instruction for the scan log ("IDCODE", ..., "BYPASS").
    static const char* InstructionName(uint8_t instruction);

private:
    bool IsBlank() const;

    uint8_t m_instruction = INS_IDCODE;
    uint8_t m_address = 0;
    ModelFlash m_flash;
    uint64_t m_shift = 0;   // the shift register of the current scan
    int m_length = 1;       // its length in bits
};

}  // namespace devupdate::devsim
