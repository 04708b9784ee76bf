#include "platform/linux/lost_audio_detector.h"

#include <algorithm>

namespace speechline {

bool LostAudioDetector::update(Clock::time_point now, int64_t frames, double sampleRate) {
  if (!(sampleRate > 0)) return lost_;
  if (!origin_) {
    origin_ = Origin{now, frames};
    last_ = now;
    floor_ = 0;
    stallEnded_.reset();
    lost_ = false;
    return false;
  }
  using Seconds = std::chrono::duration<double>;
  const double lag = Seconds(now - origin_->time).count() -
                     static_cast<double>(frames - origin_->frames) / sampleRate;
  if (now - last_ > kMargin && !stallEnded_) stallEnded_ = now;
  last_ = now;
  if (stallEnded_) {
    if (lag - floor_ > Seconds(kMargin).count()) {
      if (now - *stallEnded_ >= kSettle) lost_ = true;
      return lost_;
    }
    stallEnded_.reset();
  }
  floor_ = std::clamp(floor_, lag - Seconds(kFollow).count(), lag);
  return lost_;
}

}  // namespace speechline
