#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/result.h"

namespace speechline {

// What speechline and its recognizer process say to each other over one stream socket.
// speechline sends the audio as it comes: 16 kHz mono signed 16-bit samples in the machine's
// byte order, and shuts its sending side down when the audio ends. The recognizer answers with
// messages, each a kind byte, the text's length as a 32-bit number in the machine's byte order,
// then the text.
enum class RecognizerMessageKind : char {
  kReady = 'R',       // the model is loaded; no text
  kTranscript = 'T',  // the recognizer's words so far, when they change
  kFinal = 'F',       // the last words; the recognizer ends after it
  kFailed = 'E',      // the decoder refused the audio; no text
};

struct RecognizerMessage {
  RecognizerMessageKind kind;
  std::string text;
};

// The rate of the audio speechline sends: the one the recognizer's models are made for.
inline constexpr int kRecognizerSampleRate = 16000;

// Whether this program is built with a sanitizer that reports on standard error: speechline
// then lets its recognizer write to its own, where the tests look for reports, and a sanitized
// recognizer keeps what it is given.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitizerReports = true;
#else
inline constexpr bool kSanitizerReports = false;
#endif

// Longer texts are taken as a broken stream: hours of dictation stay well below it.
inline constexpr uint32_t kMaxRecognizerText = 16u << 20;

std::string encodeRecognizerMessage(RecognizerMessageKind kind, std::string_view text = {});

// Cuts a byte stream into messages. Used by one thread.
class RecognizerMessageReader {
 public:
  // Appends received bytes and moves every message they complete into `*messages`. Fails, for
  // good, once the stream holds something that is not a message.
  Result<> read(const char* data, size_t size, std::vector<RecognizerMessage>* messages);

 private:
  std::string pending_;
  bool broken_ = false;
};

}  // namespace speechline
