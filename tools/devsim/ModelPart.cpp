#include "ModelPart.h"

#include <algorithm>

namespace devupdate::devsim {

CModelPart::CModelPart()
{
    m_flash.fill(MODEL_ERASED_WORD);
}

void CModelPart::Reset()
{
    m_instruction = INS_IDCODE;
    m_address = 0;
}

int CModelPart::RegisterLength(bool ir) const
{
    if (ir)
        return MODEL_IR_LENGTH;
    switch (m_instruction) {
    case INS_IDCODE: return 32;
    case INS_ADDRESS: return 8;
    case INS_ERASE: return 8;
    case INS_PROGRAM: return 16;
    case INS_VERIFY: return 16;
    default: return 1;
    }
}

void CModelPart::Capture(bool ir)
{
    m_length = RegisterLength(ir);
    if (ir) {
        m_shift = MODEL_IR_CAPTURE;
        return;
    }
    switch (m_instruction) {
    case INS_IDCODE: m_shift = MODEL_IDCODE; break;
    case INS_ADDRESS: m_shift = m_address; break;
    case INS_ERASE: m_shift = IsBlank() ? 1 : 0; break;
    case INS_PROGRAM:
    case INS_VERIFY: m_shift = m_flash[m_address]; break;
    default: m_shift = 0; break;
    }
}

void CModelPart::Shift(bool /*ir*/, bool tdi)
{
    // TDI enters at the top of the register, TDO leaves at bit 0.
    m_shift >>= 1;
    if (tdi)
        m_shift |= uint64_t{1} << (m_length - 1);
}

void CModelPart::Update(bool ir)
{
    const uint64_t value = m_shift & ((uint64_t{1} << m_length) - 1);
    if (ir) {
        m_instruction = static_cast<uint8_t>(value);
        return;
    }
    switch (m_instruction) {
    case INS_ADDRESS: m_address = static_cast<uint8_t>(value); break;
    case INS_ERASE: m_flash.fill(MODEL_ERASED_WORD); break;
    case INS_PROGRAM:
        m_flash[m_address] &= static_cast<uint16_t>(value);
        ++m_address;
        break;
    case INS_VERIFY: ++m_address; break;
    default: break;
    }
}

bool CModelPart::IsBlank() const
{
    return std::all_of(m_flash.begin(), m_flash.end(),
                       [](uint16_t w) { return w == MODEL_ERASED_WORD; });
}

const char* CModelPart::InstructionName(uint8_t instruction)
{
    switch (instruction) {
    case INS_IDCODE: return "IDCODE";
    case INS_ADDRESS: return "ADDRESS";
    case INS_ERASE: return "ERASE";
    case INS_PROGRAM: return "PROGRAM";
    case INS_VERIFY: return "VERIFY";
    default: return "BYPASS";
    }
}

}  // namespace devupdate::devsim
