#include <gtest/gtest.h>
#include <soxr.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/linux/recognition_session.h"
#include "platform/linux/speech_recognizer-pocketsphinx.h"
#include "platform/linux/worker_threads.h"
#include "platform/main_queue.h"
#include "platform/posix/poll_main_loop.h"

namespace speechline {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

// A 16 kHz mono 16-bit WAV file with the plain 44-byte header.
constexpr char kClip[] =
    "/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-0880.wav";
constexpr char kReference[] = "he was not an ill disposed young man";
constexpr char kEnglishModel[] = "/usr/share/pocketsphinx/model/en-us";
constexpr AudioFormat kCaptureFormat{48000, 2};
constexpr uint32_t kBufferFrames = 1024;

// The clip as a sound server would capture it: 48 kHz stereo float, the channels a little
// different.
std::vector<float> clipAtCaptureFormat() {
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

std::vector<std::string> words(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream stream(text);
  for (std::string word; stream >> word;) {
    std::transform(word.begin(), word.end(), word.begin(), ::tolower);
    result.push_back(word);
  }
  return result;
}

double wordErrorRate(const std::string& hypothesis) {
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

double percentile(std::vector<double> values, double fraction) {
  std::sort(values.begin(), values.end());
  return values[static_cast<size_t>(fraction * static_cast<double>(values.size() - 1))];
}

// The poll main loop on a thread of its own, which plays the main thread.
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

template <typename Work>
auto onMain(Work work) -> decltype(work()) {
  mainThreadId();
  std::packaged_task<decltype(work())()> task(std::move(work));
  auto result = task.get_future();
  dispatchToMainQueue([&task] { task(); });
  return result.get();
}

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
    return changed_.wait_for(lock, seconds(30), [&] {
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

// The start sequence's order: recognizer, request, audio flowing, then the task, and the
// recognizer dropped.
class PocketSphinxRecognitionTest : public testing::Test {
 protected:
  void SetUp() override {
    onMain([this] {
      recognizer_ = SpeechRecognizer::create("en-US");
      request_ = SpeechAudioBufferRecognitionRequest::create();
      request_->setShouldReportPartialResults(true);
      request_->setRequiresOnDeviceRecognition(true);
    });
    ASSERT_NE(recognizer_, nullptr);
  }

  void TearDown() override {
    if (feeder_) feeder_->stop();
    onMain([this] {
      task_.reset();
      request_.reset();
      recognizer_.reset();
    });
    // Every task's thread and model load ends by itself once the task is over.
    EXPECT_TRUE(waitForWorkerThreads(seconds(30)));
    setNoAudioTimeout(kNoAudioTimeout);
  }

  void start(const std::vector<float>& speech, double silenceSeconds, bool realTime) {
    feeder_ = std::make_unique<Feeder>(request_, speech, silenceSeconds, realTime);
    log_ = std::make_unique<DeliveryLog>(&feeder_->framesFed);
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
  start(clip_, /*silenceSeconds=*/8, /*realTime=*/true);
  ASSERT_TRUE(log_->waitFor());
  // Anything after the final would show up while the audio goes on.
  std::this_thread::sleep_for(milliseconds(500));
  feeder_->stop();

  const std::vector<Delivery> deliveries = log_->deliveries();
  ASSERT_GE(deliveries.size(), 2u) << "no partial result";
  for (size_t i = 0; i < deliveries.size(); ++i) {
    EXPECT_TRUE(deliveries[i].onMainThread);
    ASSERT_FALSE(deliveries[i].error) << *deliveries[i].error;
    ASSERT_TRUE(deliveries[i].text && !deliveries[i].text->empty());
    EXPECT_EQ(deliveries[i].isFinal, i + 1 == deliveries.size());
    if (i > 0 && !deliveries[i].isFinal) {
      EXPECT_NE(*deliveries[i].text, *deliveries[i - 1].text);
    }
  }
  const Delivery& final = deliveries.back();
  // pocketsphinx_continuous -infile gets 2 of the 8 words wrong ("illness those" for "ill
  // disposed"); allow one more.
  EXPECT_LE(wordErrorRate(*final.text), 3.0 / 8) << *final.text;
  EXPECT_EQ(words(*final.text).front(), "he") << *final.text;
  // 1.5 s after the last speech (which ends 0.2 s before the clip does): not as soon as the
  // detector closes the utterance 0.5 s after it, and not long after.
  const double silenceFed =
      static_cast<double>(final.framesFed - clipFrames_) / kCaptureFormat.sampleRate;
  EXPECT_GE(silenceFed, 1.0);
  EXPECT_LT(final.at - feeder_->speechEnd, seconds(5));

  const std::vector<double>& costs = feeder_->appendMicroseconds;
  std::printf("append: %zu calls, median %.1f us, p99 %.1f us, max %.1f us\n", costs.size(),
              percentile(costs, 0.5), percentile(costs, 0.99), percentile(costs, 1.0));
  // Catches an append that waits for the decoder; not a performance target.
  EXPECT_LT(percentile(costs, 0.99), 2000.0);
  for (const Delivery& d : deliveries) {
    std::printf("%.3f s of audio fed: %s\n", static_cast<double>(d.framesFed) / 48000,
                d.text->c_str());
  }
}

TEST_F(PocketSphinxRecognitionTest, EndAudioFinishesWithWhatWasBuffered) {
  // The whole clip arrives at once, before the model has loaded, and no silence follows.
  start(clip_, /*silenceSeconds=*/0, /*realTime=*/false);
  onMain([this] { request_->endAudio(); });
  ASSERT_TRUE(log_->waitFor());
  const std::vector<Delivery> deliveries = log_->deliveries();
  const Delivery& final = deliveries.back();
  ASSERT_TRUE(final.isFinal && final.text);
  EXPECT_LE(wordErrorRate(*final.text), 3.0 / 8) << *final.text;
  EXPECT_EQ(words(*final.text).front(), "he") << *final.text;
}

TEST_F(PocketSphinxRecognitionTest, CancelEndsEveryCallbackAndTheWork) {
  start(clip_, /*silenceSeconds=*/3, /*realTime=*/true);
  ASSERT_TRUE(log_->waitFor([](const Delivery& d) { return d.text.has_value(); }));
  const size_t seenAtCancel = onMain([this] {
    task_->cancel();
    return log_->deliveries().size();
  });
  // The thread stops while audio still arrives.
  EXPECT_TRUE(waitForWorkerThreads(seconds(2)));
  std::this_thread::sleep_for(milliseconds(300));
  feeder_->stop();
  onMain([] {});  // whatever was queued for the main thread has run
  EXPECT_EQ(log_->deliveries().size(), seenAtCancel);
}

TEST_F(PocketSphinxRecognitionTest, FailsWhenNoAudioArrivesForTheTimeout) {
  setNoAudioTimeout(milliseconds(400));
  // A microphone that goes quiet after 0.2 s.
  start({}, /*silenceSeconds=*/0.2, /*realTime=*/false);
  feeder_->stop();
  const Clock::time_point lastAudio = Clock::now();
  ASSERT_TRUE(log_->waitFor());
  std::this_thread::sleep_for(milliseconds(200));

  const std::vector<Delivery> deliveries = log_->deliveries();
  ASSERT_EQ(deliveries.size(), 1u);
  EXPECT_FALSE(deliveries[0].text);
  EXPECT_EQ(deliveries[0].error.value_or(""), "No audio has arrived for 0.4 seconds.");
  EXPECT_TRUE(deliveries[0].onMainThread);
  EXPECT_GE(deliveries[0].at - lastAudio, milliseconds(400));
}

TEST_F(PocketSphinxRecognitionTest, FailsOnceTheDecoderFallsAMinuteBehind) {
  // More than a minute of audio at once, while the model loads: the queue must turn some away.
  start({}, /*silenceSeconds=*/61, /*realTime=*/false);
  ASSERT_TRUE(log_->waitFor());
  const std::vector<Delivery> deliveries = log_->deliveries();
  ASSERT_EQ(deliveries.size(), 1u);
  EXPECT_EQ(deliveries[0].error.value_or(""),
            "Recognition fell too far behind the incoming audio.");
}

TEST(BrokenModelTest, ReportsAModelThatCannotBeLoaded) {
  const ModelParts english = findModelParts(kEnglishModel);
  std::string means(1000, '\0');
  std::ifstream(english.acousticModel + "/means", std::ios::binary).read(means.data(), 1000);
  const struct {
    const char* file;
    std::string content;
  } cases[] = {
      {"means", means},                      // ps_init returns null
      {"mdef", "not a model definition\n"},  // sphinxbase calls exit() inside ps_init
  };
  for (const auto& c : cases) {
    // Debian's acoustic model with one file spoilt.
    char pattern[] = "/tmp/speechline-broken-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    for (const auto& entry : fs::directory_iterator(english.acousticModel)) {
      const fs::path copy = fs::path(pattern) / entry.path().filename();
      if (entry.path().filename() == c.file) {
        std::ofstream(copy, std::ios::binary) << c.content;
      } else {
        fs::create_symlink(entry.path(), copy);
      }
    }
    DeliveryLog log;
    std::shared_ptr<SpeechRecognitionTask> task = onMain([&] {
      auto recognizer =
          makePocketSphinxRecognizer({pattern, english.languageModel, english.dictionary});
      EXPECT_TRUE(recognizer->isAvailable());
      return recognizer->recognitionTask(SpeechAudioBufferRecognitionRequest::create(),
                                         log.handler());
    });
    ASSERT_TRUE(log.waitFor()) << c.file;
    const std::vector<Delivery> deliveries = log.deliveries();
    ASSERT_EQ(deliveries.size(), 1u) << c.file;
    EXPECT_FALSE(deliveries[0].text) << c.file;
    EXPECT_EQ(deliveries[0].error.value_or(""), "The speech recognition model could not be loaded.")
        << c.file;
    onMain([&task] { task.reset(); });
    EXPECT_TRUE(waitForWorkerThreads(seconds(30))) << c.file;
    fs::remove_all(pattern);
  }
}

TEST_F(PocketSphinxRecognitionTest, TimesAStallFromTheLastArrivalNotFromTheDecoderCatchingUp) {
  setNoAudioTimeout(seconds(1));
  // Speech, then less silence than a final needs, all at once while the model loads: the
  // decoder works through a backlog longer than the timeout, and then no more audio comes.
  start(clip_, /*silenceSeconds=*/1.0, /*realTime=*/false);
  ASSERT_TRUE(log_->waitFor([](const Delivery& d) { return d.error.has_value(); }));

  const std::vector<Delivery> deliveries = log_->deliveries();
  ASSERT_GE(deliveries.size(), 2u);
  const Delivery& lastPartial = deliveries[deliveries.size() - 2];
  ASSERT_TRUE(lastPartial.text) << "the words before the stall are reported";
  // The timeout ran out while the backlog was decoded, so the error follows its end at once.
  EXPECT_LT(deliveries.back().at - lastPartial.at, milliseconds(900));
}

}  // namespace
}  // namespace speechline
