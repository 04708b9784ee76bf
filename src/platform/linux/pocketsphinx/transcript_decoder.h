#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/linux/pocketsphinx/recognizer_messages.h"
#include "platform/linux/result.h"

typedef struct ps_decoder_s ps_decoder_t;

namespace speechline {

// How long after the last frame PocketSphinx's voice-activity detector counted as speech a
// non-empty transcript becomes final. The detector closes an utterance 0.5 s after speech, so
// the utterance's last pass is done well before then.
inline constexpr double kFinalSilenceSeconds = 1.5;

// Decodes one stream of mono audio at kRecognizerSampleRate into one running transcript: the
// utterances the voice-activity detector has closed, joined by single spaces, then the hypothesis
// of the one in progress. Times are audio times (samples decoded), not wall-clock times. Used by
// one thread at a time.
class TranscriptDecoder {
 public:
  // Takes ownership of a fresh `decoder`.
  explicit TranscriptDecoder(ps_decoder_t* decoder);
  ~TranscriptDecoder();

  TranscriptDecoder(const TranscriptDecoder&) = delete;
  TranscriptDecoder& operator=(const TranscriptDecoder&) = delete;

  // Each fails when the decoder refuses the call; the decoder is unusable then.
  // startUtterance() opens the first utterance; process() opens each later one itself.
  Result<> startUtterance();
  Result<> process(const int16_t* samples, size_t count);
  // The audio has ended: closes the utterance in progress.
  Result<> finish();

  const std::string& transcript() const { return transcript_; }

  // True once the transcript is non-empty and kFinalSilenceSeconds of audio have been decoded
  // since the detector last counted a frame as speech.
  bool finalDue() const;

 private:
  Result<> closeUtterance();
  void updateTranscript(const char* hypothesis);

  ps_decoder_t* const decoder_;
  // How long the detector stays in speech after the last speech frame.
  int64_t hangoverSamples_ = 0;
  bool utteranceStarted_ = false;
  bool utteranceHasSpeech_ = false;
  bool inSpeech_ = false;
  int64_t samplesDecoded_ = 0;
  // Where the last frame counted as speech ended, once the detector has closed its utterance.
  std::optional<int64_t> lastSpeechEnd_;
  std::string closedText_;
  std::string transcript_;
};

}  // namespace speechline
