#pragma once

namespace speechline {

// The POSIX main loop behind main_queue.h: one poll() on the main thread over two self-pipes,
// one woken by dispatchToMainQueue(), one written by the signal handlers. Each backend's
// runMainLoop() ends in runPollMainLoop().
void runPollMainLoop();

}  // namespace speechline
