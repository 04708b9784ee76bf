#include "platform/linux/transcript_text.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace speechline {
namespace {

enum class Kind { kZero, kSmall, kHundred, kThousand, kMillion, kA, kAnd };

struct NumberWord {
  std::string_view word;
  Kind kind;
  int64_t value;
  const char* suffix;  // set for an ordinal
};

constexpr auto kNumberWords = std::to_array<NumberWord>({
    {"zero", Kind::kZero, 0, nullptr},
    {"one", Kind::kSmall, 1, nullptr},
    {"two", Kind::kSmall, 2, nullptr},
    {"three", Kind::kSmall, 3, nullptr},
    {"four", Kind::kSmall, 4, nullptr},
    {"five", Kind::kSmall, 5, nullptr},
    {"six", Kind::kSmall, 6, nullptr},
    {"seven", Kind::kSmall, 7, nullptr},
    {"eight", Kind::kSmall, 8, nullptr},
    {"nine", Kind::kSmall, 9, nullptr},
    {"ten", Kind::kSmall, 10, nullptr},
    {"eleven", Kind::kSmall, 11, nullptr},
    {"twelve", Kind::kSmall, 12, nullptr},
    {"thirteen", Kind::kSmall, 13, nullptr},
    {"fourteen", Kind::kSmall, 14, nullptr},
    {"fifteen", Kind::kSmall, 15, nullptr},
    {"sixteen", Kind::kSmall, 16, nullptr},
    {"seventeen", Kind::kSmall, 17, nullptr},
    {"eighteen", Kind::kSmall, 18, nullptr},
    {"nineteen", Kind::kSmall, 19, nullptr},
    {"twenty", Kind::kSmall, 20, nullptr},
    {"thirty", Kind::kSmall, 30, nullptr},
    {"forty", Kind::kSmall, 40, nullptr},
    {"fifty", Kind::kSmall, 50, nullptr},
    {"sixty", Kind::kSmall, 60, nullptr},
    {"seventy", Kind::kSmall, 70, nullptr},
    {"eighty", Kind::kSmall, 80, nullptr},
    {"ninety", Kind::kSmall, 90, nullptr},
    {"hundred", Kind::kHundred, 100, nullptr},
    {"thousand", Kind::kThousand, 1000, nullptr},
    {"million", Kind::kMillion, 1000000, nullptr},
    {"first", Kind::kSmall, 1, "st"},
    {"second", Kind::kSmall, 2, "nd"},
    {"third", Kind::kSmall, 3, "rd"},
    {"fourth", Kind::kSmall, 4, "th"},
    {"fifth", Kind::kSmall, 5, "th"},
    {"sixth", Kind::kSmall, 6, "th"},
    {"seventh", Kind::kSmall, 7, "th"},
    {"eighth", Kind::kSmall, 8, "th"},
    {"ninth", Kind::kSmall, 9, "th"},
    {"tenth", Kind::kSmall, 10, "th"},
    {"eleventh", Kind::kSmall, 11, "th"},
    {"twelfth", Kind::kSmall, 12, "th"},
    {"thirteenth", Kind::kSmall, 13, "th"},
    {"fourteenth", Kind::kSmall, 14, "th"},
    {"fifteenth", Kind::kSmall, 15, "th"},
    {"sixteenth", Kind::kSmall, 16, "th"},
    {"seventeenth", Kind::kSmall, 17, "th"},
    {"eighteenth", Kind::kSmall, 18, "th"},
    {"nineteenth", Kind::kSmall, 19, "th"},
    {"twentieth", Kind::kSmall, 20, "th"},
    {"thirtieth", Kind::kSmall, 30, "th"},
    {"fortieth", Kind::kSmall, 40, "th"},
    {"fiftieth", Kind::kSmall, 50, "th"},
    {"sixtieth", Kind::kSmall, 60, "th"},
    {"seventieth", Kind::kSmall, 70, "th"},
    {"eightieth", Kind::kSmall, 80, "th"},
    {"ninetieth", Kind::kSmall, 90, "th"},
    {"hundredth", Kind::kHundred, 100, "th"},
    {"thousandth", Kind::kThousand, 1000, "th"},
    {"millionth", Kind::kMillion, 1000000, "th"},
});

constexpr NumberWord kArticle{"a", Kind::kA, 1, nullptr};
constexpr NumberWord kJoiningAnd{"and", Kind::kAnd, 0, nullptr};

const NumberWord* findNumberWord(std::string_view word) {
  for (const NumberWord& entry : kNumberWords) {
    if (entry.word == word) return &entry;
  }
  return nullptr;
}

// The number words of one recognizer word: itself, or each part of a hyphenated compound made
// only of number words ("twenty-five"). Empty for any other word; "one-third" becomes the run
// "one third", which is not a number and so stays as written.
std::vector<const NumberWord*> numberWordsOf(std::string_view word) {
  std::vector<const NumberWord*> parts;
  for (size_t start = 0;;) {
    const size_t end = word.find('-', start);
    const NumberWord* part = findNumberWord(word.substr(start, end - start));
    if (!part) return {};
    parts.push_back(part);
    if (end == std::string_view::npos) return parts;
    start = end + 1;
  }
}

bool isCardinalScale(const NumberWord* word) {
  return !word->suffix && (word->kind == Kind::kHundred || word->kind == Kind::kThousand ||
                           word->kind == Kind::kMillion);
}

// Reads a run of number words as one number, or nothing if it is not one.
class NumberReader {
 public:
  explicit NumberReader(std::span<const NumberWord* const> run) : run_(run) {}

