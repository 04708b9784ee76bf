#pragma once

#include <string_view>

namespace speechline {

// Writes all of `bytes` to file descriptor 1 with no buffering of its own, retrying after an
// interruption or a partial write, and waiting for room on a non-blocking descriptor. A write
// that fails otherwise ends the process at once: by SIGPIPE when the reader is gone (as the
// write itself would have, had SIGPIPE kept its default), else with status 1.
void writeStandardOutput(std::string_view bytes);

// Ends the process as a write to a reader that is gone does by default: SIGPIPE, set to its
// default action and unblocked, is raised. Never returns.
[[noreturn]] void endAsWriteWould();

}  // namespace speechline
