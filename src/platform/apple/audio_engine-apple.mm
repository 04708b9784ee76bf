#import <AVFoundation/AVFoundation.h>
#import <Foundation/Foundation.h>
#include <dispatch/dispatch.h>

#include <memory>
#include <string>

#include "platform/apple/audio_buffer-apple.h"
#include "platform/apple/foundation_strings-apple.h"
#include "platform/audio_engine.h"

namespace speechline {
namespace {

// AVAudioEngine reports a broken setup (no usable input, a format the hardware does not match,
// an input that vanished) by raising an exception; caught, it becomes a missing microphone or
// the engine's start failure instead of a crash.
std::string describeException(NSException* exception) {
  std::string description = toStdString(exception.reason);
  return description.empty() ? toStdString(exception.name) : description;
}

class AppleInputNode : public AudioInputNode {
 public:
  // `setupFailure` belongs to the engine, which reports it when asked to start.
  AppleInputNode(AVAudioEngine* engine, std::string* setupFailure)
      : engine_(engine), setupFailure_(setupFailure) {}

  AudioFormat outputFormatForBus(uint32_t bus) override {
    @autoreleasepool {
      @try {
        AVAudioFormat* format = [engine_.inputNode outputFormatForBus:bus];
        reportedBus_ = bus;
        reportedFormat_ = format;
        return AudioFormat{format.sampleRate, format.channelCount};
      } @catch (NSException*) {
        // The engine raises rather than answers when there is no usable input: no microphone.
        return AudioFormat{};
      }
    }
  }

  void installTapOnBus(uint32_t bus, uint32_t bufferSize, const AudioFormat&,
                       AudioNodeTapBlock tapBlock) override {
    @autoreleasepool {
      // Runs on the engine's audio thread. Captures the tap alone, never this node, which the
      // audio thread may outlive.
      AVAudioNodeTapBlock block = ^(AVAudioPCMBuffer* buffer, AVAudioTime* when) {
        @autoreleasepool {
          const AppleAudioPCMBuffer platformBuffer(buffer);
          tapBlock(platformBuffer, AudioTime{when.sampleTime, when.sampleRate});
        }
      };
      @try {
        AVAudioInputNode* node = engine_.inputNode;
        // The very format object that was checked, so the tap is set up for what was reported.
        AVAudioFormat* format = (reportedFormat_ != nil && reportedBus_ == bus)
                                    ? reportedFormat_
                                    : [node outputFormatForBus:bus];
        [node installTapOnBus:bus bufferSize:bufferSize format:format block:block];
      } @catch (NSException* exception) {
        *setupFailure_ = describeException(exception);
      }
    }
  }

  void removeTapOnBus(uint32_t bus) override {
    @try {
      [engine_.inputNode removeTapOnBus:bus];
    } @catch (NSException*) {
      // An input the engine cannot provide holds no tap, and a stop has nothing to report.
    }
  }

 private:
  AVAudioEngine* const engine_;
  std::string* const setupFailure_;
  uint32_t reportedBus_ = 0;
  AVAudioFormat* reportedFormat_ = nil;
};

class AppleAudioEngine : public AudioEngine {
 public:
  AppleAudioEngine() : engine_([[AVAudioEngine alloc] init]), inputNode_(engine_, &setupFailure_) {}

  ~AppleAudioEngine() override {
    if (configurationObserver_ != nil) {
      [[NSNotificationCenter defaultCenter] removeObserver:configurationObserver_];
    }
  }

  AudioInputNode& inputNode() override { return inputNode_; }

  void prepare() override {
    @try {
      [engine_ prepare];
    } @catch (NSException* exception) {
      setupFailure_ = describeException(exception);
    }
  }

  bool startAndReturnError(std::string* errorDescription) override {
    @autoreleasepool {
      // Started without its tap or unprepared, the engine would record nothing: report why.
      if (!setupFailure_.empty()) {
        *errorDescription = setupFailure_;
        return false;
      }
      NSError* error = nil;
      BOOL started = NO;
      @try {
        started = [engine_ startAndReturnError:&error];
      } @catch (NSException* exception) {
        *errorDescription = describeException(exception);
        return false;
      }
      if (started) return true;
      *errorDescription = toStdString(error.localizedDescription);
      if (errorDescription->empty()) *errorDescription = "The audio engine could not start.";
      return false;
    }
  }

  void stop() override { [engine_ stop]; }

  // A change of the input device's format (unplugged, or another default) stops the engine,
  // which then posts this notification on a queue of its own. With no queue given, the block
  // runs there and hands the stop on to the main queue without waiting, so the engine's queue
  // never waits for a main thread that may itself be stopping the engine.
  void setUnexpectedStopHandler(AudioEngineUnexpectedStopHandler handler) override {
    NSNotificationCenter* center = [NSNotificationCenter defaultCenter];
    if (configurationObserver_ != nil) [center removeObserver:configurationObserver_];
    configurationObserver_ = [center addObserverForName:AVAudioEngineConfigurationChangeNotification
                                                 object:engine_
                                                  queue:nil
                                             usingBlock:^(NSNotification*) {
                                               dispatch_async(dispatch_get_main_queue(), ^{
                                                 handler("The audio input device changed.");
                                               });
                                             }];
  }

 private:
  AVAudioEngine* const engine_;
  std::string setupFailure_;
  AppleInputNode inputNode_;
  id<NSObject> configurationObserver_ = nil;
};

}  // namespace

std::shared_ptr<AudioEngine> AudioEngine::create() { return std::make_shared<AppleAudioEngine>(); }

}  // namespace speechline
