#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace speechline {

// A locale identifier as the Linux speech service reads it: the language and region subtags,
// in lower case. The model lookup and the English text test both read identifiers this way.
struct LocaleName {
  std::string language;  // "en"
  std::string region;    // "gb", "419", or empty
};

// Reads a BCP 47 style or POSIX identifier: "en-GB", "en_gb", "en_GB.UTF-8", "zh-Hans-CN",
// "en-US-u-ca-gregory". A POSIX ".codeset" and "@modifier" are dropped first, but only if made
// of letters, digits, '-' and '_'. What remains must be subtags of letters and digits separated
// by '-' or '_': the language (2 to 8 letters), then perhaps a script (4 letters) and a region
// (2 letters or 3 digits); later subtags (variants, extensions, private use) play no part.
// Nothing for any other identifier, so that no identifier can name a path of its own. Pure.
std::optional<LocaleName> parseLocaleIdentifier(std::string_view localeIdentifier);

}  // namespace speechline
