#include "PrintableText.h"

#include <gtest/gtest.h>

#include <string>

using namespace devupdate::update;

TEST(PrintableText, ControlCharactersBecomeEscapesAndEverythingElseStays)
{
    struct Case {
        std::string in;
        std::string out;
    };
    const Case cases[] = {
        {"Firmware V2.1", "Firmware V2.1"},
        {"tab\there", "tab\there"},
        {"\x1b[2J\x1b]0;owned\x07", "\\x1b[2J\\x1b]0;owned\\x07"},
        {std::string("a\0b", 3), "a\\x00b"},
        {"line\r\nnext\x7f", "line\\x0d\\x0anext\\x7f"},
        {"Gr\xc3\xb6\xc3\x9f" "e \xe2\x82\xac", "Gr\xc3\xb6\xc3\x9f" "e \xe2\x82\xac"},  // UTF-8 kept
        {"csi\xc2\x9b" "31m", "csi\\xc2\\x9b31m"},                                  // encoded C1
        {"csi\x9b" "31m", "csi\\x9b31m"},                                            // single-byte C1
        {"latin1 \xe9t\xe9", "latin1 \xe9t\xe9"},                                    // kept as it is
        {"cut \xe2\x82", "cut \xe2\\x82"},                                           // broken sequence
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PrintableText(c.in), c.out) << c.in;
    }
}
