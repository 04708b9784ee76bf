#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/audio_buffer.h"
#include "platform/linux/result.h"

typedef struct soxr* soxr_t;

namespace speechline {

// Turns captured audio (32-bit float, any rate, any channel count, interleaved) into what the
// recognizer decodes: mono signed 16-bit at kRecognizerSampleRate. Channels are averaged; libsoxr
// resamples at high quality without dither, so the same input always gives the same output. Used by
// one thread at a time.
class AudioConverter {
 public:
  AudioConverter() = default;
  ~AudioConverter();

  AudioConverter(const AudioConverter&) = delete;
  AudioConverter& operator=(const AudioConverter&) = delete;

  // Appends the converted samples of one buffer to `*output`. The resampler holds back a few
  // milliseconds of audio until later input or flush() releases it. A change of sample rate
  // flushes what the old rate held. Fails when the resampler cannot be set up for `format`.
  Result<> convert(const float* interleavedSamples, uint32_t frameLength, const AudioFormat& format,
                   std::vector<int16_t>* output);

  // Appends what the resampler still holds, at the end of the audio.
  void flush(std::vector<int16_t>* output);

 private:
  Result<> useInputRate(double sampleRate, std::vector<int16_t>* output);
  void resample(const float* mono, size_t frames, std::vector<int16_t>* output);

  soxr_t resampler_ = nullptr;
  double inputRate_ = 0;
  std::vector<float> mono_;
};

}  // namespace speechline
