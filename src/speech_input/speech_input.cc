#include "speech_input/speech_input.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "events/emit.h"

namespace speechline {

SpeechInput::SpeechInput(std::string localeIdentifier, bool requiresOnDeviceRecognition)
    : localeIdentifier(std::move(localeIdentifier)),
      requiresOnDeviceRecognition(requiresOnDeviceRecognition),
      audioEngine(AudioEngine::create()) {}

void SpeechInput::stop(int exitCode) {
  if (didStop) return;
  // Set before any teardown call, so that a callback run from inside one finds it.
  didStop = true;
  audioEngine->stop();
  audioEngine->inputNode().removeTapOnBus(kTapBus);
  if (recognitionRequest) recognitionRequest->endAudio();
  if (recognitionTask) recognitionTask->cancel();
  emit(Event{{{"type", "state"}, {"state", "stopped"}}});
  endProcess(exitCode);
}

void endProcess(int exitCode) {
  std::fflush(stdout);
  std::_Exit(exitCode);
}

}  // namespace speechline
