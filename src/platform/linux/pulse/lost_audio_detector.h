#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

namespace speechline {

// Tells audio that the sound server dropped from audio that is only late, by the frames a record
// stream has delivered against the system's clock. The server holds what a client does not read
// (about 11 s at 48 kHz stereo on PulseAudio) and drops the rest without a word: a process
// stopped longer than that (SIGSTOP, a debugger, a frozen session) finds, once it runs again,
// that the backlog it catches up on ends short of the time that has passed.
//
// The stream's lag behind the clock is compared with its floor, the lag it settled at. Audio
// held up (a stop the server could bridge, a thread that ran late) brings the lag back down
// once the backlog arrives; a lag that stays more than kMargin above the floor for kSettle is
// loss. Otherwise the floor follows the lag down at once, and up once the lag is more than
// kFollow above it: a sound card's clock runs a little faster or slower than the system's, and
// the lag drifts with it. Not thread-safe; allocates nothing.
class LostAudioDetector {
 public:
  using Clock = std::chrono::steady_clock;

  static constexpr std::chrono::milliseconds kMargin{250};
  static constexpr std::chrono::milliseconds kFollow{100};
  static constexpr std::chrono::milliseconds kSettle{2000};

  // Counts afresh from the next update(): at the stream's start, and after a gap that loses
  // nothing (the stream moved to another source, or its source was suspended).
  void restart() { origin_.reset(); }

  // Takes the count of frames delivered so far, at `sampleRate`, as of `now`. Returns true once
  // audio is known lost, and on every call after that until restart().
  bool update(Clock::time_point now, int64_t frames, double sampleRate);

 private:
  struct Origin {
    Clock::time_point time;
    int64_t frames;
  };
  std::optional<Origin> origin_;
  double floor_ = 0;  // seconds behind the clock
  // Since when the lag has stayed more than kMargin above the floor.
  std::optional<Clock::time_point> aboveSince_;
  bool lost_ = false;
};

}  // namespace speechline
