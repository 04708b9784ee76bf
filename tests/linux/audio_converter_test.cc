#include "platform/linux/audio_converter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace speechline {
namespace {

// `seconds` of a sine at `frequency` on every channel, scaled by `channelGains`.
std::vector<float> sine(double rate, double seconds, double frequency,
                        const std::vector<float>& channelGains) {
  const size_t frames = static_cast<size_t>(rate * seconds);
  std::vector<float> samples;
  for (size_t frame = 0; frame < frames; ++frame) {
    const float value =
        static_cast<float>(std::sin(2 * std::numbers::pi * frequency * frame / rate));
    for (const float gain : channelGains) samples.push_back(gain * value);
  }
  return samples;
}

// Converts `samples` in buffers of 1024 frames, then flushes.
std::vector<int16_t> convertAll(AudioConverter& converter, const std::vector<float>& samples,
                                AudioFormat format) {
  std::vector<int16_t> output;
  std::string error;
  const size_t frames = samples.size() / format.channelCount;
  for (size_t start = 0; start < frames; start += 1024) {
    const uint32_t length = static_cast<uint32_t>(std::min<size_t>(1024, frames - start));
    EXPECT_TRUE(converter.convert(samples.data() + start * format.channelCount, length, format,
                                  &output, &error))
        << error;
  }
  converter.flush(&output);
  return output;
}

int peak(const std::vector<int16_t>& samples, size_t from, size_t to) {
  int result = 0;
  for (size_t i = from; i < to; ++i) result = std::max(result, std::abs(int{samples[i]}));
  return result;
}

size_t signChanges(const std::vector<int16_t>& samples, size_t from, size_t to) {
  size_t changes = 0;
  for (size_t i = from + 1; i < to; ++i) changes += (samples[i - 1] < 0) != (samples[i] < 0);
  return changes;
}

TEST(AudioConverterTest, AveragesChannelsAndResamplesTo16kHz) {
  const struct {
    double rate;
    std::vector<float> gains;
    int expectedPeak;  // of the 16-bit mono result
  } cases[] = {
      {48000, {0.5f, 0.5f}, 16384},
      {48000, {1.0f, 0.0f}, 16384},
      {44100, {0.25f, 0.75f, 0.5f, 0.5f}, 16384},
      {16000, {0.5f}, 16384},
      {48000, {0.8f, -0.8f}, 0},  // opposite channels cancel
  };
  for (const auto& c : cases) {
    const AudioFormat format{c.rate, static_cast<uint32_t>(c.gains.size())};
    AudioConverter converter;
    const std::vector<int16_t> output =
        convertAll(converter, sine(c.rate, 1.0, 1000, c.gains), format);
    // One second in, one second out, to the sample.
    ASSERT_EQ(output.size(), 16000u) << c.rate;
    // Away from the edges (14000 samples, 0.875 s): the level of the average, and the 1750
    // sign changes of a 1 kHz tone.
    EXPECT_NEAR(peak(output, 1000, 15000), c.expectedPeak, 200) << c.rate;
    if (c.expectedPeak > 0) {
      EXPECT_NEAR(signChanges(output, 1000, 15000), 1750, 4) << c.rate;
    }
  }
}

TEST(AudioConverterTest, GivesTheSameSamplesEveryRun) {
  const std::vector<float> input = sine(48000, 0.5, 440, {0.3f, 0.1f});
  AudioConverter first;
  AudioConverter second;
  EXPECT_EQ(convertAll(first, input, {48000, 2}), convertAll(second, input, {48000, 2}));
}

TEST(AudioConverterTest, FollowsARateChangeAndRefusesNoRate) {
  AudioConverter converter;
  std::vector<int16_t> output;
  std::string error;
  const std::vector<float> at48 = sine(48000, 0.5, 440, {0.5f});
  const std::vector<float> at44 = sine(44100, 0.5, 440, {0.5f});
  ASSERT_TRUE(converter.convert(at48.data(), 24000, {48000, 1}, &output, &error));
  ASSERT_TRUE(converter.convert(at44.data(), 22050, {44100, 1}, &output, &error));
  converter.flush(&output);
  EXPECT_EQ(output.size(), 16000u);

  EXPECT_FALSE(converter.convert(at48.data(), 1024, {0, 1}, &output, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(error.back(), '.');
}

}  // namespace
}  // namespace speechline
