#include <gtest/gtest.h>
#include <soxr.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/linux/decoder_load.h"
#include "platform/linux/recognition_session.h"
#include "platform/linux/speech_recognizer-pocketsphinx.h"
#include "platform/linux/transcript_decoder.h"
#include "platform/linux/worker_threads.h"
#include "platform/main_queue.h"
#include "platform/posix/poll_main_loop.h"

namespace speechline {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr char kClip[] =
    "/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-0880.wav";
constexpr char kReference[] = "he was not an ill disposed young man";
constexpr char kEnglishModel[] = "/usr/share/pocketsphinx/model/en-us";

// What a typical sound server hands over.
constexpr AudioFormat kCaptureFormat{48000, 2};
constexpr uint32_t kBufferFrames = 1024;

// ---- Audio -------------------------------------------------------------------------------

// The clip's 16 kHz mono 16-bit samples.
std::vector<int16_t> readClip() {
  std::ifstream file(kClip, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), {});
  auto word = [&](size_t at) {
    uint32_t value;
    std::memcpy(&value, bytes.data() + at, 4);
    return value;
  };
  for (size_t at = 12; at + 8 <= bytes.size(); at += 8 + word(at + 4)) {
    if (std::memcmp(bytes.data() + at, "data", 4) != 0) continue;
    const size_t length = std::min<size_t>(word(at + 4), bytes.size() - at - 8);
    std::vector<int16_t> samples(length / 2);
    std::memcpy(samples.data(), bytes.data() + at + 8, samples.size() * 2);
    return samples;
  }
  return {};
}

// The clip as the capture thread would see it: 48 kHz stereo float, the channels a little
// different.
std::vector<float> clipAtCaptureFormat() {
  const std::vector<int16_t> clip = readClip();
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

std::vector<std::string> words(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream stream(text);
  for (std::string word; stream >> word;) {
    std::transform(word.begin(), word.end(), word.begin(), ::tolower);
    result.push_back(word);
  }
  return result;
}

double wordErrorRate(const std::string& hypothesis, const std::string& reference) {
  const std::vector<std::string> said = words(hypothesis);
  const std::vector<std::string> meant = words(reference);
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

double percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[static_cast<size_t>(fraction * static_cast<double>(values.size() - 1))];
}

// ---- The main thread ---------------------------------------------------------------------

// The poll main loop, run on a thread of its own that plays the main thread.
std::thread::id mainThreadId() {
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

// Runs `work` on the main thread and returns what it returns.
template <typename Work>
auto onMain(Work work) -> decltype(work()) {
  mainThreadId();
  std::packaged_task<decltype(work())()> task(std::move(work));
  auto result = task.get_future();
  dispatchToMainQueue([&task] { task(); });
  return result.get();
}

// ---- Deliveries --------------------------------------------------------------------------

struct Delivery {
  std::optional<std::string> text;
  bool isFinal = false;
  std::optional<std::string> error;
  bool onMainThread = false;
  Clock::time_point at;
  size_t framesFed = 0;  // by the feeder when the delivery ran
};

class DeliveryLog {
 public:
  explicit DeliveryLog(const std::atomic<size_t>* framesFed) : framesFed_(framesFed) {}

  SpeechRecognitionResultHandler handler() {
    return [this](const SpeechRecognitionResult* result, const SpeechRecognitionError* error) {
      Delivery delivery;
      if (result) delivery.text = result->formattedString;
      if (result) delivery.isFinal = result->isFinal;
      if (error) delivery.error = error->localizedDescription;
      delivery.onMainThread = std::this_thread::get_id() == mainThreadId();
      delivery.at = Clock::now();
      delivery.framesFed = framesFed_ ? framesFed_->load() : 0;
      std::lock_guard<std::mutex> lock(mutex_);
      deliveries_.push_back(std::move(delivery));
      changed_.notify_all();
    };
  }

  // Waits until a final result or an error has come, for at most `timeout`.
  bool waitForEnd(milliseconds timeout) {
    return waitUntil(timeout, [](const Delivery& d) { return d.error || d.isFinal; });
  }

  bool waitUntil(milliseconds timeout, bool (*predicate)(const Delivery&)) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
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

// ---- The capture thread ------------------------------------------------------------------

// Appends audio to a request the way the capture thread does: 1024-frame buffers, in real
// time unless told otherwise, then silence (digital zeros, as a null sink's monitor gives).
class Feeder {
 public:
  Feeder(std::shared_ptr<SpeechAudioBufferRecognitionRequest> request, std::vector<float> audio,
         double silenceSeconds, bool realTime)
      : request_(std::move(request)),
        audio_(std::move(audio)),
        realTime_(realTime),
        totalFrames_(audio_.size() / kCaptureFormat.channelCount +
                     static_cast<size_t>(silenceSeconds * kCaptureFormat.sampleRate)) {
    thread_ = std::thread([this] { run(); });
  }

  ~Feeder() { stop(); }

  void stop() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
  }

  const std::atomic<size_t>* framesFed() const { return &framesFed_; }

  // After stop(): what each append cost, and when the speech had all been appended.
  const std::vector<double>& appendMicroseconds() const { return appendMicroseconds_; }
  Clock::time_point speechEnd() const { return speechEnd_; }

 private:
  void run() {
    const uint32_t channels = kCaptureFormat.channelCount;
    const size_t speechFrames = audio_.size() / channels;
    std::vector<float> buffer(kBufferFrames * channels);
    const Clock::time_point started = Clock::now();
    for (size_t frame = 0; frame < totalFrames_ && !stopping_; frame += kBufferFrames) {
      const size_t length = std::min<size_t>(kBufferFrames, totalFrames_ - frame);
      std::fill(buffer.begin(), buffer.end(), 0.0f);
      if (frame < speechFrames) {
        const size_t speech = std::min(length, speechFrames - frame);
        std::copy_n(audio_.begin() + static_cast<ptrdiff_t>(frame * channels), speech * channels,
                    buffer.begin());
      }
      const AudioPCMBuffer pcm(buffer.data(), static_cast<uint32_t>(length), kCaptureFormat);
      const Clock::time_point before = Clock::now();
      request_->appendAudioPCMBuffer(pcm);
      appendMicroseconds_.push_back(
          std::chrono::duration<double, std::micro>(Clock::now() - before).count());
      framesFed_ += length;
      if (frame + length >= speechFrames && frame < speechFrames) speechEnd_ = Clock::now();
      if (realTime_) {
        std::this_thread::sleep_until(
            started + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                          static_cast<double>(framesFed_) / kCaptureFormat.sampleRate)));
      }
    }
  }

  const std::shared_ptr<SpeechAudioBufferRecognitionRequest> request_;
  const std::vector<float> audio_;
  const bool realTime_;
  const size_t totalFrames_;
  std::atomic<bool> stopping_{false};
  std::atomic<size_t> framesFed_{0};
  std::vector<double> appendMicroseconds_;
  Clock::time_point speechEnd_;
  std::thread thread_;
};

