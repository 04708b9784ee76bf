#include "platform/linux/pocketsphinx/audio_queue.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace speechline {

AudioQueue::AudioQueue(AudioQueueBound bound)
    : filledHead_(newPreparedNode()),
      filledTail_(filledHead_),
      freeHead_(newPreparedNode()),
      freeTail_(freeHead_),
      bound_{static_cast<uint64_t>(
                 std::chrono::duration_cast<std::chrono::microseconds>(bound.duration).count()),
             bound.bytes},
      wakeFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  for (size_t i = 0; i < kPreparedBlocks; ++i) {
    Node* node = newPreparedNode();
    node->next.store(spare_, std::memory_order_relaxed);
    spare_ = node;
  }
}

AudioQueue::~AudioQueue() {
  for (Node* start : {filledHead_, freeHead_, spare_}) {
    for (Node* node = start; node != nullptr;) {
      Node* next = node->next.load(std::memory_order_relaxed);
      delete node;
      node = next;
    }
  }
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

bool AudioQueue::push(const float* interleavedSamples, uint32_t frameLength, AudioFormat format) {
  arrivals_.fetch_add(1, std::memory_order_relaxed);
  if (interleavedSamples == nullptr || frameLength == 0 || format.channelCount == 0) {
    return false;
  }
  const Size size = sizeOf(frameLength, format);
  if (queuedMicroseconds_.load(std::memory_order_relaxed) + size.microseconds >
          bound_.microseconds ||
      queuedBytes_.load(std::memory_order_relaxed) + size.bytes > bound_.bytes) {
    overflowed_.store(true, std::memory_order_release);
    return false;
  }
  // Counted before the block can be popped, so the totals never go below zero.
  queuedMicroseconds_.fetch_add(size.microseconds, std::memory_order_relaxed);
  queuedBytes_.fetch_add(size.bytes, std::memory_order_relaxed);

  Node* node = takeFreeNode();
  node->block.samples.assign(interleavedSamples,
                             interleavedSamples + size_t{frameLength} * format.channelCount);
  node->block.frameLength = frameLength;
  node->block.format = format;
  node->block.arrival = std::chrono::steady_clock::now();
  node->next.store(nullptr, std::memory_order_relaxed);
  filledTail_->next.store(node, std::memory_order_release);
  filledTail_ = node;
  return true;
}

const AudioBlock* AudioQueue::front() {
  Node* next = filledHead_->next.load(std::memory_order_acquire);
  return next != nullptr ? &next->block : nullptr;
}

void AudioQueue::pop() {
  Node* next = filledHead_->next.load(std::memory_order_acquire);
  if (next == nullptr) return;
  Node* used = filledHead_;
  filledHead_ = next;
  const Size size = sizeOf(next->block.frameLength, next->block.format);
  queuedMicroseconds_.fetch_sub(size.microseconds, std::memory_order_relaxed);
  queuedBytes_.fetch_sub(size.bytes, std::memory_order_relaxed);
  recycle(used);
}

AudioQueue::Size AudioQueue::sizeOf(uint32_t frameLength, AudioFormat format) {
  const uint64_t microseconds =
      format.sampleRate > 0 ? static_cast<uint64_t>(frameLength * 1e6 / format.sampleRate) : 0;
  return {microseconds, uint64_t{frameLength} * format.channelCount * sizeof(float)};
}

AudioQueue::Node* AudioQueue::newPreparedNode() {
  Node* node = new Node;
  node->block.samples.resize(kPreparedSamples);
  node->block.samples.clear();
  return node;
}

AudioQueue::Node* AudioQueue::takeFreeNode() {
  // Every node handed back goes onto the stack, the newest last. A head is taken once it has a
  // successor, which becomes the new head: the consumer no longer touches a node once it has
  // linked another after it.
  while (Node* next = freeHead_->next.load(std::memory_order_acquire)) {
    Node* node = freeHead_;
    freeHead_ = next;
    node->next.store(spare_, std::memory_order_relaxed);
    spare_ = node;
  }
  if (spare_ == nullptr) return newPreparedNode();
  Node* node = spare_;
  spare_ = node->next.load(std::memory_order_relaxed);
  return node;
}

void AudioQueue::recycle(Node* node) {
  node->next.store(nullptr, std::memory_order_relaxed);
  freeTail_->next.store(node, std::memory_order_release);
  freeTail_ = node;
}

void AudioQueue::waitForAudio(std::chrono::milliseconds timeout, pollfd* also) {
  pollfd wait[2] = {{wakeFd_, POLLIN, 0}, {-1, 0, 0}};
  if (also) wait[1] = *also;
  const int ready = ::poll(wait, also ? 2 : 1, static_cast<int>(timeout.count()));
  if (also) also->revents = wait[1].revents;
  if (ready > 0 && (wait[0].revents & POLLIN)) {
    uint64_t count;
    [[maybe_unused]] const ssize_t ignored = ::read(wakeFd_, &count, sizeof count);
  }
}

void AudioQueue::wake() {
  if (wakeFd_ < 0) return;
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t ignored = ::write(wakeFd_, &one, sizeof one);
}

void AudioQueue::finish() {
  finished_.store(true, std::memory_order_release);
  wake();
}

}  // namespace speechline
