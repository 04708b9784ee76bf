#include "platform/linux/lost_audio_detector.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace speechline {
namespace {

using Clock = LostAudioDetector::Clock;
using Seconds = std::chrono::duration<double>;
constexpr double kRate = 48000;
constexpr double kBlock = 1024 / kRate;

// A stretch of a record stream: `seconds` of the system's clock. Running, it delivers a block
// per block time of a sound card whose clock runs at `speed` times the system's. Stalled, it
// delivers nothing, and then, at once, the backlog the server kept: `kept` seconds of audio.
struct Stretch {
  double seconds;
  double speed = 1;
  bool stalled = false;
  double kept = 0;
};

struct Case {
  const char* name;
  std::vector<Stretch> stretches;
  bool lost;
};

// When (seconds from the start) the detector first reports loss, if it does.
std::optional<double> firstLoss(const std::vector<Stretch>& stretches) {
  LostAudioDetector detector;
  const Clock::time_point start{};
  double now = 0, audio = 0;
  auto update = [&] {
    const Clock::time_point at = start + std::chrono::duration_cast<Clock::duration>(Seconds(now));
    return detector.update(at, static_cast<int64_t>(audio * kRate), kRate);
  };
  for (const Stretch& stretch : stretches) {
    const double end = now + stretch.seconds;
    if (stretch.stalled) {
      now = end;
      for (double backlog = stretch.kept; backlog > 0; backlog -= kBlock, now += 0.0001) {
        audio += kBlock;
        if (update()) return now;
      }
      continue;
    }
    for (; now < end; now += kBlock) {
      audio += kBlock * stretch.speed;
      if (update()) return now;
    }
  }
  return std::nullopt;
}

TEST(LostAudioDetectorTest, TellsLossFromDelayAndDrift) {
  const double hour = 3600, slow = 0.995, fast = 1.005;
  for (const Case& c : std::vector<Case>{
           {"a sound card slower than the clock", {{hour, slow}}, false},
           {"a sound card faster than the clock", {{hour, fast}}, false},
           {"a stop the server bridged", {{5}, {8, 1, true, 8}, {5}}, false},
           {"a stop the server bridged, after an hour of drift",
            {{hour, slow}, {8, 1, true, 8}, {5, slow}},
            false},
           {"a stop longer than the server holds", {{5}, {15, 1, true, 11}, {5}}, true},
           {"0.3 s lost", {{5}, {12, 1, true, 11.7}, {5}}, true},
       }) {
    SCOPED_TRACE(c.name);
    const std::optional<double> lost = firstLoss(c.stretches);
    ASSERT_EQ(lost.has_value(), c.lost);
    // Reported once the backlog has had its time to come, and not long after.
    if (lost) {
      const double stallEnd = c.stretches[0].seconds + c.stretches[1].seconds;
      EXPECT_GE(*lost - stallEnd, Seconds(LostAudioDetector::kSettle).count());
      EXPECT_LT(*lost - stallEnd, Seconds(LostAudioDetector::kSettle).count() + 0.1);
    }
  }
}

}  // namespace
}  // namespace speechline
