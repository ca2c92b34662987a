#include "UpdateFileFixture.h"
#include "UpdateFileReader.h"
#include "UpdateRunState.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace devupdate::link;
using namespace devupdate::xsvf;
using namespace devupdate::update;
using namespace devupdate::mkupd;

namespace {

// A run state positioned at the data of one record, as the worker leaves it.
class ReaderTest : public ::testing::Test {
protected:
    void OpenRecord(const std::string& version, const std::string& record)
    {
        const std::string file = "Firmwareupdate-Fileformat-" + version + "\n01\n01 T\n" + record;
        m_run.m_fileName = m_folder.Write("r.upd", file);
        ASSERT_TRUE(m_run.CheckUpdateFileHeader().ok);
        unsigned number = 0;
        unsigned flags = 0;
        unsigned type = TARGET_FIRMWARE;
        unsigned length = 0;
        ASSERT_TRUE(ReadHexField(m_run.m_updateFile, 2, number));
        if (m_run.m_fileVersion == EFileVersion::V1_01) {
            ASSERT_TRUE(ReadHexField(m_run.m_updateFile, 4, flags));
            ASSERT_TRUE(ReadHexField(m_run.m_updateFile, 4, type));
        }
        ASSERT_TRUE(ReadHexField(m_run.m_updateFile, 8, length));
        m_run.m_targetFlags = flags;
        m_run.m_targetType = type;
        m_run.m_dataLength = length;
        m_run.m_dataConsumed = 0;
        m_run.m_runPending = 0;
        m_run.m_dataEnd = false;
    }

    std::vector<uint8_t> ReadAll()
    {
        std::vector<uint8_t> out;
        uint8_t byte = 0;
        while (m_run.ReadDataByte(byte))
            out.push_back(byte);
        return out;
    }

    std::string Rest()
    {
        std::string rest;
        for (int c = std::fgetc(m_run.m_updateFile); c != EOF; c = std::fgetc(m_run.m_updateFile))
            rest += static_cast<char>(c);
        return rest;
    }

