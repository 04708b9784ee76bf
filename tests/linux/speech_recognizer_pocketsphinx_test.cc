#include <gtest/gtest.h>

#include <cctype>

#include "platform/linux/pocketsphinx/speech_recognizer-pocketsphinx.h"
#include "platform/linux/pocketsphinx/worker_threads.h"
#include "recognition_test_support.h"

namespace speechline {
namespace {

using namespace testing_support;
using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr char kEnglishModel[] = "/usr/share/pocketsphinx/model/en-us";

// English text, and the recognizer program of this build.
RecognitionSettings settings(milliseconds noAudioTimeout = seconds(5)) {
  return {noAudioTimeout, true, SPEECHLINE_RECOGNIZER};
}

// The start sequence's order: recognizer, request, audio flowing, then the task, and the
// recognizer dropped.
class PocketSphinxRecognitionTest : public testing::Test {
 protected:
  void SetUp() override {
    onMain([this] {
      recognizer_ = makePocketSphinxRecognizer(findModelParts(kEnglishModel), settings());
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
  }

  // Replaces the recognizer with one whose tasks wait only `timeout` for audio.
  void useNoAudioTimeout(milliseconds timeout) {
    onMain([this, timeout] {
      recognizer_ = makePocketSphinxRecognizer(findModelParts(kEnglishModel), settings(timeout));
    });
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
    // English text for en-US, partials included.
    EXPECT_TRUE(std::isupper(static_cast<unsigned char>(deliveries[i].text->front())));
    EXPECT_EQ(deliveries[i].isFinal, i + 1 == deliveries.size());
    if (i > 0 && !deliveries[i].isFinal) {
      EXPECT_NE(*deliveries[i].text, *deliveries[i - 1].text);
    }
  }
  const Delivery& final = deliveries.back();
  // pocketsphinx_continuous -infile gets 2 of the 8 words wrong ("illness those" for "ill
  // disposed"); allow one more.
  EXPECT_LE(wordErrorRate(*final.text), 3.0 / 8) << *final.text;
  EXPECT_EQ(final.text->substr(0, 3), "He ") << *final.text;
  // 1.5 s after the last speech (which ends 0.2 s before the clip does): not as soon as the
  // detector closes the utterance 0.5 s after it, and not long after.
  const double silenceFed =
      static_cast<double>(final.framesFed - clipFrames_) / kCaptureFormat.sampleRate;
  EXPECT_GE(silenceFed, 1.0);
  EXPECT_LT(final.at - feeder_->speechEnd, seconds(5));

  // Catches an append that waits for the decoder (bench/ measures its cost): at most 1% of
  // the calls take 2 ms or more.
  const std::vector<double>& costs = feeder_->appendMicroseconds;
  EXPECT_LE(std::count_if(costs.begin(), costs.end(), [](double us) { return us >= 2000; }),
            static_cast<std::ptrdiff_t>(costs.size() / 100));
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
  EXPECT_EQ(final.text->substr(0, 3), "He ") << *final.text;
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
  useNoAudioTimeout(milliseconds(400));
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
  // More than a minute of audio at once, while the model loads (a second or two of it may be
  // on its way to the recognizer): the queue must turn some away.
  start({}, /*silenceSeconds=*/64, /*realTime=*/false);
  ASSERT_TRUE(log_->waitFor());
  const std::vector<Delivery> deliveries = log_->deliveries();
  ASSERT_EQ(deliveries.size(), 1u);
  EXPECT_EQ(deliveries[0].error.value_or(""),
            "Recognition fell too far behind the incoming audio.");
}

TEST_F(PocketSphinxRecognitionTest, TimesAStallFromTheLastArrivalNotFromTheDecoderCatchingUp) {
  useNoAudioTimeout(seconds(1));
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
