#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "platform/linux/pocketsphinx/audio_queue.h"
#include "platform/linux/pocketsphinx/model_locator.h"
#include "platform/speech_recognizer.h"

namespace speechline {

// What a PocketSphinx recognizer sets its tasks up with; SpeechRecognizer::create() takes the
// defaults, with English text for an English locale.
struct RecognitionSettings {
  // How long a running task waits for audio before it fails: a microphone or sound server that
  // vanishes must end the run, not leave it waiting for ever.
  std::chrono::milliseconds noAudioTimeout{5000};
  // Whether results are written as English text (transcript_text.h) rather than as the
  // recognizer's words: set for an English locale.
  bool englishText = false;
  // The recognizer program; empty: locateRecognizerProgram().
  std::string recognizerProgram;
  // How long the recognizer may take to load the model (Debian's English model: about half a
  // second) before the task fails: a load that takes far longer is stuck on a damaged model.
  std::chrono::milliseconds loadTimeout{30000};
};

// One PocketSphinx recognition task: a recognizer process (recognizer_process.h) that loads the
// model and decodes, and a thread that converts the audio as it arrives, sends it to the
// process and posts each result or error to the main queue, where `handler` runs. Whatever the
// process does (crash, exit, stall in its load) becomes an error of the task. The thread ends,
// and kills the process, after a final result, an error or cancel(); it holds what it uses, so
// the task may be dropped while it runs (its results are still delivered).
class RecognitionSession : public SpeechRecognitionTask {
 public:
  // Starts the recognizer process for `parts` and the thread. Main thread: the process lives
  // as long as the thread that starts it. A null `audio` (a request another task already
  // reads) fails at once. Partial results are delivered only when `reportPartialResults` is
  // set.
  static std::shared_ptr<RecognitionSession> start(std::shared_ptr<AudioQueue> audio,
                                                   const ModelParts& parts,
                                                   bool reportPartialResults,
                                                   RecognitionSettings settings,
                                                   SpeechRecognitionResultHandler handler);

  // Main thread. The handler is not called again once this returns, and the thread stops at
  // its next step.
  void cancel() override;

  // Shared with the thread and the deliveries it posts.
  struct State;

  RecognitionSession(std::shared_ptr<State> state, std::shared_ptr<AudioQueue> audio)
      : state_(std::move(state)), audio_(std::move(audio)) {}

 private:
  const std::shared_ptr<State> state_;
  const std::shared_ptr<AudioQueue> audio_;
};

}  // namespace speechline
