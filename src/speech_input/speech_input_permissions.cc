#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/capture_device.h"
#include "speech_input/speech_input.h"

namespace speechline {
namespace {

// Hands one answer from the service's callback, on any thread, to the waiting main thread. The
// callback keeps the cell alive, so an answer that comes late or twice touches nothing else.
// A mutex and a condition variable rather than std::counting_semaphore, whose libc++ build
// needs macOS 11 while the x86-64 macOS build runs from 10.15.
template <typename Answer>
struct AnswerCell {
  std::mutex mutex;
  std::condition_variable answeredCondition;
  bool answered = false;
  Answer answer;
};

template <typename Answer>
Answer waitForAnswer(Answer initial,
                     const std::function<void(std::function<void(Answer)>)>& request) {
  auto cell = std::make_shared<AnswerCell<Answer>>();
  cell->answer = initial;
  request([cell](Answer answer) {
    {
      std::lock_guard<std::mutex> lock(cell->mutex);
      cell->answer = answer;
      cell->answered = true;
    }
    cell->answeredCondition.notify_one();
  });
  // No time limit: the wait ends only when the service answers.
  std::unique_lock<std::mutex> lock(cell->mutex);
  cell->answeredCondition.wait(lock, [&cell] { return cell->answered; });
  return cell->answer;
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
