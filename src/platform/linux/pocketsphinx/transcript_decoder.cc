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

}  // namespace

TranscriptDecoder::TranscriptDecoder(ps_decoder_t* decoder) : decoder_(decoder) {
  cmd_ln_t* config = ps_get_config(decoder_);
  const long frameRate = cmd_ln_int_r(config, "-frate");
  const long hangoverFrames = cmd_ln_int_r(config, "-vad_postspeech");
  if (frameRate > 0) hangoverSamples_ = hangoverFrames * kRecognizerSampleRate / frameRate;
}

TranscriptDecoder::~TranscriptDecoder() { ps_free(decoder_); }

bool TranscriptDecoder::startUtterance() {
  utteranceHasSpeech_ = false;
  utteranceStarted_ = ps_start_utt(decoder_) >= 0;
  return utteranceStarted_;
}

bool TranscriptDecoder::process(const int16_t* samples, size_t count) {
  if (!utteranceStarted_) return false;
  for (size_t offset = 0; offset < count;) {
    const size_t piece = std::min(kPieceSamples, count - offset);
    if (ps_process_raw(decoder_, samples + offset, piece, FALSE, FALSE) < 0) return false;
    offset += piece;
    samplesDecoded_ += static_cast<int64_t>(piece);
    const bool speech = ps_get_in_speech(decoder_) != 0;
    if (speech) {
      utteranceHasSpeech_ = true;
      lastSpeechEnd_.reset();
    } else if (inSpeech_) {
      // The detector left speech after its hangover: the utterance is over.
      if (!closeUtterance() || !startUtterance()) return false;
      lastSpeechEnd_ = samplesDecoded_ - hangoverSamples_;
    }
    inSpeech_ = speech;
  }
  // Until the detector hears speech, no frame of the new utterance has been searched.
  updateTranscript(utteranceHasSpeech_ ? ps_get_hyp(decoder_, nullptr) : nullptr);
  return true;
}

bool TranscriptDecoder::finish() {
  if (!utteranceStarted_) return false;
  inSpeech_ = false;
  return closeUtterance();
}

bool TranscriptDecoder::finalDue() const {
  return !transcript_.empty() && !inSpeech_ && lastSpeechEnd_ &&
         samplesDecoded_ - *lastSpeechEnd_ >=
             static_cast<int64_t>(kFinalSilenceSeconds * kRecognizerSampleRate);
}

bool TranscriptDecoder::closeUtterance() {
  utteranceStarted_ = false;
  if (ps_end_utt(decoder_) < 0) return false;
  appendWords(&closedText_, ps_get_hyp(decoder_, nullptr));
  updateTranscript(nullptr);
  return true;
}

void TranscriptDecoder::updateTranscript(const char* hypothesis) {
  transcript_ = closedText_;
  appendWords(&transcript_, hypothesis);
}

}  // namespace speechline