// ---- Tests -------------------------------------------------------------------------------

class PocketSphinxRecognitionTest : public testing::Test {
 protected:
  void SetUp() override {
    mainThreadId();
    recognizer_ = onMain([] { return SpeechRecognizer::create("en-US"); });
    ASSERT_NE(recognizer_, nullptr);
    request_ = onMain([] {
      auto request = SpeechAudioBufferRecognitionRequest::create();
      request->setShouldReportPartialResults(true);
      request->setRequiresOnDeviceRecognition(true);
      return request;
    });
  }

  void TearDown() override {
    if (feeder_) feeder_->stop();
    onMain([this] {
      task_.reset();
      request_.reset();
      recognizer_.reset();
    });
    // Every task's thread and every model load ends by itself once the task is over.
    EXPECT_TRUE(waitForWorkerThreads(seconds(30)));
    setNoAudioTimeout(kNoAudioTimeout);
  }

  void startFeeding(double silenceSeconds, bool realTime) {
    feeder_ = std::make_unique<Feeder>(request_, clip_, silenceSeconds, realTime);
    log_ = std::make_unique<DeliveryLog>(feeder_->framesFed());
  }

  // As the start sequence does: the task comes after the first buffers, and the recognizer
  // is dropped once the task exists.
  void startTask() {
    if (!log_) log_ = std::make_unique<DeliveryLog>(nullptr);
    std::this_thread::sleep_for(milliseconds(100));
    onMain([this] {
      task_ = recognizer_->recognitionTask(request_, log_->handler());
      recognizer_.reset();
    });
  }

  const std::vector<float> clip_ = clipAtCaptureFormat();
  const size_t clipFrames_ = clip_.size() / kCaptureFormat.channelCount;
  std::shared_ptr<SpeechRecognizer> recognizer_;
  std::shared_ptr<SpeechAudioBufferRecognitionRequest> request_;
  std::shared_ptr<SpeechRecognitionTask> task_;
  std::unique_ptr<Feeder> feeder_;
  std::unique_ptr<DeliveryLog> log_;
};

