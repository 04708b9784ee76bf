#include "platform/linux/recognition_session.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/audio_converter.h"
#include "platform/linux/transcript_decoder.h"
#include "platform/linux/transcript_text.h"
#include "platform/linux/worker_threads.h"
#include "platform/main_loop.h"

namespace speechline {

struct RecognitionSession::State {
  // Main thread only: called, checked and finally released there.
  SpeechRecognitionResultHandler handler;
  bool done = false;
  std::atomic<bool> stopRequested{false};
};

namespace {

using Clock = std::chrono::steady_clock;

// How often a waiting thread looks at the clock and the cancel flag when nothing wakes it.
constexpr std::chrono::milliseconds kPollInterval{50};
// How much audio an idle thread lets gather before it wakes to decode it, which arrives without
// a wake-up. Each wake costs the decoder a refill of its tables into the cache, a millisecond
// or two, so a few buffers decoded at once cost much less CPU than each on its own, for a few
// tens of milliseconds on partial results.
constexpr std::chrono::milliseconds kAudioBatch{90};
// How long after the last buffer of a batch is due the thread wakes for it: the capture thread
// runs a little late at times.
constexpr std::chrono::milliseconds kArrivalSlack{4};
// How often an idle thread looks for audio that is later than that, for a batch's length;
// after that it waits the poll interval (the audio may have stopped).
constexpr std::chrono::milliseconds kLateAudioPoll{5};
// A gap between two looks at the clock that a thread waking at least every poll interval
// cannot have made itself.
constexpr std::chrono::seconds kStalled{1};

// When the batch after `block` should be in: a whole number of buffers of its length, near
// kAudioBatch, after it arrived.
Clock::time_point nextBatchDue(const AudioBlock& block) {
  if (!(block.format.sampleRate > 0)) return block.arrival + kAudioBatch;
  const std::chrono::duration<double> length(block.frameLength / block.format.sampleRate);
  const double buffers = std::max(1.0, std::round(kAudioBatch / length));
  return block.arrival + std::chrono::duration_cast<Clock::duration>(buffers * length) +
         kArrivalSlack;
}

std::string describeSeconds(std::chrono::milliseconds duration) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", static_cast<double>(duration.count()) / 1000);
  return text;
}

// The session's thread: owns what the thread uses, and lets it go when the thread ends.
class SessionThread {
 public:
  SessionThread(std::shared_ptr<RecognitionSession::State> state, std::shared_ptr<AudioQueue> audio,
                std::shared_ptr<DecoderLoad> load, bool reportPartialResults,
                RecognitionSettings settings)
      : state_(std::move(state)),
        audio_(std::move(audio)),
        load_(std::move(load)),
        reportPartialResults_(reportPartialResults),
        settings_(settings),
        lastArrival_(Clock::now()) {}

  ~SessionThread() {
    // The handler belongs to the main thread: let the last reference go there.
    dispatchToMainQueue([state = std::move(state_)] {});
  }

  void run() {
    if (!audio_) {
      fail("The recognition request is already in use by another task.");
      return;
    }
    ps_decoder_t* decoder = waitForDecoder();
    if (decoder == nullptr) return;
    decode(decoder);
  }

 private:
  bool stopRequested() const { return state_->stopRequested.load(std::memory_order_acquire); }

  ps_decoder_t* waitForDecoder() {
    while (!stopRequested()) {
      switch (load_->wait(kPollInterval)) {
        case DecoderLoad::State::kReady:
          if (ps_decoder_t* decoder = load_->take()) return decoder;
          [[fallthrough]];
        case DecoderLoad::State::kFailed:
          fail("The speech recognition model could not be loaded.");
          return nullptr;
        case DecoderLoad::State::kLoading:
          if (fellBehind() || lostAudio()) return nullptr;
          // Audio that waits is decoded once the model is ready, not lost to a stall later on.
          if (audio_->front() == nullptr && audioTimedOut()) return nullptr;
          break;
      }
    }
    return nullptr;
  }

  void decode(ps_decoder_t* decoder) {
    auto transcript = std::make_shared<TranscriptDecoder>(decoder);
    if (!transcript->startUtterance()) {
      failDecoding();
      return;
    }
    AudioConverter converter;
    std::vector<int16_t> pcm;
    std::string error;
    while (!stopRequested()) {
      if (fellBehind() || lostAudio()) return;
      // Noted while a backlog is decoded too, so that a stall is timed from the last arrival,
      // not from when the decoder catches up with it.
      noteArrivals();
      if (const AudioBlock* block = audio_->front()) {
        nextBatch_ = nextBatchDue(*block);
        pcm.clear();
        const bool converted = converter.convert(block->samples.data(), block->frameLength,
                                                 block->format, &pcm, &error);
        audio_->pop();
        if (!converted) {
          fail(error);
          return;
        }
        if (!transcript->process(pcm.data(), pcm.size())) {
          failDecoding();
          return;
        }
        if (transcript->finalDue()) {
          deliverFinal(std::move(transcript));
          return;
        }
        reportPartial(resultText(transcript->transcript()));
        continue;
      }
      // Checked before the queue is found empty again, so no audio pushed before endAudio is
      // left behind.
      if (audio_->finished() && audio_->front() == nullptr) {
        pcm.clear();
        converter.flush(&pcm);
        if (!transcript->process(pcm.data(), pcm.size()) || !transcript->finish()) {
          failDecoding();
          return;
        }
        deliverFinal(std::move(transcript));
        return;
      }
      if (audioTimedOut()) return;
      audio_->waitForAudio(untilNextBatch());
    }
  }

