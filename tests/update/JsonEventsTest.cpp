// The machine-readable output's texts: every line parses, and a text reads
// back as written where it is valid UTF-8, byte by byte as U+00XX elsewhere.

#include "JsonEvents.h"

#include <gtest/gtest.h>

using namespace devupdate::update;

namespace {

TEST(JsonEventsTest, EveryTextReadsBackAsItsOneEncoding)
{
    const struct {
        std::string written;
        std::string read;
    } cases[] = {
        {"plain \"quoted\" \\ /", "plain \"quoted\" \\ /"},
        {"\x01\x1b[2J\t\x7f", "\x01\x1b[2J\t\x7f"},
        {"\xc3\xa4\xe2\x82\xac\xf0\x9f\x94\xa7", "\xc3\xa4\xe2\x82\xac\xf0\x9f\x94\xa7"},  // 2, 3 and 4 bytes
        {"A\xff", "A\xc3\xbf"},
        {"\xe2\x82", "\xc3\xa2\xc2\x82"},          // a sequence cut short
        {"\xc0\xaf", "\xc3\x80\xc2\xaf"},          // overlong
        {"\xed\xa0\x80", "\xc3\xad\xc2\xa0\xc2\x80"},  // a surrogate
    };
    for (const auto& c : cases) {
        JsonObject event = JsonEvent(events::name::MESSAGE);
        event[events::field::TEXT] = c.written;
        event[events::field::RECORDS] = {{{events::field::NAME, c.written}}};
        const std::string line = JsonLine(event);
        ASSERT_EQ(line.back(), '\n');
        const nlohmann::json read = nlohmann::json::parse(line);
        EXPECT_EQ(JsonTextOf(read, events::field::TEXT), c.read) << line;
        EXPECT_EQ(read.at(events::field::RECORDS).at(0).at(events::field::NAME), c.read) << line;
    }
}

TEST(JsonEventsTest, ReadingTakesOnlyFieldsOfTheRightKind)
{
    const nlohmann::json event = nlohmann::json::parse(R"({"event":5,"text":"t","target":"1","first":1,"last":true})");
    EXPECT_EQ(JsonTextOf(event, events::field::EVENT), "");
    EXPECT_EQ(JsonTextOf(event, events::field::TEXT), "t");
    EXPECT_EQ(JsonNumberOf(event, events::field::TARGET, -1), -1);
    EXPECT_FALSE(JsonFlagOf(event, events::field::FIRST));
    EXPECT_TRUE(JsonFlagOf(event, events::field::LAST));
    EXPECT_EQ(JsonWithFields(R"("port":"Com1")", R"({"event":"answered"})" "\n"),
              "{\"port\":\"Com1\",\"event\":\"answered\"}\n");
}

}  // namespace
