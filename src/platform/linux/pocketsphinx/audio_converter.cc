#include "platform/linux/pocketsphinx/audio_converter.h"

#include <soxr.h>

#include <cmath>

#include "platform/linux/pocketsphinx/recognizer_messages.h"

namespace speechline {
namespace {

// Room for what one call may release beyond its share of the input: the resampler's output
// comes in bursts.
constexpr size_t kOutputMargin = 512;

}  // namespace

AudioConverter::~AudioConverter() {
  if (resampler_) soxr_delete(resampler_);
}

Result<> AudioConverter::convert(const float* interleavedSamples, uint32_t frameLength,
                                 const AudioFormat& format, std::vector<int16_t>* output) {
  const uint32_t channels = format.channelCount;
  if (interleavedSamples == nullptr || frameLength == 0 || channels == 0) return Done{};
  if (Result<> ready = useInputRate(format.sampleRate, output); !ready) return ready;
  mono_.resize(frameLength);
  for (uint32_t frame = 0; frame < frameLength; ++frame) {
    const float* first = interleavedSamples + size_t{frame} * channels;
    float sum = 0;
    for (uint32_t channel = 0; channel < channels; ++channel) sum += first[channel];
    mono_[frame] = sum / static_cast<float>(channels);
  }
  resample(mono_.data(), frameLength, output);
  return Done{};
}

// Sets the resampler up for `sampleRate`, flushing what one for another rate still holds.
Result<> AudioConverter::useInputRate(double sampleRate, std::vector<int16_t>* output) {
  if (!(sampleRate > 0) || !std::isfinite(sampleRate)) {
    return Failure{"The audio has no valid sample rate."};
  }
  if (resampler_ && sampleRate == inputRate_) return Done{};
  if (resampler_) {
    flush(output);
    soxr_delete(resampler_);
    resampler_ = nullptr;
  }
  soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_INT16_I);
  // soxr dithers 16-bit output by default, which makes every run decode differently.
  io.flags |= SOXR_NO_DITHER;
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
  const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
  soxr_error_t error = nullptr;
  resampler_ = soxr_create(sampleRate, kRecognizerSampleRate, 1, &error, &io, &quality, &runtime);
  if (error || !resampler_) {
    if (resampler_) soxr_delete(resampler_);
    resampler_ = nullptr;
    return Failure{std::string("The audio cannot be resampled: ") + soxr_strerror(error) + "."};
  }
  inputRate_ = sampleRate;
  return Done{};
}

void AudioConverter::flush(std::vector<int16_t>* output) {
  if (resampler_) resample(nullptr, 0, output);
}

void AudioConverter::resample(const float* mono, size_t frames, std::vector<int16_t>* output) {
  const double ratio = kRecognizerSampleRate / inputRate_;
  size_t consumed = 0;
  while (true) {
    const size_t room =
        static_cast<size_t>(static_cast<double>(frames - consumed) * ratio) + kOutputMargin;
    const size_t start = output->size();
    output->resize(start + room);
    size_t used = 0;
    size_t produced = 0;
    // A null input tells soxr that the audio has ended and it should release what it holds.
    const soxr_error_t processError =
        soxr_process(resampler_, mono ? mono + consumed : nullptr, frames - consumed, &used,
                     output->data() + start, room, &produced);
    output->resize(start + produced);
    consumed += used;
    if (processError || (consumed >= frames && produced < room)) return;
  }
}

}  // namespace speechline
