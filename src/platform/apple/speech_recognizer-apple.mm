#import <AVFoundation/AVFoundation.h>
#import <Foundation/Foundation.h>
#import <Speech/Speech.h>

#include <memory>
#include <string>
#include <utility>

#include "platform/apple/audio_buffer-apple.h"
#include "platform/apple/foundation_strings-apple.h"
#include "platform/apple/main_queue_check-apple.h"
#include "platform/speech_recognizer.h"

namespace speechline {
namespace {

class AppleRecognitionRequest : public SpeechAudioBufferRecognitionRequest {
 public:
  AppleRecognitionRequest() : request_([[SFSpeechAudioBufferRecognitionRequest alloc] init]) {}

  SFSpeechAudioBufferRecognitionRequest* platformRequest() const { return request_; }

  void setShouldReportPartialResults(bool shouldReport) override {
    [request_ setShouldReportPartialResults:shouldReport ? YES : NO];
  }

  void setRequiresOnDeviceRecognition(bool requiresOnDevice) override {
    [request_ setRequiresOnDeviceRecognition:requiresOnDevice ? YES : NO];
  }

  void appendAudioPCMBuffer(const AudioPCMBuffer& buffer) override {
    // Every buffer in this build comes from the AVAudioEngine tap, which wraps the platform's.
    [request_
        appendAudioPCMBuffer:static_cast<const AppleAudioPCMBuffer&>(buffer).platformBuffer()];
  }

  void endAudio() override { [request_ endAudio]; }

 private:
  SFSpeechAudioBufferRecognitionRequest* const request_;
};

void deliverRecognition(const SpeechRecognitionResultHandler& handler,
                        SFSpeechRecognitionResult* result, NSError* error) {
  @autoreleasepool {
    SpeechRecognitionResult converted;
    if (result != nil) {
      converted.formattedString = toStdString(result.bestTranscription.formattedString);
      converted.isFinal = [result isFinal] != NO;
    }
    SpeechRecognitionError convertedError;
    if (error != nil) convertedError.localizedDescription = toStdString(error.localizedDescription);
    handler(result != nil ? &converted : nullptr, error != nil ? &convertedError : nullptr);
  }
}

class AppleRecognitionTask : public SpeechRecognitionTask {
 public:
  AppleRecognitionTask(SFSpeechRecognitionTask* task, SFSpeechRecognizer* recognizer,
                       std::shared_ptr<bool> cancelled)
      : task_(task), recognizer_(recognizer), cancelled_(std::move(cancelled)) {}

  void cancel() override {
    [task_ cancel];
    // The service may still report the cancellation later; the handler no longer hears it.
    *cancelled_ = true;
  }

 private:
  SFSpeechRecognitionTask* const task_;
  // Held with the task, so recognition never depends on the service keeping the recognizer.
  [[maybe_unused]] SFSpeechRecognizer* const recognizer_;
  const std::shared_ptr<bool> cancelled_;
};

class AppleRecognizer : public SpeechRecognizer {
 public:
  explicit AppleRecognizer(SFSpeechRecognizer* recognizer) : recognizer_(recognizer) {}

  bool isAvailable() override { return [recognizer_ isAvailable] != NO; }

  bool supportsOnDeviceRecognition() override {
    return [recognizer_ supportsOnDeviceRecognition] != NO;
  }

  std::shared_ptr<SpeechRecognitionTask> recognitionTask(
      std::shared_ptr<SpeechAudioBufferRecognitionRequest> request,
      SpeechRecognitionResultHandler resultHandler) override {
    SFSpeechAudioBufferRecognitionRequest* platformRequest =
        static_cast<AppleRecognitionRequest&>(*request).platformRequest();
    // Set by cancel() and read by the handler, both on the main thread: the recognizer keeps its
    // default delivery queue, the main queue.
    auto cancelled = std::make_shared<bool>(false);
    // The block holds copies of the handler and the flag and nothing else: the handler refers
    // to the speech input weakly, and no wrapper here is kept alive by the service.
    SFSpeechRecognitionTask* task =
        [recognizer_ recognitionTaskWithRequest:platformRequest
                                  resultHandler:^(SFSpeechRecognitionResult* _Nullable result,
                                                  NSError* _Nullable error) {
                                    assertOnMainQueue();
                                    if (*cancelled) return;
                                    deliverRecognition(resultHandler, result, error);
                                  }];
    return std::make_shared<AppleRecognitionTask>(task, recognizer_, std::move(cancelled));
  }

 private:
  SFSpeechRecognizer* const recognizer_;
};

}  // namespace

void SpeechRecognizer::requestAuthorization(
    std::function<void(SpeechRecognizerAuthorizationStatus)> handler) {
  // The Speech framework answers on a queue of its own, not through the main queue, which the
  // caller blocks while it waits; the answer is handed on from there unchanged.
  [SFSpeechRecognizer requestAuthorization:^(SFSpeechRecognizerAuthorizationStatus status) {
    handler(static_cast<SpeechRecognizerAuthorizationStatus>(status));
  }];
}

std::shared_ptr<SpeechRecognizer> SpeechRecognizer::create(const std::string& localeIdentifier) {
  @autoreleasepool {
    NSString* identifier = toNSString(localeIdentifier);
    // Not UTF-8, so no locale has that name.
    if (identifier == nil) return nullptr;
    SFSpeechRecognizer* recognizer = [[SFSpeechRecognizer alloc]
        initWithLocale:[NSLocale localeWithLocaleIdentifier:identifier]];
    if (recognizer == nil) return nullptr;
    return std::make_shared<AppleRecognizer>(recognizer);
  }
}

std::shared_ptr<SpeechAudioBufferRecognitionRequest> SpeechAudioBufferRecognitionRequest::create() {
  return std::make_shared<AppleRecognitionRequest>();
}

}  // namespace speechline
