#include "platform/linux/pocketsphinx/transcript_text.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/pocketsphinx/locale_name.h"

namespace speechline {
namespace {

enum class Kind { kZero, kSmall, kHundred, kThousand, kMillion, kA, kAnd };

struct NumberWord {
  Kind kind;
  int64_t value;
  const char* suffix;  // set for an ordinal
};

// Indexed by value: the units and teens, then the tens by their first digit.
constexpr std::array<std::string_view, 20> kUnits = {
    "zero",     "one",     "two",     "three",     "four",     "five",    "six",
    "seven",    "eight",   "nine",    "ten",       "eleven",   "twelve",  "thirteen",
    "fourteen", "fifteen", "sixteen", "seventeen", "eighteen", "nineteen"};
constexpr std::array<std::string_view, 20> kUnitOrdinals = {
    "",           "first",     "second",    "third",       "fourth",     "fifth",     "sixth",
    "seventh",    "eighth",    "ninth",     "tenth",       "eleventh",   "twelfth",   "thirteenth",
    "fourteenth", "fifteenth", "sixteenth", "seventeenth", "eighteenth", "nineteenth"};
constexpr std::array<std::string_view, 10> kTens = {
    "", "", "twenty", "thirty", "forty", "fifty", "sixty", "seventy", "eighty", "ninety"};
constexpr std::array<std::string_view, 10> kTensOrdinals = {
    "",         "",         "twentieth",  "thirtieth", "fortieth",
    "fiftieth", "sixtieth", "seventieth", "eightieth", "ninetieth"};

struct Scale {
  std::string_view name;
  std::string_view ordinal;
  Kind kind;
  int64_t value;
};
constexpr std::array<Scale, 3> kScales = {{{"hundred", "hundredth", Kind::kHundred, 100},
                                           {"thousand", "thousandth", Kind::kThousand, 1000},
                                           {"million", "millionth", Kind::kMillion, 1000000}}};

constexpr NumberWord kArticle{Kind::kA, 1, nullptr};
constexpr NumberWord kJoiningAnd{Kind::kAnd, 0, nullptr};

std::optional<NumberWord> findNumberWord(std::string_view word) {
  if (word.empty()) return std::nullopt;
  if (word == "zero") return NumberWord{Kind::kZero, 0, nullptr};
  for (int64_t value = 1; value < 20; ++value) {
    if (word == kUnits[value]) return NumberWord{Kind::kSmall, value, nullptr};
    if (word == kUnitOrdinals[value]) {
      const char* suffix = value == 1 ? "st" : value == 2 ? "nd" : value == 3 ? "rd" : "th";
      return NumberWord{Kind::kSmall, value, suffix};
    }
  }
  for (int64_t tens = 2; tens < 10; ++tens) {
    if (word == kTens[tens]) return NumberWord{Kind::kSmall, tens * 10, nullptr};
    if (word == kTensOrdinals[tens]) return NumberWord{Kind::kSmall, tens * 10, "th"};
  }
  for (const Scale& scale : kScales) {
    if (word == scale.name) return NumberWord{scale.kind, scale.value, nullptr};
    if (word == scale.ordinal) return NumberWord{scale.kind, scale.value, "th"};
  }
  return std::nullopt;
}

// The number words of one recognizer word: itself, or each part of a hyphenated compound made
// only of number words ("twenty-five"). Empty for any other word; "one-third" becomes the run
// "one third", which is not a number and so stays as written.
std::vector<NumberWord> numberWordsOf(std::string_view word) {
  std::vector<NumberWord> parts;
  for (size_t start = 0;;) {
    const size_t end = word.find('-', start);
    const std::optional<NumberWord> part = findNumberWord(word.substr(start, end - start));
    if (!part) return {};
    parts.push_back(*part);
    if (end == std::string_view::npos) return parts;
    start = end + 1;
  }
}

bool isCardinalScale(const NumberWord& word) {
  return !word.suffix && (word.kind == Kind::kHundred || word.kind == Kind::kThousand ||
                          word.kind == Kind::kMillion);
}

// Reads a run of number words as one number, or nothing if it is not one.
class NumberReader {
 public:
  explicit NumberReader(std::span<const NumberWord> run) : run_(run) {}

  // The run as groups below a thousand, each but the last followed by a smaller scale than
  // the one before ("two million three hundred thousand and five").
  std::optional<int64_t> read() {
    if (!onlyLastIsOrdinal()) return std::nullopt;
    int64_t total = 0;
    int64_t lastScale = 0;
    while (true) {
      const std::optional<Group> group = readGroup(total != 0);
      if (!group) return std::nullopt;
      if (!at(Kind::kThousand) && !at(Kind::kMillion)) {
        return done() ? std::optional(total + group->value) : std::nullopt;
      }
      const int64_t scale = run_[next_++].value;
      if (group->leadingHundreds || (lastScale && scale >= lastScale)) return std::nullopt;
      total += group->value * scale;
      lastScale = scale;
      if (done()) return total;
      // After thousand or million, "and" comes only before the last part below a hundred.
      if (at(Kind::kAnd)) {
        ++next_;
        const std::optional<int64_t> rest = small();
        return rest && done() ? std::optional(total + *rest) : std::nullopt;
      }
    }
  }

