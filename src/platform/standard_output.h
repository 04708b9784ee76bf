#pragma once

#include <string_view>

namespace speechline {

// Writes all of `bytes` to file descriptor 1 with no buffering of its own, retrying after an
// interruption or a partial write. A failed write is not reported.
void writeStandardOutput(std::string_view bytes);

}  // namespace speechline
