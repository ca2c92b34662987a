// The bundled sample: regenerated it is byte for byte the committed file,
// and it updates both its targets on the simulated device.

#include "SampleUpdateFile.h"
#include "UpdateRunFixture.h"

#include <fstream>
#include <iterator>

using namespace devupdate::link;
using namespace devupdate::xsvf;
using namespace devupdate::update;
using namespace devupdate::devsim;
using namespace devupdate::svf;
using namespace devupdate::mkupd;

namespace {

std::vector<uint8_t> ReadCommittedSample()
{
    std::ifstream in(SAMPLE_UPDATE_FILE, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(SampleUpdateFile, CommittedFileIsWhatTheGeneratorWrites)
{
    EXPECT_EQ(ReadCommittedSample(), MakeSampleUpdateFile()) << "regenerate it with: mkupd --sample samples/sample.upd";
}

using SampleRunTest = UpdateRunInFolderFixture;

TEST_F(SampleRunTest, UpdatesFirmwareAndProgramsTheModelPart)
{
    SDevsimConfig config;
    config.blockCrc = true;
    config.busyPerBlock = 1;
    StartDevice(config);
    RunUpdate(SAMPLE_UPDATE_FILE, std::chrono::seconds(60));
    EXPECT_EQ(m_run.Message(), "2 of 2 targets updated successfully.");
    EXPECT_EQ(m_device->Images()[1], SampleFirmwareImage());
    const std::vector<uint8_t> logic = SampleLogicImage();
    const ModelFlash flash = m_device->Flash();
    for (size_t word = 0; word < logic.size() / 2; ++word)
        ASSERT_EQ(flash[word], (logic[2 * word] << 8) | logic[2 * word + 1]) << "word " << word;

    std::ifstream trace("xsvf_debug.txt", std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(trace)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text.rfind("Start der Aufzeichnung\r\r\n\r\r\n", 0), 0u);
    EXPECT_NE(text.find("SUCCESS - Completed XSVF execution.\r\n"), std::string::npos);
}

}  // namespace
