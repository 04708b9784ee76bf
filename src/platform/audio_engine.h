#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/audio_buffer.h"

// The platform interfaces (this header, audio_buffer.h, capture_device.h, main_loop.h,
// speech_recognizer.h) follow Apple's AVFoundation, Speech and Dispatch, which the macOS backend
// wraps nearly call for call, so that the core drives every backend the same way. PulseAudio and
// PocketSphinx work otherwise, and on Linux these do nothing:
// - AudioEngine::prepare(): a record stream needs no preparing; the start opens it.
// - Bus numbers: a source is one input, bus 0; another bus has no format and takes no tap.
// - AudioEngine::setUnexpectedStopHandler(): the handler is never called; a lost microphone or
//   server ends the run through the recognizer's no-audio rule instead.
// - AudioTime: given to the tap as on macOS; the speech input ignores it.
// - SpeechRecognizer::requestAuthorization(), CaptureDevice::requestAccessForMediaType(): Linux
//   asks no per-program consent; both answer yes before they return.
// - setRequiresOnDeviceRecognition(), supportsOnDeviceRecognition(): recognition never leaves the
//   device.

namespace speechline {

// Called with each captured buffer and its time, on a thread of the audio service's choosing
// (never the main thread on Linux), until the tap is removed. Must not block.
using AudioNodeTapBlock = std::function<void(const AudioPCMBuffer& buffer, const AudioTime& when)>;

// Called when the engine has stopped capturing by itself, with the service's description of why
// for a person.
using AudioEngineUnexpectedStopHandler = std::function<void(const std::string& description)>;

// The engine's microphone input. Owned by its engine; every call of AudioEngine::inputNode()
// returns the same node. All calls are made on the main thread.
class AudioInputNode {
 public:
  virtual ~AudioInputNode() = default;

  // The microphone's own format on `bus`; a channel count of 0 means no input is available.
  // May block while the audio service answers (on Linux, for at most a few seconds).
  virtual AudioFormat outputFormatForBus(uint32_t bus) = 0;

  // Installs the one tap of `bus`, for buffers in `format`, the one outputFormatForBus()
  // reported. `bufferSize` is the requested number of frames per buffer. The node keeps its
  // own copy of `tapBlock` until removeTapOnBus(). Reports nothing itself: where the service
  // refuses the tap (macOS), the engine's startAndReturnError() fails with its reason.
  virtual void installTapOnBus(uint32_t bus, uint32_t bufferSize, const AudioFormat& format,
                               AudioNodeTapBlock tapBlock) = 0;

  // After this returns, the tap block of `bus` is not called again.
  virtual void removeTapOnBus(uint32_t bus) = 0;
};

// The audio capture engine. All calls are made on the main thread.
class AudioEngine {
 public:
  // A new, idle engine. Never null; connects to nothing yet.
  static std::shared_ptr<AudioEngine> create();

  virtual ~AudioEngine() = default;

  // The microphone input, valid as long as the engine. Never fails.
  virtual AudioInputNode& inputNode() = 0;

  // Readies the engine to start. Reports nothing itself: the macOS engine keeps a failure here
  // and startAndReturnError() returns it.
  virtual void prepare() = 0;

  // Starts capture, and with it the tap's calls. On failure returns false and stores the
  // service's own description of the failure in `*errorDescription`, which must not be null.
  // May block while the audio service answers (on Linux, for at most a few seconds).
  virtual bool startAndReturnError(std::string* errorDescription) = 0;

  // Ends capture. Safe to call when the engine never started.
  virtual void stop() = 0;

  // Sets the handler for a stop the engine makes by itself (on macOS: its input device went
  // away or changed), replacing any earlier one; the engine keeps its own copy. Set it before
  // startAndReturnError(), so that no such stop goes unreported. The handler runs on the main
  // thread through the main queue, never from inside a call to the engine. It may come more
  // than once, and after stop(): what a stop means is the caller's to decide.
  virtual void setUnexpectedStopHandler(AudioEngineUnexpectedStopHandler handler) = 0;
};

}  // namespace speechline
