#include "app/options.h"

#include <algorithm>

namespace speechline {

std::string optionValue(const std::vector<std::string>& arguments, std::string_view name,
                        std::string_view defaultValue) {
  const auto found = std::find(arguments.begin(), arguments.end(), name);
  if (found == arguments.end() || found + 1 == arguments.end()) return std::string(defaultValue);
  return *(found + 1);
}

bool hasOption(const std::vector<std::string>& arguments, std::string_view name) {
  return std::find(arguments.begin(), arguments.end(), name) != arguments.end();
}

}  // namespace speechline
