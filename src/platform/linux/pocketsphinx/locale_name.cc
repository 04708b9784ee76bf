#include "platform/linux/pocketsphinx/locale_name.h"

#include <algorithm>
#include <vector>

namespace speechline {
namespace {

bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool allOf(std::string_view text, bool (*test)(char)) {
  return std::all_of(text.begin(), text.end(), test);
}

// Letters, digits, '-' and '_', at least one.
bool isWord(std::string_view text) {
  return !text.empty() &&
         allOf(text, [](char c) { return isLetter(c) || isDigit(c) || c == '-' || c == '_'; });
}

std::string lowerCase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  return lower;
}

// The identifier without its POSIX ".codeset" and "@modifier", or nothing if what follows the
// name is not made of those two.
std::optional<std::string_view> withoutPosixSuffix(std::string_view identifier) {
  const size_t end = identifier.find_first_of(".@");
  if (end == std::string_view::npos) return identifier;
  const size_t at = identifier.find('@', end);
  const std::string_view codeset = identifier.substr(end, at - end);  // ".UTF-8", or empty
  if (!codeset.empty() && (codeset[0] != '.' || !isWord(codeset.substr(1)))) return std::nullopt;
  if (at != std::string_view::npos && !isWord(identifier.substr(at + 1))) return std::nullopt;
  return identifier.substr(0, end);
}

}  // namespace

std::optional<LocaleName> parseLocaleIdentifier(std::string_view localeIdentifier) {
  const std::optional<std::string_view> name = withoutPosixSuffix(localeIdentifier);
  if (!name || !isWord(*name)) return std::nullopt;
  std::vector<std::string_view> subtags;
  for (size_t start = 0; start <= name->size();) {
    const size_t end = std::min(name->find_first_of("-_", start), name->size());
    if (end == start) return std::nullopt;  // "en-", "en--us"
    subtags.push_back(name->substr(start, end - start));
    start = end + 1;
  }
  const std::string_view language = subtags[0];
  if (language.size() < 2 || language.size() > 8 || !allOf(language, isLetter)) {
    return std::nullopt;
  }
  LocaleName locale{lowerCase(language), {}};
  size_t next = 1;
  if (next < subtags.size() && subtags[next].size() == 4 && allOf(subtags[next], isLetter)) {
    ++next;  // the script
  }
  if (next < subtags.size()) {
    const std::string_view region = subtags[next];
    if ((region.size() == 2 && allOf(region, isLetter)) ||
        (region.size() == 3 && allOf(region, isDigit))) {
      locale.region = lowerCase(region);
    }
  }
  return locale;
}

}  // namespace speechline