  // Until the next batch is due; for audio later than that, a short wait for a batch's length,
  // and the poll interval after that (the audio may have stopped).
  std::chrono::milliseconds untilNextBatch() const {
    const Clock::time_point now = Clock::now();
    if (now < nextBatch_) return std::chrono::ceil<std::chrono::milliseconds>(nextBatch_ - now);
    return now - nextBatch_ < kAudioBatch ? kLateAudioPoll : kPollInterval;
  }

  void noteArrivals() {
    // Time in which this thread did not run (the process was stopped) is not time without
    // audio: what the sound server held meanwhile is still to come.
    const Clock::time_point now = Clock::now();
    if (now - lastLook_ > kStalled) lastArrival_ += now - lastLook_;
    lastLook_ = now;
    const uint64_t arrivals = audio_->arrivals();
    if (arrivals == arrivalsSeen_) return;
    arrivalsSeen_ = arrivals;
    lastArrival_ = now;
  }

  // Fails the task once no audio has arrived for the timeout.
  bool audioTimedOut() {
    noteArrivals();
    if (Clock::now() - lastArrival_ < settings_.noAudioTimeout) return false;
    fail("No audio has arrived for " + describeSeconds(settings_.noAudioTimeout) + " seconds.");
    return true;
  }

  // Fails the task once the queue has had to turn audio away: a transcript with a hole in it
  // would look like a good one.
  bool fellBehind() {
    if (!audio_->overflowed()) return false;
    fail("Recognition fell too far behind the incoming audio.");
    return true;
  }

  bool lostAudio() {
    if (!audio_->audioLost()) return false;
    fail("Audio was lost: the sound server dropped recorded audio that was not read in time.");
    return true;
  }

  // The transcript as a result writes it; formatted again only when its words change.
  const std::string& resultText(const std::string& transcript) {
    if (transcript != words_) {
      words_ = transcript;
      text_ = settings_.englishText ? formatEnglishTranscript(std::string_view(words_)) : words_;
    }
    return text_;
  }

  void reportPartial(const std::string& text) {
    // An utterance can decode to nothing in its last pass; a shown transcript is not taken back.
    if (!reportPartialResults_ || text.empty() || text == reported_) return;
    reported_ = text;
    deliver(SpeechRecognitionResult{text, false});
  }

  // The decoder goes with the final and is freed after its handler: a process that ends on
  // the final (as speechline does) spends nothing on freeing it.
  void deliverFinal(std::shared_ptr<TranscriptDecoder> transcript) {
    SpeechRecognitionResult result{resultText(transcript->transcript()), true};
    deliver(std::move(result), std::nullopt, std::move(transcript));
  }

  void failDecoding() { fail("PocketSphinx failed to decode the audio."); }

  void fail(const std::string& description) { deliver(std::nullopt, description); }

  void deliver(std::optional<SpeechRecognitionResult> result,
               std::optional<std::string> errorDescription = std::nullopt,
               std::shared_ptr<TranscriptDecoder> keptUntilHandled = nullptr) {
    const bool last = errorDescription || (result && result->isFinal);
    dispatchToMainQueue([state = state_, result = std::move(result),
                         errorDescription = std::move(errorDescription), last,
                         keptUntilHandled = std::move(keptUntilHandled)] {
      if (state->done) return;
      state->done = last;
      const SpeechRecognitionError error{errorDescription.value_or("")};
      state->handler(result ? &*result : nullptr, errorDescription ? &error : nullptr);
    });
  }

  std::shared_ptr<RecognitionSession::State> state_;
  const std::shared_ptr<AudioQueue> audio_;
  const std::shared_ptr<DecoderLoad> load_;
  const bool reportPartialResults_;
  const RecognitionSettings settings_;
  uint64_t arrivalsSeen_ = 0;
  Clock::time_point lastArrival_;
  Clock::time_point lastLook_ = Clock::now();
  Clock::time_point nextBatch_;
  std::string words_;
  std::string text_;
  std::string reported_;
};

}  // namespace

std::shared_ptr<RecognitionSession> RecognitionSession::start(
    std::shared_ptr<AudioQueue> audio, std::shared_ptr<DecoderLoad> load, bool reportPartialResults,
    RecognitionSettings settings, SpeechRecognitionResultHandler handler) {
  auto state = std::make_shared<State>();
  state->handler = std::move(handler);
  // Moved into the thread's object, so that the thread's references end with it.
  const bool started = startWorkerThread(
      [state, audio, load = std::move(load), reportPartialResults, settings]() mutable {
        SessionThread(std::move(state), std::move(audio), std::move(load), reportPartialResults,
                      settings)
            .run();
      });
  if (!started) {
    dispatchToMainQueue([state] {
      if (state->done) return;
      state->done = true;
      const SpeechRecognitionError error{"No thread could be started for recognition."};
      state->handler(nullptr, &error);
    });
  }
  return std::make_shared<RecognitionSession>(std::move(state), std::move(audio));
}

void RecognitionSession::cancel() {
  state_->done = true;
  state_->stopRequested.store(true, std::memory_order_release);
  if (audio_) audio_->wake();
}

}  // namespace speechline
