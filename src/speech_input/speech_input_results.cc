#include "events/emit.h"
#include "speech_input/speech_input.h"

namespace speechline {

void SpeechInput::handleRecognition(const std::weak_ptr<SpeechInput>& weakSpeechInput,
                                    const SpeechRecognitionResult* result,
                                    const SpeechRecognitionError* error) {
  const std::shared_ptr<SpeechInput> speechInput = weakSpeechInput.lock();
  // A delivery made from inside the teardown (a cancel that reports at once) would otherwise
  // put an error line between a signal's stop and its "stopped" line.
  if (!speechInput || speechInput->didStop) return;
  if (result) {
    emit(Event{
        {{"type", "result"}, {"text", result->formattedString}, {"isFinal", result->isFinal}}});
    if (result->isFinal) speechInput->stop(0);
  }
  if (error) speechInput->failRecognition(error->localizedDescription);
}

void SpeechInput::failRecognition(const std::string& description) {
  if (didStop) return;
  emitError("recognition_failed", description);
  stop(1);
}

}  // namespace speechline
