#include "platform/linux/pocketsphinx/recognition_session.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/pocketsphinx/audio_converter.h"
#include "platform/linux/pocketsphinx/recognizer_messages.h"
#include "platform/linux/pocketsphinx/recognizer_process.h"
#include "platform/linux/pocketsphinx/transcript_text.h"
#include "platform/linux/pocketsphinx/worker_threads.h"
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

constexpr char kModelNotLoaded[] = "The speech recognition model could not be loaded.";
// Converted audio held back while the recognizer's socket is full (half a second): the rest
// waits in the queue, which bounds how far the recognizer may fall behind.
constexpr size_t kMaxUnsentSamples = 8000;

// The session's thread: owns what the thread uses, the recognizer process included, and lets
// it go when the thread ends.
class SessionThread {
 public:
  SessionThread(std::shared_ptr<RecognitionSession::State> state, std::shared_ptr<AudioQueue> audio,
                Result<std::shared_ptr<RecognizerProcess>> recognizer, bool reportPartialResults,
                RecognitionSettings settings)
      : state_(std::move(state)),
        audio_(std::move(audio)),
        recognizer_(std::move(recognizer)),
        reportPartialResults_(reportPartialResults),
        settings_(std::move(settings)),
        lastArrival_(Clock::now()),
        loadDeadline_(lastArrival_ + settings_.loadTimeout) {}

  ~SessionThread() {
    // The handler belongs to the main thread: let the last reference go there.
    dispatchToMainQueue([state = std::move(state_)] {});
  }

  void run() {
    if (!recognizer_) {
      fail(recognizer_.failure().description);
      return;
    }
    while (!stopRequested()) {
      // Audio that waits while the model loads is decoded once it is ready, not lost to a
      // stall later on.
      if (audioMissing() || !sendAudio() || !receive()) return;
      if (!ready_ && Clock::now() >= loadDeadline_) {
        fail(kModelNotLoaded);
        return;
      }
      if (audio_->front() == nullptr && !audio_->finished() && !stall_) noticeStall();
      pollfd answers{socket(), static_cast<short>(POLLIN | (unsent() ? POLLOUT : 0)), 0};
      audio_->waitForAudio(untilNextBatch(), &answers);
    }
  }

 private:
  bool stopRequested() const { return state_->stopRequested.load(std::memory_order_acquire); }

  int socket() { return (*recognizer_)->socket(); }
  size_t unsent() const { return converted_.size() * sizeof(int16_t) - sentBytes_; }

  // Converts the audio that waits, as far as the socket can take it, and sends it; once the
  // audio has ended, ends the stream. False when the task is over.
  bool sendAudio() {
    // Noted while a backlog is sent too, so that a stall is timed from the last arrival, not
    // from when the recognizer catches up with it.
    noteArrivals();
    if (Result<> converted = convertWaitingAudio(); !converted) {
      fail(converted.failure().description);
      return false;
    }
    // Checked before the queue is found empty again, so no audio pushed before endAudio is
    // left behind.
    if (!audioEnded_ && (stall_ || (audio_->finished() && audio_->front() == nullptr))) {
      converter_.flush(&converted_);
      audioEnded_ = true;
    }
    sendConverted();
    return true;
  }

  Result<> convertWaitingAudio() {
    while (converted_.size() < kMaxUnsentSamples) {
      const AudioBlock* block = audio_->front();
      if (block == nullptr) break;
      nextBatch_ = nextBatchDue(*block);
      Result<> converted =
          converter_.convert(block->samples.data(), block->frameLength, block->format, &converted_);
      audio_->pop();
      if (!converted) return converted;
    }
    return Done{};
  }

