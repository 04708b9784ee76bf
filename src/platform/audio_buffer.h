#pragma once

#include <cstdint>

namespace speechline {

// The format of audio on one bus of an audio node.
struct AudioFormat {
  double sampleRate = 0;
  // 0 means that no microphone input is available.
  uint32_t channelCount = 0;
};

// One captured block of audio, as the audio service hands it to a tap: 32-bit float samples,
// interleaved by channel. Valid only for the duration of the tap callback; whoever keeps the
// audio longer copies it. A backend whose platform has its own buffer object derives from this
// class so that its speech service can reach that object.
class AudioPCMBuffer {
 public:
  AudioPCMBuffer(const float* interleavedSamples, uint32_t frameLength, AudioFormat format)
      : samples_(interleavedSamples), frameLength_(frameLength), format_(format) {}
  virtual ~AudioPCMBuffer() = default;

  AudioPCMBuffer(const AudioPCMBuffer&) = delete;
  AudioPCMBuffer& operator=(const AudioPCMBuffer&) = delete;

  // frameLength() * format().channelCount samples; may be null where the platform keeps the
  // samples in its own buffer object.
  const float* interleavedSamples() const { return samples_; }
  uint32_t frameLength() const { return frameLength_; }
  const AudioFormat& format() const { return format_; }

 private:
  const float* samples_;
  uint32_t frameLength_;
  AudioFormat format_;
};

// When a buffer was captured. The speech input ignores it.
struct AudioTime {
  int64_t sampleTime = 0;
  double sampleRate = 0;
};

}  // namespace speechline
