#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/audio_buffer.h"

namespace speechline {

// Raw values of the speech recognition authorization status.
using SpeechRecognizerAuthorizationStatus = int64_t;
inline constexpr SpeechRecognizerAuthorizationStatus kSpeechAuthorizationNotDetermined = 0;
inline constexpr SpeechRecognizerAuthorizationStatus kSpeechAuthorizationDenied = 1;
inline constexpr SpeechRecognizerAuthorizationStatus kSpeechAuthorizationRestricted = 2;
inline constexpr SpeechRecognizerAuthorizationStatus kSpeechAuthorizationAuthorized = 3;

// What the recognizer has heard so far.
struct SpeechRecognitionResult {
  // The best transcription of everything heard so far, formatted by the recognizer.
  std::string formattedString;
  // True on the task's last result.
  bool isFinal = false;
};

// A recognition failure, as the service describes it to a person.
struct SpeechRecognitionError {
  std::string localizedDescription;
};

// Called on the main thread, one call at a time. Either pointer may be null, both may be set;
// they are valid for the duration of the call.
using SpeechRecognitionResultHandler =
    std::function<void(const SpeechRecognitionResult* result, const SpeechRecognitionError* error)>;

// A stream of audio to recognise. Created and configured on the main thread; audio is appended
// on the audio thread.
class SpeechAudioBufferRecognitionRequest {
 public:
  static std::shared_ptr<SpeechAudioBufferRecognitionRequest> create();

  virtual ~SpeechAudioBufferRecognitionRequest() = default;

  virtual void setShouldReportPartialResults(bool shouldReport) = 0;
  virtual void setRequiresOnDeviceRecognition(bool requiresOnDevice) = 0;

  // Called on the audio thread with each captured buffer, possibly before any task exists; the
  // audio is kept for the task. Never blocks.
  virtual void appendAudioPCMBuffer(const AudioPCMBuffer& buffer) = 0;

  // No more audio will be appended. Main thread.
  virtual void endAudio() = 0;
};

// Recognition in progress. Main thread only.
class SpeechRecognitionTask {
 public:
  virtual ~SpeechRecognitionTask() = default;

  // Stops recognition. The result handler may be called from inside this call; after it
  // returns, the handler is never called again.
  virtual void cancel() = 0;
};

// A recognizer for one locale. Main thread only.
class SpeechRecognizer {
 public:
  // Asks for permission to recognise speech. The service calls `handler` exactly once, either
  // before this call returns or later on a thread other than the main thread.
  static void requestAuthorization(
      std::function<void(SpeechRecognizerAuthorizationStatus)> handler);

  // The recognizer for `localeIdentifier`, or null when that locale has none.
  static std::shared_ptr<SpeechRecognizer> create(const std::string& localeIdentifier);

  virtual ~SpeechRecognizer() = default;

  virtual bool isAvailable() = 0;
  virtual bool supportsOnDeviceRecognition() = 0;

  // Starts recognising the audio of `request`, that appended before this call included. The
  // task keeps what it needs (this recognizer too) for as long as it exists; `resultHandler` is
  // called on the main thread through the main queue.
  virtual std::shared_ptr<SpeechRecognitionTask> recognitionTask(
      std::shared_ptr<SpeechAudioBufferRecognitionRequest> request,
      SpeechRecognitionResultHandler resultHandler) = 0;
};

}  // namespace speechline