 private:
  struct Group {
    int64_t value;
    // A number of hundreds of ten or more ("eleven hundred").
    bool leadingHundreds;
  };

  bool at(Kind kind) const { return next_ < run_.size() && run_[next_].kind == kind; }
  bool done() const { return next_ == run_.size(); }

  bool onlyLastIsOrdinal() const {
    for (size_t i = 0; i + 1 < run_.size(); ++i) {
      if (run_[i].suffix) return false;
    }
    return true;
  }

  // One group: "a" (as the first word only) or 1 to 99, then maybe "hundred", "and" and 1 to 99.
  std::optional<Group> readGroup(bool afterScale) {
    std::optional<int64_t> value = small();
    if (!value && at(Kind::kA) && next_ == 0) {
      ++next_;
      value = 1;
    }
    if (!value) return std::nullopt;
    if (!at(Kind::kHundred)) return Group{*value, false};
    // "eleven hundred" stands only for the whole number, never a part of a larger one.
    const bool leadingHundreds = *value >= 10;
    if (leadingHundreds && afterScale) return std::nullopt;
    ++next_;
    const bool joined = at(Kind::kAnd);
    if (joined) ++next_;
    const std::optional<int64_t> rest = small();
    if (joined && !rest) return std::nullopt;
    return Group{*value * 100 + rest.value_or(0), leadingHundreds};
  }

  // 1 to 99: a unit, a teen, a tens word, or a tens word and a unit.
  std::optional<int64_t> small() {
    if (!at(Kind::kSmall)) return std::nullopt;
    const NumberWord& first = run_[next_++];
    int64_t value = first.value;
    if (value >= 20 && !first.suffix && at(Kind::kSmall) && run_[next_].value < 10) {
      value += run_[next_++].value;
    }
    return value;
  }

  std::span<const NumberWord> run_;
  size_t next_ = 0;
};

std::string formatWord(std::string_view word) {
  if (word == "i") return "I";
  if (word == "i'm" || word == "i've" || word == "i'll" || word == "i'd") {
    std::string capitalised(word);
    capitalised[0] = 'I';
    return capitalised;
  }
  if (word == "mr") return "Mr.";
  if (word == "mrs") return "Mrs.";
  if (word == "ms") return "Ms.";
  if (word == "dr") return "Dr.";
  return std::string(word);
}

}  // namespace

bool isEnglishLocale(std::string_view localeIdentifier) {
  const std::optional<LocaleName> locale = parseLocaleIdentifier(localeIdentifier);
  return locale && locale->language == "en";
}

std::string formatEnglishTranscript(std::span<const std::string> words) {
  // The number words of each word; "a" and "and" count only where they join a number.
  std::vector<std::vector<NumberWord>> parts(words.size());
  for (size_t i = 0; i < words.size(); ++i) parts[i] = numberWordsOf(words[i]);
  for (size_t i = 0; i + 1 < words.size(); ++i) {
    if (words[i] == "a" && !parts[i + 1].empty() && isCardinalScale(parts[i + 1].front())) {
      parts[i] = {kArticle};
    }
  }
  for (size_t i = 1; i + 1 < words.size(); ++i) {
    if (words[i] == "and" && !parts[i - 1].empty() && isCardinalScale(parts[i - 1].back()) &&
        !parts[i + 1].empty()) {
      parts[i] = {kJoiningAnd};
    }
  }

  std::string text;
  const auto append = [&text](std::string_view word) {
    if (!text.empty()) text.push_back(' ');
    text += word;
  };
  std::vector<NumberWord> run;
  for (size_t begin = 0, end = 0; begin < words.size(); begin = end) {
    run.clear();
    for (end = begin; end < words.size() && !parts[end].empty(); ++end) {
      run.insert(run.end(), parts[end].begin(), parts[end].end());
    }
    const std::optional<int64_t> value = run.empty() ? std::nullopt : NumberReader(run).read();
    // Every number of more than one word is at least 21, so the value alone decides.
    if (value && *value >= 10) {
      append(std::to_string(*value) + (run.back().suffix ? run.back().suffix : ""));
      continue;
    }
    end = std::max(end, begin + 1);
    for (size_t i = begin; i < end; ++i) append(formatWord(words[i]));
  }
  if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = char(text[0] - 'a' + 'A');
  return text;
}

std::string formatEnglishTranscript(std::string_view hypothesis) {
  std::vector<std::string> words;
  constexpr std::string_view kSpace = " \t\n\r\f\v";
  for (size_t start = hypothesis.find_first_not_of(kSpace); start != std::string_view::npos;) {
    const size_t end = hypothesis.find_first_of(kSpace, start);
    words.emplace_back(hypothesis.substr(start, end - start));
    start = hypothesis.find_first_not_of(kSpace, end);
  }
  return formatEnglishTranscript(words);
}

}  // namespace speechline
