#include "platform/linux/pocketsphinx/recognizer_messages.h"

#include <cstring>

namespace speechline {
namespace {

constexpr size_t kHeaderSize = 1 + sizeof(uint32_t);

bool isKnownKind(char kind) {
  switch (static_cast<RecognizerMessageKind>(kind)) {
    case RecognizerMessageKind::kReady:
    case RecognizerMessageKind::kTranscript:
    case RecognizerMessageKind::kFinal:
    case RecognizerMessageKind::kFailed:
      return true;
  }
  return false;
}

Failure notAMessage() { return {"The recognizer sent something that is not a message."}; }

}  // namespace

std::string encodeRecognizerMessage(RecognizerMessageKind kind, std::string_view text) {
  const auto length = static_cast<uint32_t>(text.size());
  std::string message(kHeaderSize, static_cast<char>(kind));
  std::memcpy(message.data() + 1, &length, sizeof length);
  message.append(text);
  return message;
}

Result<> RecognizerMessageReader::read(const char* data, size_t size,
                                       std::vector<RecognizerMessage>* messages) {
  if (broken_) return notAMessage();
  pending_.append(data, size);
  size_t start = 0;
  while (pending_.size() - start >= kHeaderSize) {
    uint32_t length;
    std::memcpy(&length, pending_.data() + start + 1, sizeof length);
    if (!isKnownKind(pending_[start]) || length > kMaxRecognizerText) {
      broken_ = true;
      return notAMessage();
    }
    if (pending_.size() - start - kHeaderSize < length) break;
    messages->push_back({static_cast<RecognizerMessageKind>(pending_[start]),
                         pending_.substr(start + kHeaderSize, length)});
    start += kHeaderSize + length;
  }
  pending_.erase(0, start);
  return Done{};
}

}  // namespace speechline
