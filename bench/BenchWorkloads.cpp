#include "BenchWorkloads.h"

#include "ModelPart.h"
#include "ModelPartProgram.h"
#include "SvfReader.h"
#include "SvfToXsvf.h"
#include "UpdateFileWriter.h"
#include "XsvfWriter.h"

#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>

using namespace devupdate;
using namespace devupdate::xsvf;
using namespace devupdate::update;
using namespace devupdate::devsim;
using namespace devupdate::svf;
using namespace devupdate::mkupd;
using namespace devupdate::xsvfgen;

namespace {

constexpr unsigned FIRMWARE_BLOCK = 998;

// Deterministic bytes without long runs, so that nothing packs or repeats.
std::vector<uint8_t> PseudoRandomBytes(size_t count, uint32_t seed)
{
    std::vector<uint8_t> bytes(count);
    for (uint8_t& b : bytes) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(seed >> 24);
    }
    return bytes;
}

SDevsimConfig PacedDevice()
{
    SDevsimConfig config;
    config.baud = LINE_BAUD;
    config.realDelays = true;  // waits really take their time, with busy bytes
    return config;
}

std::vector<uint8_t> SingleTargetFile(const std::string& name, unsigned type, std::vector<uint8_t> data)
{
    mkupd::SUpdateFile file;
    file.version = mkupd::FileVersion::V1_01;
    mkupd::SUpdateTarget target;
    target.number = 1;
    target.name = name;
    target.type = type;
    target.data = std::move(data);
    file.targets.push_back(std::move(target));
    return mkupd::WriteUpdateFile(file);
}

}  // namespace

SWorkload FirmwareWorkload(size_t imageBytes)
{
    SWorkload w;
    w.name = "firmware";
    w.description = std::to_string(imageBytes / 1024) + " KiB in blocks of 998 bytes, 1 busy byte each";
    w.device = PacedDevice();
    w.device.busyPerBlock = 1;
    const std::vector<uint8_t> blocks =
        mkupd::MakeFirmwareBlocks(PseudoRandomBytes(imageBytes, 7), FIRMWARE_BLOCK, false);
    w.updateFile = SingleTargetFile("Firmware", mkupd::TYPE_FIRMWARE, blocks);
    return w;
}

SWorkload ModelPartWorkload()
{
    SWorkload w;
    w.name = "xsvf-flash";
    w.description = "model part: IDCODE, erase (200 ms), program and verify 256 words";
    w.device = PacedDevice();
    w.updateFile = SingleTargetFile("Model part", mkupd::TYPE_XSVF,
                                    MakeModelPartProgram(PseudoRandomBytes(2 * MODEL_FLASH_WORDS, 11)));
    return w;
}

SWorkload TapMovesWorkload(unsigned pairs)
{
    SWorkload w;
    w.name = "xsvf-tap";
    w.description = std::to_string(pairs) + " XSIR/XSDR pairs (IDCODE read and checked)";
    w.device = PacedDevice();
    CXsvfWriter x;
    x.Repeat(0).EndIr(0).EndDr(0).RunTest(0).SdrSize(32).TdoMask(0x0FFFFFFF);
    for (unsigned i = 0; i < pairs; ++i)
        x.Sir(MODEL_IR_LENGTH, {INS_IDCODE}).SdrTdo(0, MODEL_IDCODE);
    x.Complete();
    w.updateFile = SingleTargetFile("TAP moves", mkupd::TYPE_XSVF, x.Stream());
    return w;
}

SWorkload SvfWorkload(const std::string& svfPath)
{
    std::ifstream in(svfPath, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in)
        throw std::runtime_error("cannot read " + svfPath);
    const std::string svf = text.str();
    SSvfConversion conversion;
    try {
        conversion = ConvertSvfToXsvf(svf);
    } catch (const std::exception& e) {
        throw std::runtime_error(svfPath + ": " + e.what());
    }
    SWorkload w;
    w.name = "svf";
    const std::string::size_type slash = svfPath.find_last_of('/');
    w.description = svfPath.substr(slash == std::string::npos ? 0 : slash + 1) + " converted to XSVF, " +
                    std::to_string(conversion.statistics.irScans + conversion.statistics.drScans) +
                    " scans, every scan checked";
    w.device = PacedDevice();
    w.device.svfScans = std::make_shared<const std::vector<SSvfScan>>(SvfScans(ReadSvf(svf)));
    w.updateFile = SingleTargetFile("Logic", mkupd::TYPE_XSVF, std::move(conversion.xsvf));
    return w;
}

SDevsimConfig SilentDevice()
{
    SDevsimConfig config = PacedDevice();
    config.powerOnDelay = std::chrono::hours(1);
    return config;
}

SDevsimConfig SilentAfterStartDevice()
{
    SDevsimConfig config = PacedDevice();
    SFaultRule silent;
    silent.phase = EPhase::Block;
    silent.nth = 1;
    silent.times = 0;
    silent.action = EFaultAction::Silent;
    config.faults.push_back(silent);
    return config;
}
