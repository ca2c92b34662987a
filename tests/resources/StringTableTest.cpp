#include "StringTable.h"

#include <gtest/gtest.h>

using namespace devupdate;
using namespace devupdate::res;

namespace {

struct TextCase {
    int id;
    const char* text;
};

class StringTableTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(StringTableTest, HoldsTheExactText)
{
    EXPECT_EQ(res::LoadString(GetParam().id), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    EveryText, StringTableTest,
    ::testing::Values(
        TextCase{101, "Inf&o about Update..."},
        TextCase{102,
                 "If you cancel the software upgrade the device may not be operable.\n\n"
                 "In this case you will have to do the software upgrade later on.\n\n"
                 "Do you really want to cancel the software upgrade ?"},
        TextCase{103, "Connect device, select com port and update file then press update button and "
                      "switch device on."},
        TextCase{104, "Error: wrong Fileformat in %s.\n"},
        TextCase{105, "No file selected, select file !"},
        TextCase{106, "Error: File '%s' not found.\n"},
        TextCase{107, "Error: %s is wrong version of update file\n%s.\nExpected version %s !"},
        TextCase{108, "Updatefiles (*.upd)|*.upd|all files (*.*)|*.*||"},
        TextCase{109, "No com port selected, select com port !"},
        TextCase{110, "Error: %s in use or does not exist.\n"},
        TextCase{111, "Connect device, switch device off then on"},
        TextCase{112, "Update cancelled - wrong fileformat in %s."},
        TextCase{113, "CRC error. File possibly damaged."},
        TextCase{114, "Failed: Target is not responding"},
        TextCase{115, "running update"},
        TextCase{116, "unsuccessful"},
        TextCase{117, "%d of %d targets updated successfully."},
        TextCase{118, "Update cancelled by user"},
        TextCase{119, "Wrong answer. Update cancelled."},
        TextCase{120, "missing target"},
        TextCase{121, "update unknown"},
        TextCase{122, "cancelled"},
        TextCase{123, "ok"},
        TextCase{124, "unknown error"},
        TextCase{125, "TDO mismatch"},
        TextCase{126, "TDO mismatch and exceeded max retries"},
        TextCase{127, "Unsupported XSVF command"},
        TextCase{128, "Illegal state specification"},
        TextCase{129, "data overflow"},
        TextCase{130, "debug file error"},
        TextCase{131, "file read error"},
        TextCase{132, "multiple crc error"},
        TextCase{133, "parameter error in function ReadTdoBitsequenz"}));

TEST(StringTable, UnknownIdsLoadEmpty)
{
    EXPECT_EQ(res::LoadString(100), "");
    EXPECT_EQ(res::LoadString(134), "");
}

TEST(StringTable, FormatFillsPlaceholders)
{
    EXPECT_EQ(res::Format(res::LoadString(res::IDS_TARGETS_UPDATED).c_str(), 2, 3),
              "2 of 3 targets updated successfully.");
    EXPECT_EQ(res::Format("%s", ""), "");
}

}  // namespace
