#include "platform/main_loop.h"
#include "platform/posix/poll_main_loop.h"
#include "platform/scripted/script.h"

namespace speechline {

// Logged so that a test knows when a signal will be acted on at once.
std::string runMainLoop() {
  scripted::logCall("runMainLoop");
  return runPollMainLoop();
}

}  // namespace speechline
