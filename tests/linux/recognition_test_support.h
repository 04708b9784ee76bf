// For the PocketSphinx recognizer's tests: a recorded clip at a capture format, a main thread
// of their own, a log of the result handler's calls, and a capture thread's stand-in.
#pragma once

#include <soxr.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <future>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/main_loop.h"
#include "platform/posix/poll_main_loop.h"
#include "platform/speech_recognizer.h"

namespace speechline::testing_support {

using Clock = std::chrono::steady_clock;

// A 16 kHz mono 16-bit WAV file with the plain 44-byte header, and what it says.
constexpr char kClip[] =
    "/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-0880.wav";
constexpr char kReference[] = "he was not an ill disposed young man";
constexpr AudioFormat kCaptureFormat{48000, 2};
constexpr uint32_t kBufferFrames = 1024;

// The clip as a sound server would capture it: 48 kHz stereo float, the channels a little
// different.
inline std::vector<float> clipAtCaptureFormat() {
  std::ifstream file(kClip, std::ios::binary);
  file.seekg(44);
  std::vector<int16_t> clip(47840);
  file.read(reinterpret_cast<char*>(clip.data()), static_cast<std::streamsize>(clip.size() * 2));
  std::vector<float> mono(clip.size() * 3 + 64);
  const soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_FLOAT32_I);
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
  size_t produced = 0;
  soxr_oneshot(16000, kCaptureFormat.sampleRate, 1, clip.data(), clip.size(), nullptr, mono.data(),
               mono.size(), &produced, &io, &quality, nullptr);
  std::vector<float> stereo;
  for (size_t i = 0; i < produced; ++i) {
    stereo.push_back(mono[i]);
    stereo.push_back(0.8f * mono[i]);
  }
  return stereo;
}

inline std::vector<std::string> words(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream stream(text);
  for (std::string word; stream >> word;) {
    std::transform(word.begin(), word.end(), word.begin(), ::tolower);
    result.push_back(word);
  }
  return result;
}

// Word error rate of `hypothesis` against kReference, case-insensitive.
inline double wordErrorRate(const std::string& hypothesis) {
  const std::vector<std::string> said = words(hypothesis);
  const std::vector<std::string> meant = words(kReference);
  std::vector<size_t> row(said.size() + 1);
  for (size_t j = 0; j <= said.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= meant.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= said.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (meant[i - 1] != said[j - 1])});
      diagonal = above;
    }
  }
  return static_cast<double>(row[said.size()]) / static_cast<double>(meant.size());
}

// The poll main loop on a thread of its own, which plays the main thread.
inline std::thread::id mainThreadId() {
  static const std::thread::id id = [] {
    std::promise<std::thread::id> started;
    std::thread([&started] {
      started.set_value(std::this_thread::get_id());
      runPollMainLoop();
    }).detach();
    return started.get_future().get();
  }();
  return id;
}

// Runs `work` on the main thread and returns its result.
template <typename Work>
auto onMain(Work work) -> decltype(work()) {
  mainThreadId();
  std::packaged_task<decltype(work())()> task(std::move(work));
  auto result = task.get_future();
  dispatchToMainQueue([&task] { task(); });
  return result.get();
}

// One call of the result handler.
struct Delivery {
  std::optional<std::string> text;
  bool isFinal = false;
  std::optional<std::string> error;
  bool onMainThread = false;
  Clock::time_point at;
  size_t framesFed = 0;  // by the feeder when the handler ran
};

class DeliveryLog {
 public:
  explicit DeliveryLog(const std::atomic<size_t>* framesFed = nullptr) : framesFed_(framesFed) {}

  SpeechRecognitionResultHandler handler() {
    return [this](const SpeechRecognitionResult* result, const SpeechRecognitionError* error) {
      Delivery delivery{result ? std::optional(result->formattedString) : std::nullopt,
                        result && result->isFinal,
                        error ? std::optional(error->localizedDescription) : std::nullopt,
                        std::this_thread::get_id() == mainThreadId(),
                        Clock::now(),
                        framesFed_ ? framesFed_->load() : 0};
      std::lock_guard<std::mutex> lock(mutex_);
      deliveries_.push_back(std::move(delivery));
      changed_.notify_all();
    };
  }

  // Waits at most 30 s for a delivery that `predicate` accepts (by default: the last one).
  bool waitFor(bool (*predicate)(const Delivery&) = [](const Delivery& d) {
    return d.isFinal || d.error.has_value();
  }) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(30), [&] {
      return std::any_of(deliveries_.begin(), deliveries_.end(), predicate);
    });
  }

  std::vector<Delivery> deliveries() {
    std::lock_guard<std::mutex> lock(mutex_);
    return deliveries_;
  }

 private:
  const std::atomic<size_t>* const framesFed_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Delivery> deliveries_;
};

// Appends audio as the capture thread does: 1024-frame buffers, in real time unless told
// otherwise, the speech followed by silence (zeros, as a null sink's monitor gives).
class Feeder {
 public:
  Feeder(std::shared_ptr<SpeechAudioBufferRecognitionRequest> request,
         const std::vector<float>& speech, double silenceSeconds, bool realTime)
      : thread_([=, this] { run(request, speech, silenceSeconds, realTime); }) {}
  ~Feeder() { stop(); }

  void stop() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
  }

  std::atomic<size_t> framesFed{0};
  // Written by the feeder; read after stop().
  std::vector<double> appendMicroseconds;
  Clock::time_point speechEnd;

 private:
  void run(const std::shared_ptr<SpeechAudioBufferRecognitionRequest>& request,
           const std::vector<float>& speech, double silenceSeconds, bool realTime) {
    const uint32_t channels = kCaptureFormat.channelCount;
    const size_t speechFrames = speech.size() / channels;
    const size_t totalFrames =
        speechFrames + static_cast<size_t>(silenceSeconds * kCaptureFormat.sampleRate);
    std::vector<float> buffer;
    const Clock::time_point started = Clock::now();
    for (size_t frame = 0; frame < totalFrames && !stopping_; frame += kBufferFrames) {
      const size_t length = std::min<size_t>(kBufferFrames, totalFrames - frame);
      buffer.assign(length * channels, 0.0f);
      if (frame < speechFrames) {
        std::copy_n(speech.begin() + static_cast<ptrdiff_t>(frame * channels),
                    std::min(length, speechFrames - frame) * channels, buffer.begin());
      }
      const AudioPCMBuffer pcm(buffer.data(), static_cast<uint32_t>(length), kCaptureFormat);
      const Clock::time_point before = Clock::now();
      request->appendAudioPCMBuffer(pcm);
      appendMicroseconds.push_back(
          std::chrono::duration<double, std::micro>(Clock::now() - before).count());
      framesFed += length;
      if (frame < speechFrames && framesFed >= speechFrames) speechEnd = Clock::now();
      if (realTime) {
        std::this_thread::sleep_until(started + std::chrono::microseconds(static_cast<int64_t>(
                                                    1e6 * framesFed / kCaptureFormat.sampleRate)));
      }
    }
  }

  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace speechline::testing_support
