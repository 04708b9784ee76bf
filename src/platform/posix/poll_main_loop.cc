#include "platform/posix/poll_main_loop.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "platform/main_loop.h"
#include "platform/standard_output.h"

namespace speechline {
namespace {

constexpr int kMaxSignal = 65;

struct Pipe {
  int readEnd = -1;
  int writeEnd = -1;
};

Pipe makeNonBlockingPipe() {
  int fds[2] = {-1, -1};
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return {};
  return {fds[0], fds[1]};
}

void drain(int fd) {
  char sink[64];
  while (::read(fd, sink, sizeof sink) > 0) {
  }
}

// A pipe, a socket or a terminal has a reader that can go away; a file or /dev/null has none.
bool hasReaderThatCanGo(int fd) {
  struct stat info;
  if (::fstat(fd, &info) != 0) return false;
  return S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode) || ::isatty(fd);
}

// Written by signal handlers, so only lock-free atomics and the pipe's fd are touched there.
std::array<std::atomic<bool>, kMaxSignal> pendingSignals;
std::atomic<int> signalPipeWriteEnd{-1};

extern "C" void recordSignal(int signalNumber) {
  const int savedErrno = errno;
  if (signalNumber > 0 && signalNumber < kMaxSignal) pendingSignals[signalNumber].store(true);
  const char byte = static_cast<char>(signalNumber);
  // A full pipe already holds a wake-up, so a failed write loses nothing.
  [[maybe_unused]] const ssize_t ignored = ::write(signalPipeWriteEnd.load(), &byte, 1);
  errno = savedErrno;
}

class MainLoopState {
 public:
  static MainLoopState& shared() {
    // Never destroyed: the process ends with _exit while other threads may still post.
    static MainLoopState* state = new MainLoopState();
    return *state;
  }

  void post(std::function<void()> work) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      queue_.push_back(std::move(work));
    }
    const char byte = 0;
    [[maybe_unused]] const ssize_t ignored = ::write(queueWake_.writeEnd, &byte, 1);
  }

  void setHandler(int signalNumber, std::function<void()> handler) {
    if (signalNumber > 0 && signalNumber < kMaxSignal) handlers_[signalNumber] = std::move(handler);
  }

  void activate(int signalNumber) {
    if (signalNumber <= 0 || signalNumber >= kMaxSignal) return;
    active_[signalNumber] = true;
    struct sigaction action = {};
    action.sa_handler = recordSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(signalNumber, &action, nullptr);
    // Taken only while the loop waits (ppoll unblocks it there): an arrival at any other time
    // waits in the kernel, so the handler never runs in the middle of other work, where a
    // runtime that defers handlers (ThreadSanitizer's) could lose it.
    sigset_t taken;
    sigemptyset(&taken);
    sigaddset(&taken, signalNumber);
    ::pthread_sigmask(SIG_BLOCK, &taken, nullptr);
  }

  std::string run() {
    // Standard output is watched for its reader going away only (no events asked for: POLLERR
    // and POLLHUP are always reported), so that a silent run does not outlive its parent.
    pollfd fds[3] = {{queueWake_.readEnd, POLLIN, 0},
                     {signalWake_.readEnd, POLLIN, 0},
                     {hasReaderThatCanGo(STDOUT_FILENO) ? STDOUT_FILENO : -1, 0, 0}};
    sigset_t waiting;
    ::pthread_sigmask(SIG_BLOCK, nullptr, &waiting);
    for (int signalNumber = 1; signalNumber < kMaxSignal; ++signalNumber) {
      if (active_[signalNumber]) sigdelset(&waiting, signalNumber);
    }
    while (true) {
      if (::ppoll(fds, 3, nullptr, &waiting) < 0) {
        if (errno == EINTR) continue;
        return std::strerror(errno);
      }
      if (fds[0].revents) drain(queueWake_.readEnd);
      if (fds[1].revents) drain(signalWake_.readEnd);
      if (fds[2].revents & (POLLERR | POLLHUP)) endAsWriteWould();
      // Closed (POLLNVAL): nothing more to watch.
      if (fds[2].revents) fds[2].fd = -1;
      runQueuedWork();
      runSignalHandlers();
    }
  }

 private:
  MainLoopState() : queueWake_(makeNonBlockingPipe()), signalWake_(makeNonBlockingPipe()) {
    // A loop that could never be woken would hang the run. Nothing has been written yet, and
    // no event fits, so the process just ends.
    if (queueWake_.readEnd < 0 || signalWake_.readEnd < 0) ::_exit(1);
    signalPipeWriteEnd.store(signalWake_.writeEnd);
  }

  void runQueuedWork() {
    std::deque<std::function<void()>> work;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      work.swap(queue_);
    }
    for (auto& item : work) item();
  }

  void runSignalHandlers() {
    for (int signalNumber = 1; signalNumber < kMaxSignal; ++signalNumber) {
      if (!active_[signalNumber] || !pendingSignals[signalNumber].exchange(false)) continue;
      if (handlers_[signalNumber]) handlers_[signalNumber]();
    }
  }

  const Pipe queueWake_;
  const Pipe signalWake_;
  std::mutex mutex_;
  std::deque<std::function<void()>> queue_;
  // Main thread only.
  std::array<std::function<void()>, kMaxSignal> handlers_;
  std::array<bool, kMaxSignal> active_{};
};

class PollSignalSource : public SignalSource {
 public:
  explicit PollSignalSource(int signalNumber) : signalNumber_(signalNumber) {
    MainLoopState::shared();  // the pipes exist before the handler can run
  }

  void setEventHandler(std::function<void()> handler) override {
    MainLoopState::shared().setHandler(signalNumber_, std::move(handler));
  }

  void resume() override { MainLoopState::shared().activate(signalNumber_); }

 private:
  const int signalNumber_;
};

}  // namespace

void dispatchToMainQueue(std::function<void()> work) {
  MainLoopState::shared().post(std::move(work));
}

std::shared_ptr<SignalSource> SignalSource::makeSignalSource(int signalNumber) {
  return std::make_shared<PollSignalSource>(signalNumber);
}

std::string runPollMainLoop() { return MainLoopState::shared().run(); }

}  // namespace speechline
