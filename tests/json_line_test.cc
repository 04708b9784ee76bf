#include "events/json_line.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace speechline {
namespace {

struct EscapeCase {
  const char* name;
  std::string text;
  std::string encoded;   // the JSON string literal, quotes included
  std::string expected;  // what a JSON parser must read back
};

const EscapeCase kEscapeCases[] = {
    {"Empty", "", R"("")", ""},
    {"Plain", "go forward ten meters", R"("go forward ten meters")", "go forward ten meters"},
    {"QuotationMark", "say \"hi\"", R"("say \"hi\"")", "say \"hi\""},
    {"Backslash", "a\\b", R"("a\\b")", "a\\b"},
    {"ForwardSlash", "and/or", R"("and\/or")", "and/or"},
    {"ShortControlEscapes", "\b\f\n\r\t", R"("\b\f\n\r\t")", "\b\f\n\r\t"},
    {"NulAndUnitSeparator", std::string("\x00\x1f", 2), R"("\u0000\u001f")",
     std::string("\x00\x1f", 2)},
    {"OtherControls", "\x01\x0b\x1b", R"("\u0001\u000b\u001b")", "\x01\x0b\x1b"},
    {"DeleteIsRaw", "\x7f", "\"\x7f\"", "\x7f"},
    {"LineSeparatorIsRaw", "\xE2\x80\xA8", "\"\xE2\x80\xA8\"", "\xE2\x80\xA8"},
    {"TwoByteRaw", "caf\xC3\xA9", "\"caf\xC3\xA9\"", "caf\xC3\xA9"},
    {"ChineseRaw", "\xE4\xBD\xA0\xE5\xA5\xBD", "\"\xE4\xBD\xA0\xE5\xA5\xBD\"",
     "\xE4\xBD\xA0\xE5\xA5\xBD"},
    {"FourByteRaw", "\xF0\x9F\x98\x80", "\"\xF0\x9F\x98\x80\"", "\xF0\x9F\x98\x80"},
    {"HighestCodePoint", "\xF4\x8F\xBF\xBF", "\"\xF4\x8F\xBF\xBF\"", "\xF4\x8F\xBF\xBF"},
    // Each maximal invalid subpart becomes one U+FFFD.
    {"OverlongTwoByte", "\xC0\xAF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\"", "\xEF\xBF\xBD\xEF\xBF\xBD"},
    {"Surrogate", "\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"",
     "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
    {"TruncatedFourByte", "\xF0\x9F\x98", "\"\xEF\xBF\xBD\"", "\xEF\xBF\xBD"},
    {"TruncatedThenAscii", "\xE4\xBDx", "\"\xEF\xBF\xBDx\"", "\xEF\xBF\xBDx"},
    {"LoneContinuation", "a\x80z", "\"a\xEF\xBF\xBDz\"", "a\xEF\xBF\xBDz"},
    {"AboveUnicode", "\xF4\x90\x80\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"",
     "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
    {"InvalidLeadBytes", "\xF5\xFF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\"", "\xEF\xBF\xBD\xEF\xBF\xBD"},
};

class JsonStringTest : public testing::TestWithParam<EscapeCase> {};

TEST_P(JsonStringTest, EncodesAndParsesBack) {
  const EscapeCase& c = GetParam();
  std::string encoded;
  appendJsonString(c.text, &encoded);
  EXPECT_EQ(encoded, c.encoded);
  EXPECT_EQ(nlohmann::json::parse(encoded).get<std::string>(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, JsonStringTest, testing::ValuesIn(kEscapeCases),
                         [](const auto& info) { return info.param.name; });

TEST(JsonLineTest, WritesCompactObjectOnOneLine) {
  const Event event{{{"type", "result"}, {"text", "a/b\nc"}, {"isFinal", false}}};
  const std::string line = encodeEventLine(event);
  EXPECT_EQ(line, "{\"type\":\"result\",\"text\":\"a\\/b\\nc\",\"isFinal\":false}\n");
  const auto parsed = nlohmann::json::parse(line);
  EXPECT_EQ(parsed["text"], "a/b\nc");
  EXPECT_EQ(parsed["isFinal"], false);
}

TEST(JsonLineTest, BooleansAreBareLiterals) {
  EXPECT_EQ(encodeEventLine(Event{{{"isFinal", true}}}), "{\"isFinal\":true}\n");
  EXPECT_EQ(encodeEventLine(Event{{{"isFinal", false}}}), "{\"isFinal\":false}\n");
}

TEST(JsonLineTest, EveryByteValueGivesOneValidLine) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  const std::string line = encodeEventLine(Event{{{"text", all}}});
  EXPECT_EQ(line.find('\n'), line.size() - 1);
  EXPECT_EQ(line.find('\r'), std::string::npos);
  EXPECT_TRUE(nlohmann::json::accept(line));
}

}  // namespace
}  // namespace speechline
