// Per-call costs of the two paths that must stay short: appending a captured buffer on the
// capture thread, and writing a result line on the main thread. Each call is timed on its own,
// so that the counters give the distribution (p50, p99, max), not only a mean.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "events/emit.h"
#include "platform/linux/pocketsphinx/speech_recognizer-pocketsphinx.h"
#include "platform/speech_recognizer.h"

namespace speechline {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kFrames = 1024;
constexpr char kSpeech[] =
    "/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-0870.wav";
// Long enough to cover the model load (nothing is consumed then) and several seconds of
// decoding on the recognition thread.
constexpr double kAppendSeconds = 12.0;
// The first calls, reported apart: the model loads for about a second.
constexpr double kLoadSeconds = 1.5;

void reportPercentiles(benchmark::State& state, std::vector<double> micros,
                       const std::string& prefix = "") {
  if (micros.empty()) return;
  std::sort(micros.begin(), micros.end());
  // Interpolated between the two nearest values, as bench/harness.py's percentile() is.
  auto at = [&](double q) {
    const double position = q * static_cast<double>(micros.size() - 1);
    const size_t low = static_cast<size_t>(position);
    const size_t high = std::min(low + 1, micros.size() - 1);
    return micros[low] + (micros[high] - micros[low]) * (position - static_cast<double>(low));
  };
  state.counters[prefix + "p50_us"] = at(0.50);
  state.counters[prefix + "p99_us"] = at(0.99);
  state.counters[prefix + "max_us"] = micros.back();
  state.counters[prefix + "calls"] = static_cast<double>(micros.size());
}

// Real speech, so that the recognition thread on the other core does its real work. The
// samples are held, not filtered, on the way up to the microphone's rate: only the load
// matters here, not how the audio sounds.
std::vector<float> speechAt(double rate, uint32_t channels) {
  std::ifstream file(kSpeech, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(file)), {});
  std::vector<float> out;
  // The clip has the canonical 44-byte header: "data" starts at byte 36.
  if (bytes.size() <= 44 || std::string(bytes.data() + 36, 4) != "data") return out;
  const size_t count = (bytes.size() - 44) / 2;
  const auto* pcm = reinterpret_cast<const int16_t*>(bytes.data() + 44);
  const auto frames = static_cast<size_t>(static_cast<double>(count) * rate / 16000);
  out.reserve(frames * channels);
  for (size_t frame = 0; frame < frames; ++frame) {
    const float sample =
        pcm[static_cast<size_t>(static_cast<double>(frame) * 16000 / rate)] / 32768.0f;
    for (uint32_t channel = 0; channel < channels; ++channel) out.push_back(sample);
  }
  return out;
}

// One buffer every 1024 frames of wall time, as a capture thread sees them, while a real
// recognition task loads its model and then consumes the audio.
void BM_AppendAudioPCMBuffer(benchmark::State& state) {
  const double rate = static_cast<double>(state.range(0));
  const auto channels = static_cast<uint32_t>(state.range(1));
  const std::vector<float> speech = speechAt(rate, channels);
  RecognitionSettings settings;
  settings.recognizerProgram = SPEECHLINE_RECOGNIZER;
  std::shared_ptr<SpeechRecognizer> recognizer = makePocketSphinxRecognizer(
      findModelParts("/usr/share/pocketsphinx/model/en-us"), settings);
  if (speech.size() < size_t{kFrames} * channels || !recognizer || !recognizer->isAvailable()) {
    state.SkipWithError("needs pocketsphinx-en-us and pocketsphinx-testdata");
    return;
  }
  const AudioFormat format{rate, channels};
  const auto period =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(kFrames / rate));
  const size_t blocks = speech.size() / (size_t{kFrames} * channels);

  std::vector<double> micros;
  std::vector<float> captured;
  for (auto _ : state) {
    micros.clear();
    auto request = SpeechAudioBufferRecognitionRequest::create();
    auto task = recognizer->recognitionTask(
        request, [](const SpeechRecognitionResult*, const SpeechRecognitionError*) {});
    const auto calls = static_cast<size_t>(kAppendSeconds * rate / kFrames);
    micros.reserve(calls);
    Clock::time_point next = Clock::now();
    double total = 0;
    for (size_t call = 0; call < calls; ++call) {
      std::this_thread::sleep_until(next);
      next += period;
      // The capture thread hands over a buffer it has just filled.
      const float* samples = speech.data() + (call % blocks) * kFrames * channels;
      captured.assign(samples, samples + size_t{kFrames} * channels);
      const AudioPCMBuffer buffer(captured.data(), kFrames, format);
      const Clock::time_point start = Clock::now();
      request->appendAudioPCMBuffer(buffer);
      const std::chrono::duration<double> took = Clock::now() - start;
      micros.push_back(took.count() * 1e6);
      total += took.count();
    }
    task->cancel();
    state.SetIterationTime(total / static_cast<double>(calls));
  }
  // While the model loads nothing is consumed, and each buffer goes into a block that has not
  // been used yet; afterwards blocks come back and are used again.
  const auto loading = std::min(micros.size(), static_cast<size_t>(kLoadSeconds * rate / kFrames));
  reportPercentiles(state, std::vector<double>(micros.begin(), micros.begin() + loading), "load_");
  reportPercentiles(state, std::vector<double>(micros.begin() + loading, micros.end()), "after_");
  reportPercentiles(state, std::move(micros));
}
BENCHMARK(BM_AppendAudioPCMBuffer)
    ->Args({48000, 2})
    ->Args({44100, 1})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

// Standard output is a pipe that a reader drains, as a parent program does.
class StdoutToPipe {
 public:
  StdoutToPipe() {
    std::fflush(stdout);
    saved_ = ::dup(STDOUT_FILENO);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    ::dup2(fds[1], STDOUT_FILENO);
    ::close(fds[1]);
    reader_ = std::thread([fd = fds[0]] {
      char sink[65536];
      while (::read(fd, sink, sizeof sink) > 0) {
      }
      ::close(fd);
    });
  }
  ~StdoutToPipe() {
    ::dup2(saved_, STDOUT_FILENO);
    ::close(saved_);
    if (reader_.joinable()) reader_.join();
  }

 private:
  int saved_ = -1;
  std::thread reader_;
};

// A partial result of a typical length, one every 2 ms: far more often than a recognizer
// produces them, but far enough apart that the reader empties the pipe in between, as a parent
// program does.
void BM_EmitResultLine(benchmark::State& state) {
  const Event event{{{"type", std::string("result")},
                     {"text", std::string("and mr john dashwood had then leisure to consider how "
                                          "much there might be prudently in his power")},
                     {"isFinal", false}}};
  std::vector<double> micros;
  {
    StdoutToPipe pipe;
    Clock::time_point next = Clock::now();
    for (auto _ : state) {
      std::this_thread::sleep_until(next);
      next += std::chrono::milliseconds(2);
      const Clock::time_point start = Clock::now();
      emit(event);
      const std::chrono::duration<double> took = Clock::now() - start;
      state.SetIterationTime(took.count());
      micros.push_back(took.count() * 1e6);
    }
  }
  reportPercentiles(state, std::move(micros));
}
BENCHMARK(BM_EmitResultLine)->Iterations(2000)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace speechline

BENCHMARK_MAIN();