TEST_F(PocketSphinxRecognitionTest, StreamsPartialsThenOneFinalAfterTheSilence) {
  ASSERT_GT(clipFrames_, kCaptureFormat.sampleRate * 2.5);
  startFeeding(/*silenceSeconds=*/8, /*realTime=*/true);
  startTask();
  ASSERT_TRUE(log_->waitForEnd(seconds(30)));
  // Anything after the final would show up while the audio goes on.
  std::this_thread::sleep_for(milliseconds(500));
  feeder_->stop();

  const std::vector<Delivery> deliveries = log_->deliveries();
  ASSERT_FALSE(deliveries.empty());
  for (const Delivery& delivery : deliveries) {
    EXPECT_TRUE(delivery.onMainThread);
    EXPECT_FALSE(delivery.error) << *delivery.error;
    EXPECT_TRUE(delivery.text && !delivery.text->empty());
  }
  const Delivery& final = deliveries.back();
  ASSERT_TRUE(final.isFinal);
  ASSERT_GE(deliveries.size(), 2u) << "no partial result";
  for (size_t i = 0; i + 1 < deliveries.size(); ++i) {
    EXPECT_FALSE(deliveries[i].isFinal);
    if (i > 0) {
      EXPECT_NE(*deliveries[i].text, *deliveries[i - 1].text);
    }
  }

  const std::string& text = *final.text;
  // pocketsphinx_continuous -infile gets 2 of the 8 words wrong ("illness those" for "ill
  // disposed"); resampling may cost one more.
  EXPECT_LE(wordErrorRate(text, kReference), 3.0 / 8) << text;
  EXPECT_EQ(words(text).front(), "he") << text;
  // Final 1.5 s after the last speech: not merely when the detector closed the utterance
  // (0.5 s), and not long after.
  const double silenceFed =
      static_cast<double>(final.framesFed - clipFrames_) / kCaptureFormat.sampleRate;
  EXPECT_GE(silenceFed, 1.0);
  EXPECT_LT(final.at - feeder_->speechEnd(), seconds(5));

  const std::vector<double>& costs = feeder_->appendMicroseconds();
  const double p99 = percentile(costs, 0.99);
  std::printf("append: %zu calls, median %.1f us, p99 %.1f us, max %.1f us\n", costs.size(),
              percentile(costs, 0.5), p99, percentile(costs, 1.0));
  // A bound that catches an append waiting on the decoder, not a performance target.
  EXPECT_LT(p99, 2000.0);

  std::printf("final after %.2f s of silence, %.2f s after the speech: \"%s\"\n", silenceFed,
              std::chrono::duration<double>(final.at - feeder_->speechEnd()).count(), text.c_str());
  for (const Delivery& d : deliveries) {
    std::printf("  at %.3f s of audio fed: %s \"%s\"\n",
                static_cast<double>(d.framesFed) / kCaptureFormat.sampleRate,
                d.isFinal ? "final  " : "partial", d.text->c_str());
  }
}

TEST_F(PocketSphinxRecognitionTest, EndAudioFinishesWithWhatWasBuffered) {
  // All of the clip arrives at once, before the model is loaded, and no silence follows.
  startFeeding(/*silenceSeconds=*/0, /*realTime=*/false);
  startTask();
  onMain([this] { request_->endAudio(); });
  ASSERT_TRUE(log_->waitForEnd(seconds(30)));

  const std::vector<Delivery> deliveries = log_->deliveries();
  const Delivery& final = deliveries.back();
  ASSERT_TRUE(final.isFinal);
  ASSERT_TRUE(final.text);
  EXPECT_LE(wordErrorRate(*final.text, kReference), 3.0 / 8) << *final.text;
  EXPECT_EQ(words(*final.text).front(), "he") << *final.text;
  EXPECT_EQ(std::count_if(deliveries.begin(), deliveries.end(),
                          [](const Delivery& d) { return d.isFinal || d.error; }),
            1);
}

TEST_F(PocketSphinxRecognitionTest, CancelEndsEveryCallbackAndTheWork) {
  startFeeding(/*silenceSeconds=*/3, /*realTime=*/true);
  startTask();
  ASSERT_TRUE(log_->waitUntil(seconds(30), [](const Delivery& d) { return d.text.has_value(); }));
  const size_t seenAtCancel = onMain([this] {
    task_->cancel();
    return log_->deliveries().size();
  });
  // The thread stops while audio still arrives.
  EXPECT_TRUE(waitForWorkerThreads(seconds(5)));
  std::this_thread::sleep_for(milliseconds(300));
  feeder_->stop();
  // Whatever was already queued for the main thread has run by the time this does.
  onMain([] {});
  EXPECT_EQ(log_->deliveries().size(), seenAtCancel);
  EXPECT_FALSE(log_->deliveries().back().isFinal);
}

