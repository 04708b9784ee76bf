#include "events/emit.h"
#include "speech_input/speech_input.h"

namespace speechline {

void SpeechInput::failStart(const std::string& code, const std::string& message) {
  emitError(code, message);
  endProcess(1);
}

// The start steps in their order, one after another: they read best as one run.
// NOLINTNEXTLINE(readability-function-size)
void SpeechInput::start() {
  if (requestSpeechAuthorization() != kSpeechAuthorizationAuthorized) {
    failStart("speech_permission_denied", "Speech recognition permission was not granted.");
  }
  if (!requestMicrophoneAuthorization()) {
    failStart("microphone_permission_denied", "Microphone permission was not granted.");
  }

  std::shared_ptr<SpeechRecognizer> recognizer = SpeechRecognizer::create(localeIdentifier);
  if (!recognizer) {
    failStart("recognizer_unavailable",
              "No speech recognizer is available for " + localeIdentifier + ".");
  }
  if (!recognizer->isAvailable()) {
    failStart("recognizer_unavailable", "The speech recognizer is currently unavailable.");
  }

  auto request = SpeechAudioBufferRecognitionRequest::create();
  request->setShouldReportPartialResults(true);
  // Recognition stays on the device wherever the recognizer can do it; the option only makes
  // missing support fatal.
  if (recognizer->supportsOnDeviceRecognition()) {
    request->setRequiresOnDeviceRecognition(true);
  } else if (requiresOnDeviceRecognition) {
    failStart("on_device_unavailable",
              "On-device speech recognition is not available for " + localeIdentifier + ".");
  }
  recognitionRequest = request;

  AudioInputNode& inputNode = audioEngine->inputNode();
  const AudioFormat format = inputNode.outputFormatForBus(kTapBus);
  if (format.channelCount == 0) {
    failStart("microphone_unavailable", "No microphone input channel is available.");
  }
  // An engine that stops by itself (its microphone went away) ends the run as a failure.
  std::weak_ptr<SpeechInput> weakSelf = weak_from_this();
  audioEngine->setUnexpectedStopHandler([weakSelf](const std::string& description) {
    if (auto speechInput = weakSelf.lock()) speechInput->failRecognition(description);
  });
  inputNode.installTapOnBus(kTapBus, kTapBufferFrames, format, makeTapBlock(request));

  audioEngine->prepare();
  std::string engineError;
  if (!audioEngine->startAndReturnError(&engineError)) {
    failStart("audio_engine_failed", engineError);
  }

  emit(Event{{{"type", "state"}, {"state", "recording"}}});

  recognitionTask = recognizer->recognitionTask(
      request,
      [weakSelf](const SpeechRecognitionResult* result, const SpeechRecognitionError* error) {
        handleRecognition(weakSelf, result, error);
      });
}

AudioNodeTapBlock SpeechInput::makeTapBlock(
    std::weak_ptr<SpeechAudioBufferRecognitionRequest> weakRequest) {
  return [weakRequest = std::move(weakRequest)](const AudioPCMBuffer& buffer, const AudioTime&) {
    if (auto request = weakRequest.lock()) request->appendAudioPCMBuffer(buffer);
  };
}

}  // namespace speechline
