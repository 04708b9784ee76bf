#include "platform/linux/pocketsphinx/audio_converter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace speechline {
namespace {

// One second of a 1 kHz sine on every channel, scaled by `channelGains`.
std::vector<float> sine(double rate, const std::vector<float>& channelGains) {
  std::vector<float> samples;
  for (size_t frame = 0; frame < static_cast<size_t>(rate); ++frame) {
    const double value = std::sin(2 * std::numbers::pi * 1000 * static_cast<double>(frame) / rate);
    for (const float gain : channelGains) samples.push_back(gain * static_cast<float>(value));
  }
  return samples;
}

// Converts `samples` in buffers of 1024 frames, then flushes.
std::vector<int16_t> convertAll(const std::vector<float>& samples, AudioFormat format) {
  AudioConverter converter;
  std::vector<int16_t> output;
  const size_t frames = samples.size() / format.channelCount;
  for (size_t start = 0; start < frames; start += 1024) {
    const auto length = static_cast<uint32_t>(std::min<size_t>(1024, frames - start));
    const Result<> converted =
        converter.convert(samples.data() + start * format.channelCount, length, format, &output);
    EXPECT_TRUE(converted) << converted.failure().description;
  }
  converter.flush(&output);
  return output;
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
    const std::vector<int16_t> output =
        convertAll(sine(c.rate, c.gains), {c.rate, static_cast<uint32_t>(c.gains.size())});
    // One second in, one second out, to the sample.
    ASSERT_EQ(output.size(), 16000u) << c.rate;
    // Away from the edges (0.875 s): the level of the average, and a 1 kHz tone's 1750 sign
    // changes.
    int peak = 0;
    int signChanges = 0;
    for (size_t i = 1000; i < 15000; ++i) {
      peak = std::max(peak, std::abs(int{output[i]}));
      signChanges += (output[i - 1] < 0) != (output[i] < 0);
    }
    EXPECT_NEAR(peak, c.expectedPeak, 200) << c.rate;
    if (c.expectedPeak > 0) {
      EXPECT_NEAR(signChanges, 1750, 4) << c.rate;
    }
  }
}

TEST(AudioConverterTest, GivesTheSameSamplesEveryRun) {
  const std::vector<float> input = sine(48000, {0.3f, 0.1f});
  EXPECT_EQ(convertAll(input, {48000, 2}), convertAll(input, {48000, 2}));
}

TEST(AudioConverterTest, FollowsARateChangeAndRefusesNoRate) {
  AudioConverter converter;
  std::vector<int16_t> output;
  const std::vector<float> at48 = sine(48000, {0.5f});
  const std::vector<float> at44 = sine(44100, {0.5f});
  ASSERT_TRUE(converter.convert(at48.data(), 24000, {48000, 1}, &output));
  ASSERT_TRUE(converter.convert(at44.data(), 22050, {44100, 1}, &output));
  converter.flush(&output);
  EXPECT_EQ(output.size(), 16000u);
  const Result<> refused = converter.convert(at48.data(), 1024, {0, 1}, &output);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.failure().description, "The audio has no valid sample rate.");
}

}  // namespace
}  // namespace speechline
