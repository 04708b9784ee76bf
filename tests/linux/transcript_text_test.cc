#include "platform/linux/pocketsphinx/transcript_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace speechline {
namespace {

TEST(TranscriptTextTest, FormatsWordsAsText) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", ""},
      {"  go forward\tten meters ", "Go forward 10 meters"},
      {"and mr john said if i'm sure i'd go", "And Mr. john said if I'm sure I'd go"},
      {"dr mrs ms mister doctor missus i've i'll i",
       "Dr. Mrs. Ms. mister doctor missus I've I'll I"},
      // Numbers, from one word to millions; an ordinal takes the suffix of its last word.
      {"in twelve or twenty five or twenty-five ways", "In 12 or 25 or 25 ways"},
      {"one hundred and six to a hundred to eleven hundred", "106 to 100 to 1100"},
      {"a million to nineteen hundred and ninety nine", "1000000 to 1999"},
      {"ten and twenty and one thousand and one or a hundred and more",
       "10 and 20 and 1001 or 100 and more"},
      {"two million three hundred thousand", "2300000"},
      {"a hundred and twenty thousand and five", "120005"},
      {"nine hundred ninety nine million nine hundred ninety nine thousand nine hundred ninety "
       "nine",
       "999999999"},
      {"the twenty first and a hundred and first and tenth and one hundredth",
       "The 21st and 101st and 10th and 100th"},
      {"twenty-second then twelfth then third then eighty-third",
       "22nd then 12th then third then 83rd"},
      // Words that stay: small numbers and scale words alone, and runs that are not one number.
      {"one or nine or first or ninth or zero or hundred or thousand or million",
       "One or nine or first or ninth or zero or hundred or thousand or million"},
      {"one two three and nineteen ninety", "One two three and nineteen ninety"},
      {"twenty twenty or one hundred two hundred", "Twenty twenty or one hundred two hundred"},
      {"five and six or hundred and six or the first one or the first hundred",
       "Five and six or hundred and six or the first one or the first hundred"},
      {"one thousand a hundred or one thousand and five hundred or one hundred and thousand",
       "One thousand a hundred or one thousand and five hundred or one hundred and thousand"},
      {"eleven hundred thousand or one million eleven hundred or one thousand two thousand",
       "Eleven hundred thousand or one million eleven hundred or one thousand two thousand"},
      {"one-third number-one twenty- a hundredth", "One-third number-one twenty- a hundredth"},
      {"a man and a half one hundred and a thousand",
       "A man and a half one hundred and a thousand"},
  };
  for (const auto& [words, text] : cases) {
    EXPECT_EQ(formatEnglishTranscript(std::string_view(words)), text) << words;
  }
}

TEST(TranscriptTextTest, TellsEnglishLocales) {
  for (const char* locale :
       {"en", "EN", "en-US", "en_gb", "en-Latn-US", "en.UTF-8", "en_AU.UTF-8"}) {
    EXPECT_TRUE(isEnglishLocale(locale)) << locale;
  }
  for (const char* locale : {"", "e", "eng", "fr-FR", "zh_CN", "enUS", " en", "de-en", "En-"}) {
    EXPECT_FALSE(isEnglishLocale(locale)) << locale;
  }
}

}  // namespace
}  // namespace speechline
