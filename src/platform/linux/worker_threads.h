#pragma once

#include <chrono>
#include <functional>

namespace speechline {

// The recognition service's background threads (recognition tasks) run detached:
// nothing waits for them, and the process ends with _exit while they may still run. They are
// counted so that a test can tell when their work has really stopped.

// Runs `work` on a new detached thread. Everything `work` holds is released before the thread
// stops counting as running.
void startWorkerThread(std::function<void()> work);

// Waits until no thread started by startWorkerThread() runs, for at most `timeout`. Returns
// whether none does.
bool waitForWorkerThreads(std::chrono::milliseconds timeout);

}  // namespace speechline
