// The listing for people: numbering as the player counts, layouts, endings.
#include "XsvfBuilder.h"
#include "XsvfListing.h"

#include <gtest/gtest.h>

using namespace devupdate::xsvf;

TEST(XsvfListingTest, ListsEveryCommandNumberedFromOne)
{
    const auto stream = CXsvfBuilder()
                            .Comment("id \"x\"")
                            .Repeat(32)
                            .RunTest(1000)
                            .SdrSize(12)
                            .TdoMask({0x0F, 0xFF})
                            .Sir(8, {0x01})
                            .SdrTdo({0x00, 0x12}, {0x0A, 0xFF})
                            .SetSdrMasks({0x00, 0x01}, {0x00, 0xFF})
                            .SdrInc({0x00, 0x00}, {{0x11}, {0x22}})
                            .EndDr(1)
                            .EndIr(3)
                            .State(1)
                            .Wait(1, 6, 500)
                            .Sir2(9, {0x01, 0x80})
                            .Complete()
                            .Stream();
    EXPECT_EQ("1: XCOMMENT \"id \\x22x\\x22\"\n"
              "2: XREPEAT 32\n"
              "3: XRUNTEST 1000\n"
              "4: XSDRSIZE 12\n"
              "5: XTDOMASK 0x0fff\n"
              "6: XSIR 8 0x01\n"
              "7: XSDRTDO 0x0012 0x0aff\n"
              "8: XSETSDRMASKS 0x0001 0x00ff\n"
              "9: XSDRINC 0x0000 2 0x11 0x22\n"
              "10: XENDDR 1 (DRPAUSE)\n"
              "11: XENDIR 3 (illegal)\n"
              "12: XSTATE 1 (RUNTEST/IDLE)\n"
              "13: XWAIT 1 (RUNTEST/IDLE) 6 (DRPAUSE) 500\n"
              "14: XSIR2 9 0x0180\n"
              "15: XCOMPLETE\n",
              ListXsvf(stream));
}

struct SListingEnd {
    const char* name;
    std::vector<uint8_t> stream;
    const char* listing;
};

class XsvfListingEndTest : public ::testing::TestWithParam<SListingEnd> {};

TEST_P(XsvfListingEndTest, EndsWithANote)
{
    EXPECT_EQ(GetParam().listing, ListXsvf(GetParam().stream));
}

INSTANTIATE_TEST_SUITE_P(
    Endings, XsvfListingEndTest,
    ::testing::Values(
        SListingEnd{"Empty", {}, "-- the stream ends without XCOMPLETE\n"},
        SListingEnd{"NoXcomplete", CXsvfBuilder().Repeat(1).Stream(),
                    "1: XREPEAT 1\n-- the stream ends without XCOMPLETE\n"},
        SListingEnd{"TruncatedData", CXsvfBuilder().SdrSize(16).Code(3).Byte(0xAB).Stream(),
                    "1: XSDRSIZE 16\n2: XSDR ...\n-- the stream ends within this command\n"},
        SListingEnd{"TruncatedComment", CXsvfBuilder().Code(22).Byte('a').Stream(),
                    "1: XCOMMENT ...\n-- the stream ends within this command\n"},
        SListingEnd{"Unsupported", CXsvfBuilder().Code(200).Complete().Stream(),
                    "1: Unknown (code 200)\n-- unsupported command: the player stops here\n"},
        SListingEnd{"Reserved5", CXsvfBuilder().Code(5).Stream(),
                    "1: Reserved5\n-- unsupported command: the player stops here\n"},
        SListingEnd{"Overflow", CXsvfBuilder().SdrSize(56001).Complete().Stream(),
                    "1: XSDRSIZE 56001\n-- length over the player's buffers: the player stops "
                    "here (data overflow)\n"},
        // Times and lengths are unsigned 32-bit values, as the device takes them.
        SListingEnd{"ValuesOf2To31AndMore",
                    CXsvfBuilder().RunTest(0xFFFFFFFF).Wait(1, 1, 0x80000000).SdrSize(0x80000000).Stream(),
                    "1: XRUNTEST 4294967295\n2: XWAIT 1 (RUNTEST/IDLE) 1 (RUNTEST/IDLE) 2147483648\n"
                    "3: XSDRSIZE 2147483648\n-- length over the player's buffers: the player stops "
                    "here (data overflow)\n"},
        SListingEnd{"BytesAfterXcomplete", {0x00, 0x07, 0x01},
                    "1: XCOMPLETE\n-- 2 bytes after XCOMPLETE are not played\n"}),
    [](const auto& info) { return std::string(info.param.name); });
