#include "platform/main_loop.h"
#include "platform/posix/poll_main_loop.h"

namespace speechline {

std::string runMainLoop() { return runPollMainLoop(); }

}  // namespace speechline
