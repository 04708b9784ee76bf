#pragma once

#include <string>
#include <string_view>

namespace speechline {

// Encodes `text` as an event's value and checks the line: one line, valid UTF-8, and JSON that
// reads back as `text` with each maximal invalid UTF-8 subpart replaced by U+FFFD. Returns what
// went wrong, or the empty string.
std::string encoderPropertyViolation(std::string_view text);

}  // namespace speechline
