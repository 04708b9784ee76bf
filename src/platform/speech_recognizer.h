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
  // A new request that holds no audio, reporting partial results. Never null.
  static std::shared_ptr<SpeechAudioBufferRecognitionRequest> create();

  virtual ~SpeechAudioBufferRecognitionRequest() = default;

  // The two settings are read when the request is given to a task; a later change may be
  // ignored. Main thread.
  // Whether the task delivers partial results before its final one.
  virtual void setShouldReportPartialResults(bool shouldReport) = 0;
  // True: the audio must not leave the device. Only for a recognizer whose
  // supportsOnDeviceRecognition() is true.
  virtual void setRequiresOnDeviceRecognition(bool requiresOnDevice) = 0;

  // Called on the audio thread with each captured buffer, possibly before any task exists; the
  // audio is kept for the task. Never blocks.
  virtual void appendAudioPCMBuffer(const AudioPCMBuffer& buffer) = 0;

  // No more audio will be appended. Main thread.
  virtual void endAudio() = 0;
};

// Recognition in progress. Main thread only. Dropping the task is not a cancel: only cancel()
// makes sure that the result handler is not called again.
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

  // Whether a task started now can recognise. The answer may change from one call to the next
  // (the macOS service may need its servers); on Linux it is false for a model folder that
  // lacks a readable part. Does not block.
  virtual bool isAvailable() = 0;

  // Whether this recognizer can recognise without sending audio off the device, so that a
  // request may require it. Does not block.
  virtual bool supportsOnDeviceRecognition() = 0;

  // Starts recognising the audio of `request`, that appended before this call included. Never
  // null; a task that cannot run reports an error to `resultHandler`. The task keeps what it
  // needs (this recognizer too) for as long as it runs; `resultHandler` is called on the main
  // thread through the main queue, never from inside this call.
  virtual std::shared_ptr<SpeechRecognitionTask> recognitionTask(
      std::shared_ptr<SpeechAudioBufferRecognitionRequest> request,
      SpeechRecognitionResultHandler resultHandler) = 0;
};

}  // namespace speechline
