#include "SampleUpdateFile.h"

#include "ModelPartProgram.h"
#include "UpdateFileWriter.h"

using namespace devupdate::xsvf;
using namespace devupdate::update;
using namespace devupdate::xsvfgen;

namespace devupdate::mkupd {

std::vector<uint8_t> SampleFirmwareImage()
{
    // 4000 bytes: a stretch of erased flash (packs well) and varying code.
    std::vector<uint8_t> image(4000, 0xFF);
    for (size_t i = 1024; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i * 31 + 7);
    return image;
}

std::vector<uint8_t> SampleLogicImage()
{
    std::vector<uint8_t> image(512);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>((i * 13) ^ (i >> 3));
    return image;
}

std::vector<uint8_t> MakeSampleUpdateFile()
{
    SUpdateTarget firmware;
    firmware.number = 1;
    firmware.name = "Controller";
    firmware.type = TYPE_FIRMWARE;
    firmware.packed = true;
    firmware.data = MakeFirmwareBlocks(SampleFirmwareImage(), 998, true);

    SUpdateTarget logic;
    logic.number = 2;
    logic.name = "Logic";
    logic.type = TYPE_XSVF;
    logic.packed = true;
    logic.data = MakeModelPartProgram(SampleLogicImage());

    return WriteUpdateFile({FileVersion::V1_01, {firmware, logic}});
}

}  // namespace devupdate::mkupd