  // As much as the socket takes now; once all is sent and the audio has ended, ends the stream.
  void sendConverted() {
    const char* bytes = reinterpret_cast<const char*>(converted_.data());
    while (unsent() > 0) {
      const ssize_t sent =
          ::send(socket(), bytes + sentBytes_, unsent(), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (sent < 0 && errno == EINTR) continue;
      // A recognizer that has gone is found by receive().
      if (sent <= 0) return;
      sentBytes_ += static_cast<size_t>(sent);
    }
    converted_.clear();
    sentBytes_ = 0;
    if (audioEnded_ && !streamEnded_) {
      ::shutdown(socket(), SHUT_WR);
      streamEnded_ = true;
    }
  }

  // Handles what the recognizer has said. False when the task is over.
  bool receive() {
    char buffer[1 << 16];
    while (true) {
      const ssize_t received = ::recv(socket(), buffer, sizeof buffer, MSG_DONTWAIT);
      if (received < 0 && errno == EINTR) continue;
      if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
      messages_.clear();
      const bool wellFormed =
          received > 0 && reader_.read(buffer, static_cast<size_t>(received), &messages_);
      for (const RecognizerMessage& message : messages_) {
        if (!handle(message)) return false;
      }
      if (!wellFormed) {
        // It ended, crashed, or says what no recognizer says.
        fail(ready_ ? "The speech recognizer stopped unexpectedly." : kModelNotLoaded);
        return false;
      }
    }
  }

  bool handle(const RecognizerMessage& message) {
    switch (message.kind) {
      case RecognizerMessageKind::kReady:
        ready_ = true;
        return true;
      case RecognizerMessageKind::kTranscript:
        reportPartial(resultText(message.text));
        return true;
      case RecognizerMessageKind::kFinal:
        if (stall_) {
          reportPartial(resultText(message.text));
          fail(*stall_);
        } else {
          deliver(SpeechRecognitionResult{resultText(message.text), true});
        }
        return false;
      case RecognizerMessageKind::kFailed:
        fail("PocketSphinx failed to decode the audio.");
        return false;
    }
    return true;
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

  // Once no audio has arrived for the timeout, ends the audio: the recognizer reports the
  // words it still has in hand, and then the task fails.
  void noticeStall() {
    noteArrivals();
    if (Clock::now() - lastArrival_ < settings_.noAudioTimeout) return;
    stall_ = "No audio has arrived for " + describeSeconds(settings_.noAudioTimeout) + " seconds.";
  }

  // Fails the task once the queue has had to turn audio away, or the sound server dropped
  // some: a transcript with a hole in it would look like a good one.
  bool audioMissing() {
    if (audio_->overflowed()) {
      fail("Recognition fell too far behind the incoming audio.");
      return true;
    }
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

  void fail(const std::string& description) { deliver(std::nullopt, description); }

  void deliver(std::optional<SpeechRecognitionResult> result,
               std::optional<std::string> errorDescription = std::nullopt) {
    const bool last = errorDescription || (result && result->isFinal);
    dispatchToMainQueue([state = state_, result = std::move(result),
                         errorDescription = std::move(errorDescription), last] {
      if (state->done) return;
      state->done = last;
      const SpeechRecognitionError error{errorDescription.value_or("")};
      state->handler(result ? &*result : nullptr, errorDescription ? &error : nullptr);
    });
  }

  std::shared_ptr<RecognitionSession::State> state_;
  const std::shared_ptr<AudioQueue> audio_;
  Result<std::shared_ptr<RecognizerProcess>> recognizer_;
  const bool reportPartialResults_;
  const RecognitionSettings settings_;
  AudioConverter converter_;
  std::vector<int16_t> converted_;
  size_t sentBytes_ = 0;
  bool audioEnded_ = false;
  bool streamEnded_ = false;
  RecognizerMessageReader reader_;
  std::vector<RecognizerMessage> messages_;
  bool ready_ = false;
  // Why the task fails once the recognizer has given its last words.
  std::optional<std::string> stall_;
  uint64_t arrivalsSeen_ = 0;
  Clock::time_point lastArrival_;
  Clock::time_point lastLook_ = Clock::now();
  const Clock::time_point loadDeadline_;
  Clock::time_point nextBatch_;
  std::string words_;
  std::string text_;
  std::string reported_;
};

}  // namespace

std::shared_ptr<RecognitionSession> RecognitionSession::start(
    std::shared_ptr<AudioQueue> audio, const ModelParts& parts, bool reportPartialResults,
    RecognitionSettings settings, SpeechRecognitionResultHandler handler) {
  auto state = std::make_shared<State>();
  state->handler = std::move(handler);
  const std::string program =
      settings.recognizerProgram.empty() ? locateRecognizerProgram() : settings.recognizerProgram;
  Result<std::shared_ptr<RecognizerProcess>> recognizer =
      audio ? RecognizerProcess::start(program, parts)
            : Failure{"The recognition request is already in use by another task."};
  // Moved into the thread's object, so that the thread's references end with it.
  const Result<> started =
      startWorkerThread([state, audio, recognizer = std::move(recognizer), reportPartialResults,
                         settings = std::move(settings)]() mutable {
        SessionThread(std::move(state), std::move(audio), std::move(recognizer),
                      reportPartialResults, std::move(settings))
            .run();
      });
  if (!started) {
    dispatchToMainQueue([state, error = SpeechRecognitionError{started.failure().description}] {
      if (state->done) return;
      state->done = true;
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