TEST_F(PocketSphinxRecognitionTest, FailsWhenNoAudioArrivesForTheTimeout) {
  setNoAudioTimeout(milliseconds(400));
  // A microphone that goes quiet after a few buffers.
  feeder_ = std::make_unique<Feeder>(request_, std::vector<float>(), 0.2, false);
  log_ = std::make_unique<DeliveryLog>(feeder_->framesFed());
  feeder_->stop();
  const Clock::time_point lastAudio = Clock::now();
  startTask();
  ASSERT_TRUE(log_->waitForEnd(seconds(30)));
  std::this_thread::sleep_for(milliseconds(200));

  const std::vector<Delivery> deliveries = log_->deliveries();
  ASSERT_EQ(deliveries.size(), 1u);
  EXPECT_FALSE(deliveries[0].text);
  EXPECT_EQ(deliveries[0].error.value_or(""), "No audio has arrived for 0.4 seconds.");
  EXPECT_TRUE(deliveries[0].onMainThread);
  EXPECT_GE(deliveries[0].at - lastAudio, milliseconds(400));
}

// ---- Model loading -----------------------------------------------------------------------

ModelParts englishParts() { return findModelParts(kEnglishModel); }

TEST(DecoderLoadTest, LoadsTheEnglishModel) {
  const auto started = Clock::now();
  const std::shared_ptr<DecoderLoad> load = DecoderLoad::start(englishParts());
  const auto returned = Clock::now();
  ASSERT_EQ(load->wait(milliseconds(30000)), DecoderLoad::State::kReady);
  ps_decoder_t* decoder = load->take();
  EXPECT_NE(decoder, nullptr);
  EXPECT_EQ(load->take(), nullptr);
  std::printf("start() returned after %.1f ms; model loaded in %.3f s\n",
              std::chrono::duration<double, std::milli>(returned - started).count(),
              load->loadTime().count());
  // The caller owns a taken decoder.
  TranscriptDecoder owner(decoder);
}

// An acoustic model with one file spoilt; the language model and dictionary are Debian's.
class BrokenModel {
 public:
  BrokenModel(const std::string& spoiltFile, const std::string& content) {
    char pattern[] = "/tmp/speechline-broken-XXXXXX";
    EXPECT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    const ModelParts english = englishParts();
    fs::create_directory(root_ / "en-us");
    for (const auto& entry : fs::directory_iterator(english.acousticModel)) {
      const fs::path target = root_ / "en-us" / entry.path().filename();
      if (entry.path().filename() == spoiltFile) {
        std::ofstream(target, std::ios::binary) << content;
      } else {
        fs::create_symlink(entry.path(), target);
      }
    }
    parts_ = {(root_ / "en-us").string(), english.languageModel, english.dictionary};
  }
  ~BrokenModel() { fs::remove_all(root_); }

  const ModelParts& parts() const { return parts_; }

 private:
  fs::path root_;
  ModelParts parts_;
};

std::string firstBytes(const std::string& path, size_t count) {
  std::ifstream file(path, std::ios::binary);
  std::string bytes(count, '\0');
  file.read(bytes.data(), static_cast<std::streamsize>(count));
  return bytes;
}

TEST(BrokenModelTest, ReportsAModelThatCannotBeLoaded) {
  const std::string means = englishParts().acousticModel + "/means";
  const struct {
    const char* file;
    std::string content;
  } cases[] = {
      // ps_init returns null.
      {"means", firstBytes(means, 1000)},
      // sphinxbase calls exit() from inside ps_init.
      {"mdef", "not a model definition\n"},
  };
  for (const auto& c : cases) {
    const BrokenModel model(c.file, c.content);
    DeliveryLog log(nullptr);
    std::shared_ptr<SpeechRecognitionTask> task = onMain([&] {
      const std::shared_ptr<SpeechRecognizer> recognizer =
          makePocketSphinxRecognizer(model.parts());
      EXPECT_TRUE(recognizer->isAvailable());
      return recognizer->recognitionTask(SpeechAudioBufferRecognitionRequest::create(),
                                         log.handler());
    });
    ASSERT_TRUE(log.waitForEnd(seconds(30))) << c.file;
    const std::vector<Delivery> deliveries = log.deliveries();
    ASSERT_EQ(deliveries.size(), 1u) << c.file;
    EXPECT_FALSE(deliveries[0].text) << c.file;
    EXPECT_EQ(deliveries[0].error.value_or(""), "The speech recognition model could not be loaded.")
        << c.file;
    onMain([&task] { task.reset(); });
    EXPECT_TRUE(waitForWorkerThreads(seconds(30))) << c.file;
  }
}

}  // namespace
}  // namespace speechline
