#pragma once

#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace speechline {

using EventValue = std::variant<std::string, bool>;

// One event: text keys with text or boolean values, always with "type". Members are written in
// the order they were added; readers look them up by name.
struct Event {
  std::vector<std::pair<std::string, EventValue>> members;
};

}  // namespace speechline
