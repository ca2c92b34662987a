#pragma once
// XSVF streams for the simulated device's model part (tools/devsim/ModelPart.h).

#include "XsvfWriter.h"

namespace devupdate::xsvfgen {

// A stream that checks the IDCODE (version bits 31..28 masked), erases the
// flash (with a 200 ms wait in Run-Test/Idle) and checks it blank, programs
// the image from word 0 on (each word high byte first; an odd last byte is
// paired with 0xFF), verifies all 256 words (the rest must read 0xFFFF) and
// ends with XCOMPLETE. Throws std::invalid_argument for an image of more
// than 512 bytes.
Bytes MakeModelPartProgram(const Bytes& image);

}  // namespace devupdate::xsvfgen
