#include <pulse/pulseaudio.h>

#include <cstdint>
#include <utility>

#include "platform/audio_engine.h"
#include "platform/linux/captured_audio_buffer.h"
#include "platform/linux/pulse/frame_assembler.h"
#include "platform/linux/pulse/lost_audio_detector.h"
#include "platform/linux/pulse/pulse_connection.h"
#include "platform/linux/pulse/quiet_standard_error.h"
#include "platform/linux/pulse/stream_source_check.h"

namespace speechline {
namespace {

// Bounds every wait for the server, so that a stuck server cannot hang the caller.
constexpr pa_usec_t kServerTimeout = 5 * PA_USEC_PER_SEC;
constexpr uint32_t kDefaultBufferFrames = 1024;

pa_usec_t serverDeadline() { return pa_rtclock_now() + kServerTimeout; }

class PulseInputNode : public AudioInputNode {
 public:
  explicit PulseInputNode(PulseConnection& connection) : connection_(connection) {}

  AudioFormat outputFormatForBus(uint32_t bus) override {
    if (bus != 0) return {};
    const pa_usec_t deadline = serverDeadline();
    connection_.startLoop(deadline);
    PulseConnection::Lock lock(connection_);
    // With no microphone, PulseAudio routes a record stream to the speakers' monitor.
    Result<PulseSourceInfo> source = connection_.routedSource(deadline);
    if (!source) return {};
    return {static_cast<double>(source->sampleSpec.rate), source->sampleSpec.channels};
  }

  // The tap always gets the source's own format, the one outputFormatForBus() reports.
  void installTapOnBus(uint32_t bus, uint32_t bufferSize, const AudioFormat&,
                       AudioNodeTapBlock tapBlock) override {
    if (bus != 0) return;
    PulseConnection::Lock lock(connection_);
    tap_.swap(tapBlock);
    bufferFrames_ = bufferSize > 0 ? bufferSize : kDefaultBufferFrames;
  }

  void removeTapOnBus(uint32_t bus) override {
    if (bus != 0) return;
    AudioNodeTapBlock removed;
    // The loop's thread holds the lock while it calls the tap, so this waits for a call in
    // flight; the block's captures are released after unlocking.
    PulseConnection::Lock lock(connection_);
    tap_.swap(removed);
  }

  // Read under the connection's lock.
  const AudioNodeTapBlock& tap() const { return tap_; }
  uint32_t bufferFrames() const { return bufferFrames_; }

 private:
  PulseConnection& connection_;
  AudioNodeTapBlock tap_;
  uint32_t bufferFrames_ = kDefaultBufferFrames;
};

class PulseEngine : public AudioEngine {
 public:
  ~PulseEngine() override { stop(); }

  AudioInputNode& inputNode() override { return inputNode_; }

  void prepare() override {}

  // Not used: a lost microphone or server ends the run through the recognizer's no-audio rule.
  void setUnexpectedStopHandler(AudioEngineUnexpectedStopHandler) override {}

  bool startAndReturnError(std::string* errorDescription) override {
    const pa_usec_t deadline = serverDeadline();
    connection_.startLoop(deadline);
    PulseConnection::Lock lock(connection_);
    if (stream_ && pa_stream_get_state(stream_) == PA_STREAM_READY) return true;
    closeStream();
    const Result<> opened = openStream(deadline);
    if (opened) return true;
    closeStream();
    // A server that does not answer in time is not trusted with the next attempt.
    if (opened.failure().code == PA_ERR_TIMEOUT) connection_.disconnect();
    if (errorDescription) *errorDescription = opened.failure().description;
    return false;
  }

  void stop() override {
    PulseConnection::Lock lock(connection_);
    closeStream();
  }

 private:
  Result<> openStream(pa_usec_t deadline) {
    Result<PulseSourceInfo> source = connection_.routedSource(deadline);
    if (!source) return source.failure();
    if (Result<> created = createStream(*source); !created) return created;
    return connectStream(deadline);
  }

  // Makes the stream, in `source`'s format as 32-bit float, and readies what its callbacks use.
  Result<> createStream(const PulseSourceInfo& source) {
    pa_sample_spec sampleSpec = source.sampleSpec;
    sampleSpec.format = PA_SAMPLE_FLOAT32NE;
    pa_context* context = connection_.context();
    stream_ = pa_stream_new(context, "speechline capture", &sampleSpec, &source.channelMap);
    if (!stream_) return contextFailure(context, PA_ERR_UNKNOWN);
    // The sample format is valid now, so a block has at least one sample.
    assembler_.reset(inputNode_.bufferFrames(), sampleSpec.channels);
    streamFormat_ = {static_cast<double>(sampleSpec.rate), sampleSpec.channels};
    frameBytes_ = pa_frame_size(&sampleSpec);
    bytesRead_ = 0;
    lossDetector_.restart();
    audioLost_ = false;
    setCallbacks();
    return Done{};
  }

