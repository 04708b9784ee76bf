#include "platform/main_queue.h"
#include "platform/posix/poll_main_loop.h"

namespace speechline {

void runMainLoop() { runPollMainLoop(); }

}  // namespace speechline
