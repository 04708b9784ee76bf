#pragma once

#include <string>
#include <string_view>

#include "events/event.h"

namespace speechline {

// Appends `text` as a JSON string literal: quotation mark, backslash and slash escaped, control
// characters escaped, everything else raw UTF-8. Each maximal invalid UTF-8 subpart becomes
// U+FFFD, so the output is always valid UTF-8.
void appendJsonString(std::string_view text, std::string* out);

// The event as compact JSON followed by one line feed.
std::string encodeEventLine(const Event& event);

}  // namespace speechline
