#include "platform/linux/pulse/lost_audio_detector.h"

#include <gtest/gtest.h>

namespace speechline {
namespace {

// An hour of 1024-frame blocks from a card at `speed` times the clock, no block for `stall` s,
// the `kept` s the server held at once, 5 s more: when loss was reported after the stall, or -1.
double firstLoss(double speed, double stall, double kept) {
  constexpr double kRate = 48000, kBlock = 1024 / kRate, kHour = 3600;
  LostAudioDetector detector;
  double now = 0, audio = 0;
  auto lost = [&](double seconds) {
    audio += seconds;
    const std::chrono::microseconds at(static_cast<int64_t>(now * 1e6));
    return detector.update(LostAudioDetector::Clock::time_point(at),
                           static_cast<int64_t>(audio * kRate), kRate);
  };
  for (; now < kHour; now += kBlock)
    if (lost(kBlock * speed)) return -2;
  const double stallEnd = now = kHour + stall;
  for (; kept > 0; kept -= kBlock, now += 1e-4)
    if (lost(kBlock)) return now - stallEnd;
  for (; now < stallEnd + 5; now += kBlock)
    if (lost(kBlock * speed)) return now - stallEnd;
  return -1;
}

TEST(LostAudioDetectorTest, TellsLossFromDelayAndDrift) {
  const double settle = std::chrono::duration<double>(LostAudioDetector::kSettle).count();
  // Drifting cards and a stop bridged lose nothing; stops that lose 4 s and 0.3 s are reported.
  for (const double speed : {0.995, 1.005}) EXPECT_EQ(firstLoss(speed, 8, 8), -1);
  for (const double at : {firstLoss(1, 15, 11), firstLoss(1, 12, 11.7)})
    EXPECT_TRUE(at >= settle && at < settle + 0.1) << at;
}

}  // namespace
}  // namespace speechline
