#include "platform/linux/pocketsphinx/transcript_decoder.h"

#include <pocketsphinx.h>

#include <algorithm>

namespace speechline {
namespace {

// 20 ms: the detector's state is read after each piece, so an utterance is closed, and the
// silence after it timed, to within this much audio.
constexpr size_t kPieceSamples = 320;

void appendWords(std::string* text, const char* words) {
  if (words == nullptr || *words == '\0') return;
  if (!text->empty()) text->push_back(' ');
  text->append(words);
}

// PocketSphinx says why only in its log, which is off.
Failure refused() { return {"PocketSphinx failed to decode the audio."}; }

}  // namespace

TranscriptDecoder::TranscriptDecoder(ps_decoder_t* decoder) : decoder_(decoder) {
  cmd_ln_t* config = ps_get_config(decoder_);
  const long frameRate = cmd_ln_int_r(config, "-frate");
  const long hangoverFrames = cmd_ln_int_r(config, "-vad_postspeech");
  if (frameRate > 0) hangoverSamples_ = hangoverFrames * kRecognizerSampleRate / frameRate;
}

TranscriptDecoder::~TranscriptDecoder() { ps_free(decoder_); }

Result<> TranscriptDecoder::startUtterance() {
  utteranceHasSpeech_ = false;
  utteranceStarted_ = ps_start_utt(decoder_) >= 0;
  if (!utteranceStarted_) return refused();
  return Done{};
}

Result<> TranscriptDecoder::process(const int16_t* samples, size_t count) {
  if (!utteranceStarted_) return refused();
  for (size_t offset = 0; offset < count;) {
    const size_t piece = std::min(kPieceSamples, count - offset);
    if (ps_process_raw(decoder_, samples + offset, piece, FALSE, FALSE) < 0) return refused();
    offset += piece;
    samplesDecoded_ += static_cast<int64_t>(piece);
    const bool speech = ps_get_in_speech(decoder_) != 0;
    if (speech) {
      utteranceHasSpeech_ = true;
      lastSpeechEnd_.reset();
    } else if (inSpeech_) {
      // The detector left speech after its hangover: the utterance is over.
      if (Result<> closed = closeUtterance(); !closed) return closed;
      if (Result<> started = startUtterance(); !started) return started;
      lastSpeechEnd_ = samplesDecoded_ - hangoverSamples_;
    }
    inSpeech_ = speech;
  }
  // Until the detector hears speech, no frame of the new utterance has been searched.
  updateTranscript(utteranceHasSpeech_ ? ps_get_hyp(decoder_, nullptr) : nullptr);
  return Done{};
}

Result<> TranscriptDecoder::finish() {
  if (!utteranceStarted_) return refused();
  inSpeech_ = false;
  return closeUtterance();
}

bool TranscriptDecoder::finalDue() const {
  return !transcript_.empty() && !inSpeech_ && lastSpeechEnd_ &&
         samplesDecoded_ - *lastSpeechEnd_ >=
             static_cast<int64_t>(kFinalSilenceSeconds * kRecognizerSampleRate);
}

Result<> TranscriptDecoder::closeUtterance() {
  utteranceStarted_ = false;
  if (ps_end_utt(decoder_) < 0) return refused();
  appendWords(&closedText_, ps_get_hyp(decoder_, nullptr));
  updateTranscript(nullptr);
  return Done{};
}

void TranscriptDecoder::updateTranscript(const char* hypothesis) {
  transcript_ = closedText_;
  appendWords(&transcript_, hypothesis);
}

}  // namespace speechline
