#pragma once

#include <pulse/pulseaudio.h>

#include <functional>

#include "platform/linux/result.h"

namespace speechline {

// What capture needs to know of a microphone.
struct PulseSourceInfo {
  pa_sample_spec sampleSpec;
  pa_channel_map channelMap;
};

// False for a monitor: it records what a sink plays (the speakers), and is never a microphone.
bool isMicrophone(const pa_source_info& source);

// One connection to the PulseAudio server, driven by its own threaded main loop. Created idle.
// All calls are made from one thread other than the loop's; every call except startLoop() is made
// inside a Lock. Waits are bounded by a deadline on the pa_rtclock_now() clock; a connection
// that misses one is dropped, and the next routedSource() makes a new one.
class PulseConnection {
 public:
  PulseConnection() = default;
  // Disconnects and ends the loop's thread.
  ~PulseConnection();

  PulseConnection(const PulseConnection&) = delete;
  PulseConnection& operator=(const PulseConnection&) = delete;

  // Holds the loop's lock for its scope (nothing to hold before the loop runs). Callbacks that
  // libpulse runs on the loop's thread hold the same lock.
  class Lock {
   public:
    explicit Lock(const PulseConnection& connection);
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

   private:
    pa_threaded_mainloop* const mainloop_;
  };

  // Starts the loop's thread once and waits until `deadline` for it to run; connects to nothing.
  // Made on the main thread, the loop's thread inherits its mask and never takes the main loop's
  // signals. A loop whose thread does not answer in time is never used (routedSource() then
  // fails), and the next call starts another.
  void startLoop(pa_usec_t deadline);

  // Connects unless connected, and looks up the source that a record stream connected without
  // a device name goes to: the one that PULSE_SOURCE names (libpulse reads it for such a
  // stream), else the server's current default source. Fails with PA_ERR_NOENTITY when there is
  // no such source, or when it is a monitor (then saying so).
  Result<PulseSourceInfo> routedSource(pa_usec_t deadline);

  // Waits, letting the loop run, until `done` returns true, or fails with PA_ERR_TIMEOUT once
  // `deadline` passes. Callbacks wake the wait with pa_threaded_mainloop_signal(mainloop(), 0).
  // Needs a connection.
  Result<> waitUntil(const std::function<bool()>& done, pa_usec_t deadline);

  void disconnect();

  pa_threaded_mainloop* mainloop() const { return mainloop_; }
  // Null while not connected.
  pa_context* context() const { return context_; }

 private:
  Result<> connect(pa_usec_t deadline);

  pa_threaded_mainloop* mainloop_ = nullptr;
  pa_context* context_ = nullptr;
};

// pa_context_errno() of `context`, or `fallback` where that names no error: for a failure that
// must be reported with a cause.
Failure contextFailure(pa_context* context, int fallback);

}  // namespace speechline
