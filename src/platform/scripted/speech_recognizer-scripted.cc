#include <chrono>
#include <thread>

#include "platform/main_loop.h"
#include "platform/scripted/permission-scripted.h"
#include "platform/scripted/script.h"
#include "platform/speech_recognizer.h"

namespace speechline {
namespace {

using scripted::logCall;
using scripted::Script;

class ScriptedRequest : public SpeechAudioBufferRecognitionRequest {
 public:
  void setShouldReportPartialResults(bool shouldReport) override {
    logCall(std::string("setShouldReportPartialResults ") + (shouldReport ? "YES" : "NO"));
  }
  void setRequiresOnDeviceRecognition(bool requiresOnDevice) override {
    logCall(std::string("setRequiresOnDeviceRecognition ") + (requiresOnDevice ? "YES" : "NO"));
  }
  void appendAudioPCMBuffer(const AudioPCMBuffer& buffer) override {
    logCall("appendAudioPCMBuffer " + std::to_string(buffer.frameLength()));
  }
  void endAudio() override { logCall("endAudio"); }
};

// Shared by the task and its delivery thread; read and written on the main thread only.
struct TaskState {
  SpeechRecognitionResultHandler handler;
  bool cancelled = false;
};

void deliver(const std::shared_ptr<TaskState>& state, const scripted::Delivery& delivery) {
  if (state->cancelled) return;
  SpeechRecognitionResult result{delivery.resultText.value_or(""), delivery.resultIsFinal};
  SpeechRecognitionError error{delivery.errorDescription.value_or("")};
  state->handler(delivery.resultText ? &result : nullptr,
                 delivery.errorDescription ? &error : nullptr);
}

class ScriptedTask : public SpeechRecognitionTask {
 public:
  explicit ScriptedTask(SpeechRecognitionResultHandler handler)
      : state_(std::make_shared<TaskState>()) {
    state_->handler = std::move(handler);
    // Deliveries are timed from the task's creation and run on the main queue, in order.
    std::thread([state = state_, created = std::chrono::steady_clock::now()] {
      for (const scripted::Delivery& delivery : Script::shared().deliveries) {
        std::this_thread::sleep_until(created + std::chrono::milliseconds(delivery.atMilliseconds));
        dispatchToMainQueue([state, delivery] { deliver(state, delivery); });
      }
    }).detach();
  }

  void cancel() override {
    logCall("cancel");
    state_->cancelled = true;
    if (const auto& description = Script::shared().cancelError) {
      SpeechRecognitionError error{*description};
      state_->handler(nullptr, &error);
    }
  }

 private:
  std::shared_ptr<TaskState> state_;
};

class ScriptedRecognizer : public SpeechRecognizer {
 public:
  explicit ScriptedRecognizer(scripted::ScriptedLocale locale) : locale_(std::move(locale)) {}

  bool isAvailable() override {
    logCall("isAvailable");
    return locale_.available;
  }
  bool supportsOnDeviceRecognition() override {
    logCall("supportsOnDeviceRecognition");
    return locale_.supportsOnDevice;
  }
  std::shared_ptr<SpeechRecognitionTask> recognitionTask(
      std::shared_ptr<SpeechAudioBufferRecognitionRequest>,
      SpeechRecognitionResultHandler resultHandler) override {
    logCall("recognitionTaskWithRequest");
    return std::make_shared<ScriptedTask>(std::move(resultHandler));
  }

 private:
  const scripted::ScriptedLocale locale_;
};

}  // namespace

void SpeechRecognizer::requestAuthorization(
    std::function<void(SpeechRecognizerAuthorizationStatus)> handler) {
  logCall("requestAuthorization");
  scripted::answerPermission<SpeechRecognizerAuthorizationStatus>(
      Script::shared().speechAuthorization, std::move(handler));
}

std::shared_ptr<SpeechRecognizer> SpeechRecognizer::create(const std::string& localeIdentifier) {
  logCall("initWithLocale " + scripted::quoted(localeIdentifier));
  for (const scripted::ScriptedLocale& locale : Script::shared().locales) {
    if (locale.identifier == localeIdentifier) return std::make_shared<ScriptedRecognizer>(locale);
  }
  return nullptr;
}

std::shared_ptr<SpeechAudioBufferRecognitionRequest> SpeechAudioBufferRecognitionRequest::create() {
  logCall("SFSpeechAudioBufferRecognitionRequest init");
  return std::make_shared<ScriptedRequest>();
}

}  // namespace speechline
