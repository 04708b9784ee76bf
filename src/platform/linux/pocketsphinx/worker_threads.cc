#include "platform/linux/pocketsphinx/worker_threads.h"

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace speechline {
namespace {

struct WorkerCount {
  std::mutex mutex;
  std::condition_variable idle;
  int running = 0;
};

// Never destroyed: workers may still run while the process ends.
WorkerCount& workerCount() {
  static WorkerCount* count = new WorkerCount;
  return *count;
}

void finishWorker() {
  WorkerCount& count = workerCount();
  std::lock_guard<std::mutex> lock(count.mutex);
  if (--count.running == 0) count.idle.notify_all();
}

}  // namespace

Result<> startWorkerThread(std::function<void()> work) {
  WorkerCount& count = workerCount();
  {
    std::lock_guard<std::mutex> lock(count.mutex);
    ++count.running;
  }
  try {
    std::thread([work = std::move(work)]() mutable {
      {
        std::function<void()> owned = std::move(work);
        owned();
      }
      finishWorker();
    }).detach();
    return Done{};
  } catch (const std::system_error& error) {
    // Out of threads (RLIMIT_NPROC, memory).
    finishWorker();
    return Failure{"No thread could be started for recognition.", error.code().value()};
  }
}

bool waitForWorkerThreads(std::chrono::milliseconds timeout) {
  WorkerCount& count = workerCount();
  std::unique_lock<std::mutex> lock(count.mutex);
  return count.idle.wait_for(lock, timeout, [&] { return count.running == 0; });
}

}  // namespace speechline
