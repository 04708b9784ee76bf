#pragma once

#include <memory>
#include <string>

#include "platform/audio_engine.h"
#include "platform/speech_recognizer.h"

namespace speechline {

// The one capture-and-recognition object of the process. Created with std::make_shared; the
// tap and the result handler refer to what they act on through weak references, so they do
// nothing once it is gone. Every member function runs on the main thread; nothing is locked.
class SpeechInput : public std::enable_shared_from_this<SpeechInput> {
 public:
  // Creates the audio engine; asks for nothing and starts nothing.
  SpeechInput(std::string localeIdentifier, bool requiresOnDeviceRecognition);

  // Brings recording up: permissions, recognizer, request, tap, engine, "recording", task. An
  // engine that later stops by itself fails the recognition with its description.
  // Returns only when recording runs; every failure writes one error event and ends the
  // process with status 1.
  void start();

  // Tears capture and recognition down once, writes "stopped" and ends the process with
  // `exitCode`. A call after the first returns at once.
  void stop(int exitCode = 0);

  // Ends a running recognition as failed: writes "recognition_failed" with `description`, then
  // stops with exit code 1. Does nothing once a stop has begun.
  void failRecognition(const std::string& description);

  // The result handler that start() gives the recognition task.
  static void handleRecognition(const std::weak_ptr<SpeechInput>& weakSpeechInput,
                                const SpeechRecognitionResult* result,
                                const SpeechRecognitionError* error);

  // The tap that start() installs: forwards each buffer to the request while it exists.
  static AudioNodeTapBlock makeTapBlock(
      std::weak_ptr<SpeechAudioBufferRecognitionRequest> weakRequest);

 private:
  // The microphone tap sits on bus 0 and asks for buffers of 1024 frames.
  static constexpr uint32_t kTapBus = 0;
  static constexpr uint32_t kTapBufferFrames = 1024;

  [[noreturn]] void failStart(const std::string& code, const std::string& message);
  SpeechRecognizerAuthorizationStatus requestSpeechAuthorization();
  bool requestMicrophoneAuthorization();

  const std::string localeIdentifier;
  const bool requiresOnDeviceRecognition;
  const std::shared_ptr<AudioEngine> audioEngine;
  std::shared_ptr<SpeechAudioBufferRecognitionRequest> recognitionRequest;
  std::shared_ptr<SpeechRecognitionTask> recognitionTask;
  bool didStop = false;
};

// Ends the process at once with `exitCode`, by _Exit: static destructors and library clean-up
// would run under the capture and recognition threads. Events are written straight to file
// descriptor 1, so the fflush(stdout) before it normally finds nothing; it stays because the
// stop sequence flushes standard output before it exits, whatever may write through stdio.
[[noreturn]] void endProcess(int exitCode);

}  // namespace speechline
