#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/audio_engine.h"
#include "platform/main_loop.h"
#include "platform/scripted/script.h"

namespace speechline {
namespace {

using scripted::logCall;
using scripted::Script;

// Shared with the capture thread, which may outlive the node.
struct TapState {
  std::mutex mutex;
  AudioNodeTapBlock tap;
  AudioFormat format;
};

class ScriptedInputNode : public AudioInputNode {
 public:
  AudioFormat outputFormatForBus(uint32_t bus) override {
    logCall("outputFormatForBus " + std::to_string(bus));
    return {Script::shared().sampleRate, Script::shared().channelCount};
  }

  void installTapOnBus(uint32_t bus, uint32_t bufferSize, const AudioFormat& format,
                       AudioNodeTapBlock tapBlock) override {
    logCall("installTapOnBus " + std::to_string(bus) + " " + std::to_string(bufferSize) + " " +
            std::to_string(static_cast<long>(format.sampleRate)) + " " +
            std::to_string(format.channelCount));
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->tap = std::move(tapBlock);
    state_->format = format;
  }

  void removeTapOnBus(uint32_t bus) override {
    logCall("removeTapOnBus " + std::to_string(bus));
    // Waits for a buffer in flight, so no tap call follows this one.
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->tap = nullptr;
  }

  // Hands the script's buffers of silence to the tap, as a capture thread would.
  void startCapture() {
    std::thread([state = state_] {
      for (int i = 0; i < Script::shared().tapBuffers; ++i) {
        std::lock_guard<std::mutex> lock(state->mutex);
        if (!state->tap) return;
        const std::vector<float> samples(1024 * state->format.channelCount);
        const AudioPCMBuffer buffer(samples.data(), 1024, state->format);
        state->tap(buffer, AudioTime{1024LL * i, state->format.sampleRate});
      }
    }).detach();
  }

 private:
  const std::shared_ptr<TapState> state_ = std::make_shared<TapState>();
};

class ScriptedEngine : public AudioEngine {
 public:
  AudioInputNode& inputNode() override {
    logCall("inputNode");
    return inputNode_;
  }
  void prepare() override { logCall("prepare"); }
  bool startAndReturnError(std::string* errorDescription) override {
    logCall("startAndReturnError");
    if (const auto& failure = Script::shared().engineStartError) {
      *errorDescription = *failure;
      return false;
    }
    inputNode_.startCapture();
    if (const auto& engineStop = Script::shared().engineStop) stopLater(*engineStop);
    return true;
  }
  void stop() override { logCall("stop"); }
  void setUnexpectedStopHandler(AudioEngineUnexpectedStopHandler handler) override {
    logCall("addObserverForName AVAudioEngineConfigurationChangeNotification");
    stopHandler_ = std::move(handler);
  }

 private:
  // As the macOS observer does, reports through the main queue with the handler set before the
  // start: a handler set later never hears of it.
  void stopLater(const scripted::EngineStop& engineStop) {
    std::thread([handler = stopHandler_, engineStop, started = std::chrono::steady_clock::now()] {
      std::this_thread::sleep_until(started + std::chrono::milliseconds(engineStop.atMilliseconds));
      dispatchToMainQueue([handler, description = engineStop.description] {
        if (handler) handler(description);
      });
    }).detach();
  }

  ScriptedInputNode inputNode_;
  AudioEngineUnexpectedStopHandler stopHandler_;
};

}  // namespace

std::shared_ptr<AudioEngine> AudioEngine::create() {
  logCall("AVAudioEngine init");
  return std::make_shared<ScriptedEngine>();
}

}  // namespace speechline
