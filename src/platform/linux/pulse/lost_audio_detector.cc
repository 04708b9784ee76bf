#include "platform/linux/pulse/lost_audio_detector.h"

#include <algorithm>

namespace speechline {

bool LostAudioDetector::update(Clock::time_point now, int64_t frames, double sampleRate) {
  if (!(sampleRate > 0)) return lost_;
  if (!origin_) {
    origin_ = Origin{now, frames};
    floor_ = 0;
    aboveSince_.reset();
    lost_ = false;
    return false;
  }
  using Seconds = std::chrono::duration<double>;
  const double lag = Seconds(now - origin_->time).count() -
                     static_cast<double>(frames - origin_->frames) / sampleRate;
  if (lag - floor_ > Seconds(kMargin).count()) {
    if (!aboveSince_) aboveSince_ = now;
    if (now - *aboveSince_ >= kSettle) lost_ = true;
    return lost_;
  }
  aboveSince_.reset();
  floor_ = std::clamp(floor_, lag - Seconds(kFollow).count(), lag);
  return lost_;
}

}  // namespace speechline
