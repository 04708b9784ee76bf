#include "events/emit.h"
#include "speech_input/speech_input.h"

namespace speechline {

void SpeechInput::handleRecognition(const std::weak_ptr<SpeechInput>& weakSpeechInput,
                                    const SpeechRecognitionResult* result,
                                    const SpeechRecognitionError* error) {
  const std::shared_ptr<SpeechInput> speechInput = weakSpeechInput.lock();
  if (!speechInput) return;
  if (result) {
    emit(Event{
        {{"type", "result"}, {"text", result->formattedString}, {"isFinal", result->isFinal}}});
    if (result->isFinal) speechInput->stop(0);
  }
  if (error) {
    emitError("recognition_failed", error->localizedDescription);
    speechInput->stop(1);
  }
}

}  // namespace speechline