  std::optional<int64_t> read() {
    // Only the last word may be an ordinal.
    for (size_t i = 0; i + 1 < run_.size(); ++i) {
      if (run_[i]->suffix) return std::nullopt;
    }
    int64_t total = 0;
    int64_t lastScale = 0;
    while (true) {
      std::optional<int64_t> group;
      bool leadingHundreds = false;
      if (at(Kind::kA)) {
        if (next_ != 0) return std::nullopt;
        ++next_;
        group = 1;
      } else {
        group = small();
        if (!group) return std::nullopt;
      }
      if (at(Kind::kHundred)) {
        // "eleven hundred" stands only for the whole number, never a part of a larger one.
        leadingHundreds = *group >= 10;
        if (leadingHundreds && total) return std::nullopt;
        ++next_;
        *group *= 100;
        const bool joined = at(Kind::kAnd);
        if (joined) ++next_;
        if (const std::optional<int64_t> rest = small()) {
          *group += *rest;
        } else if (joined) {
          return std::nullopt;
        }
      }
      if (!at(Kind::kThousand) && !at(Kind::kMillion)) {
        if (done()) return total + *group;
        return std::nullopt;
      }
      const int64_t scale = run_[next_++]->value;
      if (leadingHundreds || (lastScale && scale >= lastScale)) return std::nullopt;
      total += *group * scale;
      lastScale = scale;
      if (done()) return total;
      // After thousand or million, "and" comes only before the last part below a hundred.
      if (at(Kind::kAnd)) {
        ++next_;
        const std::optional<int64_t> rest = small();
        if (!rest || !done()) return std::nullopt;
        return total + *rest;
      }
    }
  }

 private:
  bool at(Kind kind) const { return next_ < run_.size() && run_[next_]->kind == kind; }
  bool done() const { return next_ == run_.size(); }

  // 1 to 99: a unit, a teen, a tens word, or a tens word and a unit.
  std::optional<int64_t> small() {
    if (!at(Kind::kSmall)) return std::nullopt;
    const NumberWord* first = run_[next_++];
    int64_t value = first->value;
    if (value >= 20 && !first->suffix && at(Kind::kSmall) && run_[next_]->value < 10) {
      value += run_[next_++]->value;
    }
    return value;
  }

  std::span<const NumberWord* const> run_;
  size_t next_ = 0;
};

std::string formatWord(std::string_view word) {
  if (word == "i") return "I";
  if (word == "i'm" || word == "i've" || word == "i'll" || word == "i'd") {
    return "I" + std::string(word.substr(1));
  }
  if (word == "mr") return "Mr.";
  if (word == "mrs") return "Mrs.";
  if (word == "ms") return "Ms.";
  if (word == "dr") return "Dr.";
  return std::string(word);
}

}  // namespace

bool isEnglishLocale(std::string_view localeIdentifier) {
  if (localeIdentifier.size() < 2) return false;
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
  if (lower(localeIdentifier[0]) != 'e' || lower(localeIdentifier[1]) != 'n') return false;
  return localeIdentifier.size() == 2 || localeIdentifier[2] == '-' || localeIdentifier[2] == '_';
}

std::string formatEnglishTranscript(std::span<const std::string> words) {
  // The number words of each word; "a" and "and" count only where they join a number.
  std::vector<std::vector<const NumberWord*>> parts(words.size());
  for (size_t i = 0; i < words.size(); ++i) parts[i] = numberWordsOf(words[i]);
  for (size_t i = 0; i + 1 < words.size(); ++i) {
    if (words[i] == "a" && !parts[i + 1].empty() && isCardinalScale(parts[i + 1].front())) {
      parts[i] = {&kArticle};
    }
  }
  for (size_t i = 1; i + 1 < words.size(); ++i) {
    if (words[i] == "and" && !parts[i - 1].empty() && isCardinalScale(parts[i - 1].back()) &&
        !parts[i + 1].empty()) {
      parts[i] = {&kJoiningAnd};
    }
  }

  std::string text;
  const auto append = [&text](std::string_view word) {
    if (!text.empty()) text.push_back(' ');
    text += word;
  };
  std::vector<const NumberWord*> run;
  for (size_t begin = 0, end = 0; begin < words.size(); begin = end) {
    run.clear();
    for (end = begin; end < words.size() && !parts[end].empty(); ++end) {
      run.insert(run.end(), parts[end].begin(), parts[end].end());
    }
    const std::optional<int64_t> value = run.empty() ? std::nullopt : NumberReader(run).read();
    // Every number of more than one word is at least 21, so the value alone decides.
    if (value && *value >= 10) {
      append(std::to_string(*value) + (run.back()->suffix ? run.back()->suffix : ""));
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
