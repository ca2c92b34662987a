#include "ModelPartProgram.h"

#include "ModelPart.h"

#include <stdexcept>

using namespace devupdate::xsvf;
using namespace devupdate::devsim;

namespace devupdate::xsvfgen {

namespace {

constexpr uint32_t ERASE_WAIT_US = 200000;
constexpr uint32_t IDCODE_MASK = 0x0FFFFFFF;  // the version nibble may differ between parts

Bytes Instruction(uint8_t code)
{
    return {code};
}

}  // namespace

Bytes MakeModelPartProgram(const Bytes& image)
{
    if (image.size() > 2 * MODEL_FLASH_WORDS)
        throw std::invalid_argument("model part image larger than its flash");
    ModelFlash words;
    words.fill(MODEL_ERASED_WORD);
    for (size_t i = 0; i < image.size(); ++i) {
        uint16_t& w = words[i / 2];
        if (i % 2 == 0)
            w = static_cast<uint16_t>(image[i] << 8 | 0xFF);
        else
            w = static_cast<uint16_t>((w & 0xFF00) | image[i]);
    }
    const size_t programmed = (image.size() + 1) / 2;

    CXsvfWriter x;
    x.Repeat(0).EndIr(0).EndDr(0).RunTest(0);

    x.Sir(MODEL_IR_LENGTH, Instruction(INS_IDCODE)).SdrSize(32);
    x.TdoMask(IDCODE_MASK).SdrTdo(0, MODEL_IDCODE);

    x.Sir(MODEL_IR_LENGTH, Instruction(INS_ERASE)).SdrSize(8);
    x.TdoMask(0x00).RunTest(ERASE_WAIT_US).Sdr(0).RunTest(0);
    x.TdoMask(0x01).SdrTdo(0, 0x01);

    // XSDR compares against whatever mask and expected value are loaded:
    // every unchecked scan group first loads an empty mask of its own size.
    x.Sir(MODEL_IR_LENGTH, Instruction(INS_ADDRESS)).TdoMask(0x00).Sdr(0);
    x.Sir(MODEL_IR_LENGTH, Instruction(INS_PROGRAM)).SdrSize(16).TdoMask(0x0000);
    for (size_t i = 0; i < programmed; ++i)
        x.Sdr(words[i]);

    x.Sir(MODEL_IR_LENGTH, Instruction(INS_ADDRESS)).SdrSize(8).TdoMask(0x00).Sdr(0);
    x.Sir(MODEL_IR_LENGTH, Instruction(INS_VERIFY)).SdrSize(16).TdoMask(0xFFFF);
    for (uint16_t w : words)
        x.SdrTdo(0, w);

    x.Sir(MODEL_IR_LENGTH, Instruction(INS_BYPASS)).Complete();
    return x.Stream();
}

}  // namespace devupdate::xsvfgen
