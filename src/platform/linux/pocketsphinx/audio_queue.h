#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <vector>

struct pollfd;

#include "platform/audio_buffer.h"

namespace speechline {

// How much audio may wait at once: enough for a decoder that falls behind for a while, not so
// much that a stalled one holds the machine's memory.
struct AudioQueueBound {
  std::chrono::milliseconds duration{60000};
  size_t bytes = size_t{64} << 20;  // of samples
};

// One appended buffer, copied.
struct AudioBlock {
  std::vector<float> samples;  // interleaved by channel
  uint32_t frameLength = 0;
  AudioFormat format;
  std::chrono::steady_clock::time_point arrival;  // when push() took it
};

// Carries captured audio from the audio thread to the recognition thread without a lock: two
// single-producer, single-consumer linked lists, one carrying filled blocks forward and one
// bringing used blocks back, so that push() allocates only when more blocks wait than ever
// before. The producer keeps the blocks it gets back on a stack of its own and fills the one
// used last: a block that waited its turn in a long rotation has gone cold, and writing it can
// cost the audio thread tens of microseconds.
//
// push() is called by one producer thread at a time (the audio thread); front(), pop() and
// waitForAudio() by one consumer thread at a time. finish(), wake(), overflowed(), the lost
// audio flag and the counters may be used from any thread.
class AudioQueue {
 public:
  // Blocks made ready, their memory touched, before the audio thread needs them: while the
  // model loads nothing is consumed, and allocating on the audio thread costs it tens of
  // microseconds a buffer. Enough for 2.7 s of 1024-frame stereo buffers at 48 kHz.
  static constexpr size_t kPreparedBlocks = 128;
  static constexpr size_t kPreparedSamples = 2048;

  explicit AudioQueue(AudioQueueBound bound = {});
  ~AudioQueue();

  AudioQueue(const AudioQueue&) = delete;
  AudioQueue& operator=(const AudioQueue&) = delete;

  // Copies one buffer in, with the time. Never blocks, and makes no system call: it does not
  // wake the consumer, since waking another thread costs the audio thread a system call and
  // often an interrupt to another CPU (the consumer can tell from the times when more is due).
  // Returns false when the buffer holds no samples, or when it would take the queue past its
  // bound: then it is not kept, and overflowed() tells the consumer that audio was lost.
  bool push(const float* interleavedSamples, uint32_t frameLength, AudioFormat format);

  // True for good once push() has refused a buffer for want of room.
  bool overflowed() const { return overflowed_.load(std::memory_order_acquire); }

  // Audio was lost before it reached the queue (the sound server dropped it). Never blocks.
  void markAudioLost() { audioLost_.store(true, std::memory_order_release); }
  // True for good once markAudioLost() has been called.
  bool audioLost() const { return audioLost_.load(std::memory_order_acquire); }

  // The oldest block, or null when none waits. Valid until pop().
  const AudioBlock* front();
  void pop();

  // Waits until wake() or finish() is called, `also` (if given) is ready, or `timeout` has
  // passed. A consumer waiting for audio uses a short timeout and looks at front() again.
  void waitForAudio(std::chrono::milliseconds timeout, pollfd* also = nullptr);

  // Ends a waitForAudio() early.
  void wake();

  // No more audio will be pushed.
  void finish();
  bool finished() const { return finished_.load(std::memory_order_acquire); }

  // Every push() call so far, dropped buffers included.
  uint64_t arrivals() const { return arrivals_.load(std::memory_order_relaxed); }

 private:
  struct Node {
    std::atomic<Node*> next{nullptr};
    AudioBlock block;
  };

  // What one block counts against the bound.
  struct Size {
    uint64_t microseconds;
    uint64_t bytes;
  };
  static Size sizeOf(uint32_t frameLength, AudioFormat format);

  static Node* newPreparedNode();
  Node* takeFreeNode();      // producer
  void recycle(Node* node);  // consumer

  // Filled list: the consumer owns the head (a used node whose successor is the front), the
  // producer owns the tail.
  Node* filledHead_;
  Node* filledTail_;
  // Free list, in the other direction: the producer owns the head, the consumer the tail.
  Node* freeHead_;
  Node* freeTail_;
  // The producer's stack of free nodes, linked through `next`, the most recently used on top.
  Node* spare_ = nullptr;

  const Size bound_;
  // Added by the producer before a block is linked, taken off by the consumer as it pops.
  std::atomic<uint64_t> queuedMicroseconds_{0};
  std::atomic<uint64_t> queuedBytes_{0};
  std::atomic<bool> overflowed_{false};
  std::atomic<bool> audioLost_{false};
  std::atomic<uint64_t> arrivals_{0};
  std::atomic<bool> finished_{false};
  const int wakeFd_;  // an eventfd; -1 if none could be made, and then waits just time out
};

}  // namespace speechline
