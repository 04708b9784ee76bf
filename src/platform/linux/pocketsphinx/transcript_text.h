#pragma once

#include <span>
#include <string>
#include <string_view>

namespace speechline {

// True when the language of `localeIdentifier`, as the model lookup reads it
// (parseLocaleIdentifier in locale_name.h), is English: "en", "en_GB.UTF-8", "en-US-u-ca-x".
bool isEnglishLocale(std::string_view localeIdentifier);

// Writes the recognizer's words (lower case, as the dictionary spells them) as text:
// - the first word starts with a capital, and so do "i", "i'm", "i've", "i'll" and "i'd";
// - "mr", "mrs", "ms" and "dr" become "Mr.", "Mrs.", "Ms." and "Dr.";
// - a maximal run of number words that reads as one English cardinal below a thousand million,
//   or as an ordinal ending in one, becomes digits when it is 10 or more or has more than one
//   word: "twenty five" and "twenty-five" -> "25", "a hundred and first" -> "101st". "and" is
//   part of a run only after hundred, thousand or million and before a number word; "a" only
//   right before hundred, thousand or million. A run that is not one number ("one two three",
//   "nineteen ninety") is left as it was.
// Words are joined by single spaces; nothing else is added. Pure; callable from any thread.
std::string formatEnglishTranscript(std::span<const std::string> words);

// The same for a hypothesis whose words are separated by white space.
std::string formatEnglishTranscript(std::string_view hypothesis);

}  // namespace speechline
