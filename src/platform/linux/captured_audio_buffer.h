#pragma once

#include "platform/audio_buffer.h"

namespace speechline {

// A buffer as the PulseAudio engine hands it to the tap: it also says whether audio was lost
// ahead of it (the server dropped what the process did not read in time; see
// LostAudioDetector), so that the speech service can fail the task rather than recognise a
// transcript with a hole in it. Once a buffer says so, every later one does.
class CapturedAudioBuffer : public AudioPCMBuffer {
 public:
  CapturedAudioBuffer(const float* interleavedSamples, uint32_t frameLength, AudioFormat format,
                      bool audioLost)
      : AudioPCMBuffer(interleavedSamples, frameLength, format), audioLost_(audioLost) {}

  bool audioLost() const { return audioLost_; }

 private:
  const bool audioLost_;
};

}  // namespace speechline
