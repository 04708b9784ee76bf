#include "platform/linux/pulse/frame_assembler.h"

#include <algorithm>
#include <cstring>

namespace speechline {

void FrameAssembler::reset(uint32_t framesPerBlock, uint32_t channelCount) {
  block_.assign(static_cast<size_t>(framesPerBlock) * channelCount, 0.0f);
  framesPerBlock_ = framesPerBlock;
  filled_ = 0;
}

size_t FrameAssembler::append(const void* data, size_t size) {
  const size_t taken = std::min(size, block_.size() * sizeof(float) - filled_);
  char* destination = reinterpret_cast<char*>(block_.data()) + filled_;
  if (data) {
    std::memcpy(destination, data, taken);
  } else {
    std::memset(destination, 0, taken);  // all-zero bytes are 0.0f
  }
  filled_ += taken;
  return taken;
}

}  // namespace speechline