  // Connects the stream that createStream() made, and waits until it is ready to deliver.
  Result<> connectStream(pa_usec_t deadline) {
    pa_buffer_attr attributes;
    attributes.maxlength = static_cast<uint32_t>(-1);
    attributes.tlength = attributes.prebuf = attributes.minreq = static_cast<uint32_t>(-1);
    // Without it the server may hand out audio in bursts of up to two seconds.
    attributes.fragsize = static_cast<uint32_t>(assembler_.framesPerBlock() * frameBytes_);
    // No device name: the server routes the stream, and moves it to a microphone plugged in
    // later (PipeWire would pin a stream that names its source).
    if (pa_stream_connect_record(stream_, nullptr, &attributes, PA_STREAM_ADJUST_LATENCY) < 0) {
      return contextFailure(connection_.context(), PA_ERR_UNKNOWN);
    }
    // Ready means ready to deliver: the first check of its source has answered too.
    Result<> settled = connection_.waitUntil(
        [this] {
          const pa_stream_state_t state = pa_stream_get_state(stream_);
          return state != PA_STREAM_CREATING &&
                 (state != PA_STREAM_READY || !sourceCheck_.pending());
        },
        deadline);
    if (!settled || pa_stream_get_state(stream_) == PA_STREAM_READY) return settled;
    return contextFailure(connection_.context(), PA_ERR_UNKNOWN);
  }

  // Under the lock; closeStream() clears them.
  void setCallbacks() {
    pa_stream_set_state_callback(
        stream_,
        [](pa_stream* stream, void* engine) {
          static_cast<PulseEngine*>(engine)->stateChanged(stream);
        },
        this);
    pa_stream_set_moved_callback(
        stream_,
        [](pa_stream* stream, void* engine) { static_cast<PulseEngine*>(engine)->moved(stream); },
        this);
    pa_stream_set_read_callback(
        stream_,
        [](pa_stream* stream, size_t, void* engine) {
          static_cast<PulseEngine*>(engine)->readAvailable(stream);
        },
        this);
    // A source suspended delivers nothing, and loses nothing of ours.
    pa_stream_set_suspended_callback(
        stream_,
        [](pa_stream*, void* engine) {
          static_cast<PulseEngine*>(engine)->lossDetector_.restart();
        },
        this);
  }

  // Under the lock.
  void closeStream() {
    if (!stream_) return;
    sourceCheck_.cancel();
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_moved_callback(stream_, nullptr, nullptr);
    pa_stream_set_suspended_callback(stream_, nullptr, nullptr);
    if (pa_stream_get_state(stream_) == PA_STREAM_READY) pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
  }

  // The callbacks below run on the loop's thread, under the lock.

  void stateChanged(pa_stream* stream) {
    if (pa_stream_get_state(stream) == PA_STREAM_READY) {
      sourceCheck_.start(stream, connection_.mainloop());
    }
    pa_threaded_mainloop_signal(connection_.mainloop(), 0);
  }

  // The server moved the stream (its source went away, or another became the default): nothing
  // more is delivered until the new source is known not to be a monitor.
  void moved(pa_stream* stream) {
    assembler_.clear();
    lossDetector_.restart();
    sourceCheck_.start(stream, connection_.mainloop());
  }

  // Must not block; allocates nothing.
  void readAvailable(pa_stream* stream) {
    while (pa_stream_readable_size(stream) > 0) {
      const void* data = nullptr;
      size_t size = 0;
      if (pa_stream_peek(stream, &data, &size) < 0 || size == 0) break;
      if (!sourceCheck_.onMicrophone()) {
        bytesRead_ += static_cast<int64_t>(size);
        pa_stream_drop(stream);
        continue;
      }
      // A null `data` is a hole in the recording, taken as silence.
      const char* bytes = static_cast<const char*>(data);
      for (size_t used = 0; used < size;) {
        const size_t taken = assembler_.append(bytes ? bytes + used : nullptr, size - used);
        used += taken;
        bytesRead_ += static_cast<int64_t>(taken);
        if (assembler_.full()) deliverBlock();
      }
      pa_stream_drop(stream);
    }
    const int64_t frames = bytesRead_ / static_cast<int64_t>(frameBytes_);
    if (lossDetector_.update(LostAudioDetector::Clock::now(), frames, streamFormat_.sampleRate)) {
      audioLost_ = true;
    }
  }

  void deliverBlock() {
    if (const AudioNodeTapBlock& tap = inputNode_.tap()) {
      const CapturedAudioBuffer buffer(assembler_.samples(), assembler_.framesPerBlock(),
                                       streamFormat_, audioLost_);
      // The block's place in the stream, counting what was dropped before it.
      const int64_t firstFrame =
          bytesRead_ / static_cast<int64_t>(frameBytes_) - assembler_.framesPerBlock();
      tap(buffer, AudioTime{firstFrame, streamFormat_.sampleRate});
    }
    assembler_.clear();
  }

  // Declared first: the node refers to it, and it outlives everything below.
  PulseConnection connection_;
  PulseInputNode inputNode_{connection_};
  pa_stream* stream_ = nullptr;
  // Used by the loop's thread while the stream runs.
  FrameAssembler assembler_;
  StreamSourceCheck sourceCheck_;
  AudioFormat streamFormat_;
  size_t frameBytes_ = 0;
  int64_t bytesRead_ = 0;
  LostAudioDetector lossDetector_;
  // Once set, every block after carries it.
  bool audioLost_ = false;
};

}  // namespace

std::shared_ptr<AudioEngine> AudioEngine::create() {
  [[maybe_unused]] static const bool quiet = (quietStandardError(), true);
  return std::make_shared<PulseEngine>();
}

}  // namespace speechline
