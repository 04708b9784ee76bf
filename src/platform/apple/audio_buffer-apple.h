#pragma once

#import <AVFoundation/AVFoundation.h>

#include "platform/audio_buffer.h"

namespace speechline {

// A captured buffer as AVAudioEngine's tap delivered it, wrapped for the duration of one tap
// call. The Apple recognition request appends platformBuffer() itself, so the audio reaches the
// recognizer exactly as captured. The samples stay in the platform buffer (deinterleaved in the
// standard format), so interleavedSamples() is null.
class AppleAudioPCMBuffer : public AudioPCMBuffer {
 public:
  explicit AppleAudioPCMBuffer(AVAudioPCMBuffer* buffer)
      : AudioPCMBuffer(nullptr, buffer.frameLength,
                       AudioFormat{buffer.format.sampleRate, buffer.format.channelCount}),
        buffer_(buffer) {}

  AVAudioPCMBuffer* platformBuffer() const { return buffer_; }

 private:
  AVAudioPCMBuffer* const buffer_;
};

}  // namespace speechline
