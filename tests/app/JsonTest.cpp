// The one door to JSON: hostile text is refused with a reason and never throws,
// within the depth and length given; what is written is JSON whatever the bytes.
#include <gtest/gtest.h>

#include <string>

#include "app/Json.h"

namespace velmora {
namespace {

constexpr JsonLimits kLimits{1024, 4};

struct RefusedJson {
    const char* name;
    std::string text;
    std::string error;
};

class RefusedJsonTest : public ::testing::TestWithParam<RefusedJson> {};

TEST_P(RefusedJsonTest, IsRefusedWithItsReason) {
    std::string error;
    EXPECT_FALSE(parseJson(GetParam().text, kLimits, error));
    EXPECT_EQ(error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, RefusedJsonTest,
    ::testing::Values(RefusedJson{"TooDeep", "[[[[[1]]]]]", "nested too deep"},
                      RefusedJson{"TooDeepObjects", R"({"a":{"b":{"c":{"d":{"e":{}}}}}})", "nested too deep"},
                      RefusedJson{"FarTooDeep", std::string(500, '[') + std::string(500, ']'),
                                  "nested too deep"},
                      RefusedJson{"TooLong", "\"" + std::string(1100, 'a') + "\"", "longer than 1024 bytes"},
                      RefusedJson{"BeyondSixtyFourBits", "9223372036854775808", "number too large"},
                      RefusedJson{"BeyondEveryInteger", "-99999999999999999999", "number too large"},
                      RefusedJson{"Fraction", "[1.5]", "a number that is not whole"},
                      RefusedJson{"Exponent", "1e3", "a number that is not whole"},
                      RefusedJson{"CutInAValue", R"({"a":[1,)", "the line ends inside a value"},
                      RefusedJson{"CutInAString", R"({"a":"bc)", "the line ends inside a value"},
                      RefusedJson{"TextAfter", "{} {}", "text after the JSON value"},
                      RefusedJson{"NulAfterTheValue", std::string("{}\0junk", 7), "malformed JSON at byte 3"},
                      RefusedJson{"NulInAString", std::string("\"a\0b\"", 5), "malformed JSON at byte 3"},
                      RefusedJson{"NotUtf8", "\"caf\xe9\"", "malformed JSON at byte 6"},
                      RefusedJson{"LoneSurrogate", R"("\ud800")", "malformed JSON at byte 8"},
                      RefusedJson{"RawControl", "\"a\tb\"", "malformed JSON at byte 3"},
                      RefusedJson{"LeadingZero", "[01]", "malformed JSON at byte 3"},
                      RefusedJson{"Empty", "", "the line ends inside a value"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(JsonTest, ReadsWhatTheLimitsAllowAndFieldsOfTheRightTypeOnly) {
    std::string error;
    const std::optional<JsonValue> value = parseJson(
        R"({"n":-9223372036854775808,"big":9223372036854775807,"s":"\u00e9\ud83d\ude00","d":[[[1]]],"n":7})",
        kLimits, error);
    ASSERT_TRUE(value) << error;
    EXPECT_EQ(jsonNumberField(*value, "n"), 7);  // a name given twice keeps its last value
    EXPECT_EQ(jsonNumberField(*value, "big"), INT64_MAX);
    EXPECT_EQ(jsonTextField(*value, "s"), "\xc3\xa9\xf0\x9f\x98\x80");
    EXPECT_FALSE(jsonTextField(*value, "n"));
    EXPECT_FALSE(jsonBoolField(*value, "s"));
    EXPECT_FALSE(jsonNumberField(*value, "absent"));
    EXPECT_EQ(jsonField(JsonValue(5), "n"), nullptr);  // no object, no throw
}

TEST(JsonTest, WrittenTextIsJsonWhateverTheBytes) {
    const JsonDocument document = {{"b", "a\tb\x1b"}, {"a", "caf\xc3\xa9"}, {"bad", "caf\xe9"}};
    // Fields stay in their order; a file keeps UTF-8, a byte that is none becomes U+FFFD.
    EXPECT_EQ(jsonLine(document),
              "{\"b\":\"a\\tb\\u001b\",\"a\":\"caf\xc3\xa9\",\"bad\":\"caf\xef\xbf\xbd\"}");
    // A terminal gets ASCII only; a text that is not UTF-8 goes byte by byte.
    EXPECT_EQ(asciiJson(document), R"({"b":"a\tb\u001b","a":"caf\u00e9","bad":"caf\u00e9"})");
    EXPECT_EQ(asciiJson(JsonDocument::array({"\x7f\xc2\x9b"})), R"(["\u007f\u009b"])");
    std::string error;
    EXPECT_TRUE(parseJson(jsonLine(document), kLimits, error)) << error;
}

}  // namespace
}  // namespace velmora
