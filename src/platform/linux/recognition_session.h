#pragma once

#include <chrono>
#include <memory>

#include "platform/linux/audio_queue.h"
#include "platform/linux/decoder_load.h"
#include "platform/speech_recognizer.h"

namespace speechline {

// How long a running task waits for audio before it fails: a microphone or sound server that
// vanishes must end the run, not leave it waiting for ever.
inline constexpr std::chrono::milliseconds kNoAudioTimeout{5000};

// The timeout of tasks started from now on. Only tests change it.
void setNoAudioTimeout(std::chrono::milliseconds timeout);
std::chrono::milliseconds noAudioTimeout();

struct RecognitionSettings {
  bool reportPartialResults = true;
  std::chrono::milliseconds noAudioTimeout = kNoAudioTimeout;
};

// One recognition task's work: a thread that waits for its decoder, converts and decodes the
// audio as it arrives, and posts each result or error to the main queue, where `handler` runs.
// The thread ends after a final result or an error.
class RecognitionSession {
 public:
  // Starts the thread. A null `audio` (a request another task already reads) fails at once.
  static std::shared_ptr<RecognitionSession> start(std::shared_ptr<AudioQueue> audio,
                                                   std::shared_ptr<DecoderLoad> load,
                                                   RecognitionSettings settings,
                                                   SpeechRecognitionResultHandler handler);

  // Main thread. The handler is not called again once this returns, and the thread stops at
  // its next step.
  void cancel();

  // Shared with the thread and the deliveries it posts.
  struct State;

  RecognitionSession(std::shared_ptr<State> state, std::shared_ptr<AudioQueue> audio)
      : state_(std::move(state)), audio_(std::move(audio)) {}

 private:
  const std::shared_ptr<State> state_;
  const std::shared_ptr<AudioQueue> audio_;
};

}  // namespace speechline
