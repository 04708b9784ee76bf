#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace speechline {

// The element that follows the first element equal to `name`, unchanged (it may be empty or look
// like an option); `defaultValue` when `name` is absent or last. Element 0 counts.
std::string optionValue(const std::vector<std::string>& arguments, std::string_view name,
                        std::string_view defaultValue);

// Whether any element, element 0 included, equals `name`.
bool hasOption(const std::vector<std::string>& arguments, std::string_view name);

}  // namespace speechline
