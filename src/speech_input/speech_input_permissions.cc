#include <atomic>
#include <functional>
#include <memory>
#include <semaphore>

#include "platform/capture_device.h"
#include "speech_input/speech_input.h"

namespace speechline {
namespace {

// Hands one answer from the service's callback, on any thread, to the waiting main thread. The
// callback keeps the cell alive, so an answer that comes late or twice touches nothing else.
template <typename Answer>
struct AnswerCell {
  std::atomic<Answer> answer;
  std::counting_semaphore<> answered{0};
};

template <typename Answer>
Answer waitForAnswer(Answer initial,
                     const std::function<void(std::function<void(Answer)>)>& request) {
  auto cell = std::make_shared<AnswerCell<Answer>>();
  cell->answer.store(initial);
  request([cell](Answer answer) {
    cell->answer.store(answer);
    cell->answered.release();
  });
  // No time limit: the wait ends only when the service answers.
  cell->answered.acquire();
  return cell->answer.load();
}

}  // namespace

SpeechRecognizerAuthorizationStatus SpeechInput::requestSpeechAuthorization() {
  return waitForAnswer<SpeechRecognizerAuthorizationStatus>(
      kSpeechAuthorizationNotDetermined,
      [](auto handler) { SpeechRecognizer::requestAuthorization(std::move(handler)); });
}

bool SpeechInput::requestMicrophoneAuthorization() {
  return waitForAnswer<bool>(false, [](auto handler) {
    CaptureDevice::requestAccessForMediaType(MediaType::kAudio, std::move(handler));
  });
}

}  // namespace speechline