    CTempFolder m_folder;
    CUpdateRunState m_run;
};

TEST_F(ReaderTest, HexTextRecordIsOneBlockOfOneByte)
{
    OpenRecord("V1.00", "0100000003000141\n00\n");
    EXPECT_EQ(ReadAll(), MakeBytes({0x00, 0x01, 0x41}));
    EXPECT_TRUE(m_run.m_dataEnd);
    EXPECT_EQ(Rest(), "\n00\n");
}

TEST_F(ReaderTest, RawBytesAreDeliveredAsStored)
{
    OpenRecord("V1.01", std::string("010000FEFF00000004") + std::string("\x00\x02\xff\x0a", 4) + "\n00");
    EXPECT_EQ(ReadAll(), MakeBytes({0x00, 0x02, 0xFF, 0x0A}));
    EXPECT_TRUE(m_run.m_dataEnd);
}

TEST_F(ReaderTest, PackedRunsUnpackAndEndWithTheLastByte)
{
    OpenRecord("V1.01", std::string("010001FF0000000006") + std::string("\x03\x41\x42\x43\x84\x7f", 6) + "\n00");
    std::vector<uint8_t> out;
    uint8_t byte = 0;
    for (int i = 0; i < 6; ++i) {
        ASSERT_TRUE(m_run.ReadDataByte(byte));
        out.push_back(byte);
        EXPECT_FALSE(m_run.m_dataEnd) << "after byte " << i;
    }
    ASSERT_TRUE(m_run.ReadDataByte(byte));
    out.push_back(byte);
    EXPECT_TRUE(m_run.m_dataEnd);
    EXPECT_EQ(out, MakeBytes({0x41, 0x42, 0x43, 0x7F, 0x7F, 0x7F, 0x7F}));
}

TEST_F(ReaderTest, ReadsAfterTheEndFailWithoutTouchingTheFile)
{
    OpenRecord("V1.01", std::string("010000FEFF00000001") + "Z" + "XYZ");
    ReadAll();
    uint8_t byte = 0;
    EXPECT_FALSE(m_run.ReadDataByte(byte));
    EXPECT_FALSE(m_run.ReadDataByte(byte));
    EXPECT_EQ(Rest(), "XYZ");
}

struct SBadData {
    const char* name;
    std::string record;
    size_t deliveredBeforeFailure;
};

class BadDataTest : public ReaderTest, public ::testing::WithParamInterface<SBadData> {};

TEST_P(BadDataTest, DeliveryStopsWithoutReachingTheEnd)
{
    OpenRecord("V1.01", GetParam().record);
    EXPECT_EQ(ReadAll().size(), GetParam().deliveredBeforeFailure);
    EXPECT_FALSE(m_run.m_dataEnd);
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, BadDataTest,
    ::testing::Values(SBadData{"ControlByteZero", std::string("010001FF0000000003") + std::string("\x00\x41\x42", 3), 0},
                      SBadData{"ControlByte80", std::string("010001FF0000000003") + std::string("\x80\x41\x42", 3), 0},
                      SBadData{"RunPastStoredLength", std::string("010001FF0000000003") + std::string("\x03\x41\x42\x43", 4), 0},
                      SBadData{"RepeatPastStoredLength",
                               std::string("010001FF0000000003") + std::string("\x01\x41\x84\x42", 4), 1},
                      SBadData{"StoredLengthZero", std::string("010000FEFF00000000") + "ABCD", 0},
                      SBadData{"PackedLengthZero", std::string("010001FF0000000000") + std::string("\x01\x41", 2), 0},
                      SBadData{"FileEndsEarly", std::string("010000FEFF00000005") + "AB", 2},
                      SBadData{"PackedFileEndsEarly", std::string("010001FF0000000004") + std::string("\x03\x41", 2), 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReaderTest, HexTextWithANonHexCharacterFails)
{
    OpenRecord("V1.00", "010000000341GG\n");
    EXPECT_EQ(ReadAll(), MakeBytes({0x41}));
    EXPECT_FALSE(m_run.m_dataEnd);
}

TEST_F(ReaderTest, SkippingARawTargetMovesOverItsStoredBytes)
{
    OpenRecord("V1.01", "0100001234" "00000010" "0123456789abcdef" "\n02");
    ASSERT_TRUE(m_run.SkipTargetRest());
    unsigned next = 0;
    ASSERT_TRUE(ReadHexField(m_run.m_updateFile, 2, next));
    EXPECT_EQ(next, 2u);
}

TEST_F(ReaderTest, SkippingAHexTextTargetMovesOverTwiceItsLength)
{
    OpenRecord("V1.00", "0100000010" + std::string(32, 'A') + "\n03");
    uint8_t byte = 0;
    ASSERT_TRUE(m_run.ReadDataByte(byte));
    ASSERT_TRUE(m_run.SkipTargetRest());
    unsigned next = 0;
    ASSERT_TRUE(ReadHexField(m_run.m_updateFile, 2, next));
    EXPECT_EQ(next, 3u);
}

TEST_F(ReaderTest, ProgressIsTheShareOfStoredBytesConsumed)
{
    m_run.m_currentTarget = 1;
    m_run.m_dataLength = 0;
    m_run.m_dataConsumed = 0;
    m_run.UpdateProgress();
    EXPECT_EQ(m_run.m_targetResult[1].percent, 0);
    EXPECT_EQ(m_run.m_refreshPending, 1);

    m_run.m_dataLength = 0xFFFFFFFFu;
    m_run.m_dataConsumed = 0xFFFFFFF0u;
    m_run.UpdateProgress();
    EXPECT_EQ(m_run.m_targetResult[1].percent, 99);

    m_run.m_dataLength = 3;
    m_run.m_dataConsumed = 1;
    m_run.UpdateProgress();
    EXPECT_EQ(m_run.m_targetResult[1].percent, 33);

    m_run.m_currentTarget = MAX_TARGETS;  // records past the tenth have no row
    m_run.UpdateProgress();
    EXPECT_EQ(m_run.m_targetResult[MAX_TARGETS - 1].percent, 0);
}

struct SHexCase {
    const char* text;
    int width;
    bool ok;
    unsigned value;
    const char* rest;
};

class ReadHexFieldTest : public ::testing::TestWithParam<SHexCase> {};

TEST_P(ReadHexFieldTest, ReadsAtMostTheWidthAfterWhiteSpace)
{
    const SHexCase& c = GetParam();
    FILE* file = fmemopen(const_cast<char*>(c.text), std::strlen(c.text), "rb");
    ASSERT_NE(file, nullptr);
    unsigned value = 12345;
    EXPECT_EQ(ReadHexField(file, c.width, value), c.ok);
    if (c.ok) {
        EXPECT_EQ(value, c.value);
    }
    std::string rest;
    for (int ch = std::fgetc(file); ch != EOF; ch = std::fgetc(file))
        rest += static_cast<char>(ch);
    EXPECT_EQ(rest, c.rest);
    std::fclose(file);
}

INSTANTIATE_TEST_SUITE_P(Fields, ReadHexFieldTest,
                         ::testing::Values(SHexCase{"0A", 2, true, 0x0A, ""}, SHexCase{" \r\n fe1", 2, true, 0xFE, "1"},
                                           SHexCase{"FEFF0000", 4, true, 0xFEFF, "0000"},
                                           SHexCase{"ffffffff9", 8, true, 0xFFFFFFFF, "9"},
                                           SHexCase{"5 3", 2, true, 5, " 3"}, SHexCase{"0x12", 2, true, 0, "x12"},
                                           SHexCase{"-1", 2, false, 0, "-1"}, SHexCase{"+1", 2, false, 0, "+1"},
                                           SHexCase{"", 2, false, 0, ""}, SHexCase{"  ", 2, false, 0, ""},
                                           SHexCase{"g1", 2, false, 0, "g1"}));

}  // namespace
