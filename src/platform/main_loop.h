#pragma once

#include <functional>
#include <memory>
#include <string>

namespace speechline {

// Queues `work` to run on the main thread from the main loop, in the order queued. Callable
// from any thread; never blocks and never runs `work` before returning. Work queued before
// runMainLoop() is called waits for it.
void dispatchToMainQueue(std::function<void()> work);

// Reports arrivals of one signal by running a handler on the main queue. The signal's default
// action must already be suppressed (ignored) by the caller. Made and used on the main thread.
class SignalSource {
 public:
  // An inactive source for `signalNumber` on the main queue. Never null. Named after Dispatch's
  // DispatchSource.makeSignalSource(signal:queue:), which it stands for, not create() as the
  // other interfaces' factories are.
  static std::shared_ptr<SignalSource> makeSignalSource(int signalNumber);

  virtual ~SignalSource() = default;

  // Sets the handler, replacing any earlier one. The handler runs on the main thread, never in
  // a signal-handling context; several arrivals before it runs may come as one call.
  virtual void setEventHandler(std::function<void()> handler) = 0;

  // From here on, arrivals are recorded; their handler runs when the main loop serves the queue.
  // Call once.
  virtual void resume() = 0;
};

// Runs the main loop on the main thread: queued work and signal handlers. Returns only if the
// loop cannot go on, with a description of why for a person (the system's own text where
// there is one). A main loop that cannot even be set up ends the process with status 1 when
// it is first used, before anything is written.
std::string runMainLoop();

}  // namespace speechline
