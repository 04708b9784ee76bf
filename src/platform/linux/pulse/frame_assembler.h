#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace speechline {

// Cuts a stream of interleaved float samples, arriving in pieces of any size (even splitting a
// sample), into blocks of a fixed number of frames. Not thread-safe; allocates only in reset().
class FrameAssembler {
 public:
  // Empties the block and sizes it for `framesPerBlock` frames of `channelCount` samples.
  void reset(uint32_t framesPerBlock, uint32_t channelCount);

  // Copies as much of the `size` bytes at `data` as fit into the current block and returns how
  // many it took. A null `data` stands for `size` bytes of silence.
  size_t append(const void* data, size_t size);

  // True when the block holds all its frames; the caller then reads samples() and calls clear().
  bool full() const { return filled_ == block_.size() * sizeof(float); }
  const float* samples() const { return block_.data(); }
  uint32_t framesPerBlock() const { return framesPerBlock_; }
  void clear() { filled_ = 0; }

 private:
  std::vector<float> block_;
  size_t filled_ = 0;  // in bytes
  uint32_t framesPerBlock_ = 0;
};

}  // namespace speechline
