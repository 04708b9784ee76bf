#pragma once

#include <pulse/pulseaudio.h>

namespace speechline {

// Tells whether the source a record stream records from is a microphone rather than a monitor
// (what a sink plays). The answer comes from an asynchronous lookup that start() begins; until
// the lookup for the stream's current source has answered, the source does not count as a
// microphone. Used on the loop's thread, or under its lock; cancel() (or the destructor) must
// come before the stream or its context goes away.
class StreamSourceCheck {
 public:
  StreamSourceCheck() = default;
  ~StreamSourceCheck() { cancel(); }

  StreamSourceCheck(const StreamSourceCheck&) = delete;
  StreamSourceCheck& operator=(const StreamSourceCheck&) = delete;

  // Forgets the answer and looks up the source that `stream` (ready) records from now, dropping
  // a lookup still running. `wake` is signalled when the answer arrives. A lookup that cannot
  // be made leaves the source not counted as a microphone.
  void start(pa_stream* stream, pa_threaded_mainloop* wake);

  // Drops a lookup still running and forgets the answer.
  void cancel();

  // True while a lookup runs.
  bool pending() const;
  // True once the last lookup has found a source that is not a monitor; false before it
  // answers, after cancel(), and when the lookup failed.
  bool onMicrophone() const { return onMicrophone_; }

 private:
  pa_operation* operation_ = nullptr;
  pa_threaded_mainloop* wake_ = nullptr;
  bool onMicrophone_ = false;
};

}  // namespace speechline
