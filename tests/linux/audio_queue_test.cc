#include "platform/linux/pocketsphinx/audio_queue.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

namespace speechline {
namespace {

constexpr AudioFormat kStereo{48000, 2};

TEST(AudioQueueTest, CarriesEveryBufferInOrderAcrossThreads) {
  constexpr uint32_t kFrames = 1024;
  constexpr int kBuffers = 20000;
  AudioQueue queue;
  std::thread producer([&] {
    std::vector<float> samples(kFrames * 2);
    for (int index = 0; index < kBuffers; ++index) {
      for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<float>(index + i);
      // A full queue drops the buffer; this test wants them all, so it offers it again.
      while (!queue.push(samples.data(), kFrames, kStereo)) std::this_thread::yield();
    }
    queue.finish();
  });

  int received = 0;
  while (true) {
    const bool finished = queue.finished();
    if (const AudioBlock* block = queue.front()) {
      ASSERT_EQ(block->frameLength, kFrames);
      ASSERT_EQ(block->format.channelCount, 2u);
      ASSERT_EQ(block->samples.size(), kFrames * 2);
      ASSERT_EQ(block->samples.front(), static_cast<float>(received));
      ASSERT_EQ(block->samples.back(), static_cast<float>(received + kFrames * 2 - 1));
      queue.pop();
      ++received;
    } else if (finished) {
      break;
    } else {
      queue.waitForAudio(std::chrono::milliseconds(1));
    }
  }
  producer.join();
  EXPECT_EQ(received, kBuffers);
  EXPECT_GE(queue.arrivals(), static_cast<uint64_t>(kBuffers));
}

TEST(AudioQueueTest, HoldsAudioUpToItsBoundThenRefusesItAndSaysSo) {
  const struct {
    AudioQueueBound bound;
    AudioFormat format;
    size_t held;  // 1024-frame buffers
  } cases[] = {
      {{std::chrono::milliseconds(100)}, kStereo, 4},  // 85 ms fit, 107 ms do not
      {{}, kStereo, 2812},                             // 60 s come first
      {{}, AudioFormat{48000, 6}, 2730},               // 64 MiB come first, at 58 s
  };
  for (const auto& c : cases) {
    AudioQueue queue(c.bound);  // and a consumer that has stalled
    const std::vector<float> samples(1024 * c.format.channelCount, 0.5f);
    EXPECT_FALSE(queue.push(nullptr, 1024, c.format));
    EXPECT_FALSE(queue.push(samples.data(), 0, c.format));
    EXPECT_FALSE(queue.push(samples.data(), 1024, AudioFormat{48000, 0}));
    EXPECT_FALSE(queue.overflowed()) << "an empty buffer loses nothing";
    size_t accepted = 0;
    while (accepted <= c.held && queue.push(samples.data(), 1024, c.format)) ++accepted;
    EXPECT_EQ(accepted, c.held);
    EXPECT_TRUE(queue.overflowed());
    size_t held = 0;  // everything it took
    for (; queue.front() != nullptr; queue.pop()) ++held;
    EXPECT_EQ(held, c.held);
    EXPECT_TRUE(queue.overflowed()) << "the loss stays known";
    EXPECT_EQ(queue.arrivals(), c.held + 4);
  }
}

TEST(AudioQueueTest, KeepsReusingTheSameFewBlocksWhileTheConsumerKeepsUp) {
  AudioQueue queue;
  const std::vector<float> samples(2048, 0.5f);
  std::set<const AudioBlock*> used;
  for (int i = 0; i < 1000; ++i) {
    // A burst now and then, as when the decoder falls behind for a moment.
    const int burst = i % 100 == 0 ? 40 : 1;
    for (int b = 0; b < burst; ++b) ASSERT_TRUE(queue.push(samples.data(), 1024, kStereo));
    for (; queue.front() != nullptr; queue.pop()) used.insert(queue.front());
  }
  // A rotation through every prepared block would leave each one cold by its next turn.
  EXPECT_LE(used.size(), 45u);
}

TEST(AudioQueueTest, WakeEndsAWaitEarly) {
  AudioQueue queue;
  std::thread waker([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    queue.wake();
  });
  const auto started = std::chrono::steady_clock::now();
  queue.waitForAudio(std::chrono::seconds(20));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
  waker.join();
}

}  // namespace
}  // namespace speechline
