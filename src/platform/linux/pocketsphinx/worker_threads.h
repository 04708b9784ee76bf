#pragma once

#include <chrono>
#include <functional>

#include "platform/linux/result.h"

namespace speechline {

// The recognition service's background threads (recognition tasks) run detached:
// nothing waits for them, and the process ends with _exit while they may still run. They are
// counted so that a test can tell when their work has really stopped.

// Runs `work` on a new detached thread. Made on the main thread, it inherits its mask and never
// takes the main loop's signals. Everything `work` holds is released before the thread stops
// counting as running. Fails, with `work` released and never run, when no thread could be made.
Result<> startWorkerThread(std::function<void()> work);

// Waits until no thread started by startWorkerThread() runs, for at most `timeout`. Returns
// whether none does.
bool waitForWorkerThreads(std::chrono::milliseconds timeout);

}  // namespace speechline
