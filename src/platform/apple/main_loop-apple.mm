#import <Foundation/Foundation.h>
#include <dispatch/dispatch.h>

#include <functional>
#include <memory>
#include <utility>

#include "platform/apple/main_queue_check-apple.h"
#include "platform/main_loop.h"

namespace speechline {
namespace {

// A Dispatch signal source on the main queue. Dispatch watches the signal through the kernel
// even while its disposition is SIG_IGN, and runs the handler as ordinary main-queue work.
class DispatchSignalSource : public SignalSource {
 public:
  explicit DispatchSignalSource(int signalNumber)
      : source_(dispatch_source_create(DISPATCH_SOURCE_TYPE_SIGNAL,
                                       static_cast<uintptr_t>(signalNumber), 0,
                                       dispatch_get_main_queue())) {}

  void setEventHandler(std::function<void()> handler) override {
    if (source_ == nil) return;
    // The block owns its copy of the handler and nothing of this wrapper.
    dispatch_source_set_event_handler(source_, ^{
      assertOnMainQueue();
      handler();
    });
  }

  void resume() override {
    if (source_ != nil) dispatch_resume(source_);
  }

 private:
  // Never cancelled: the source and its handler live as long as this wrapper.
  dispatch_source_t const source_;
};

}  // namespace

void dispatchToMainQueue(std::function<void()> work) {
  dispatch_async(dispatch_get_main_queue(), ^{
    work();
  });
}

std::shared_ptr<SignalSource> SignalSource::makeSignalSource(int signalNumber) {
  return std::make_shared<DispatchSignalSource>(signalNumber);
}

std::string runMainLoop() {
  // The main run loop serves the main queue, and with it the signal handlers and the
  // recognizer's results. It runs for the rest of the process.
  [[NSRunLoop mainRunLoop] run];
  return "The main run loop stopped.";
}

}  // namespace speechline
