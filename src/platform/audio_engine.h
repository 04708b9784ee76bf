#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/audio_buffer.h"

namespace speechline {

// Called with each captured buffer and its time, on a thread of the audio service's choosing
// (never the main thread on Linux), until the tap is removed. Must not block.
using AudioNodeTapBlock = std::function<void(const AudioPCMBuffer& buffer, const AudioTime& when)>;

// The engine's microphone input. Owned by its engine; every call of AudioEngine::inputNode()
// returns the same node.
class AudioInputNode {
 public:
  virtual ~AudioInputNode() = default;

  // The microphone's own format on `bus`; a channel count of 0 means no input is available.
  virtual AudioFormat outputFormatForBus(uint32_t bus) = 0;

  // Installs the one tap of `bus`. `bufferSize` is the requested number of frames per buffer.
  // The node keeps its own copy of `tapBlock` until removeTapOnBus().
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

  virtual AudioInputNode& inputNode() = 0;
  virtual void prepare() = 0;

  // Starts capture. On failure returns false and stores the service's own description of the
  // failure in `*errorDescription`.
  virtual bool startAndReturnError(std::string* errorDescription) = 0;

  // Ends capture. Safe to call when the engine never started.
  virtual void stop() = 0;
};

}  // namespace speechline
