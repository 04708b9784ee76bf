#include "platform/linux/pocketsphinx/pocketsphinx_decoder.h"

#include <pocketsphinx.h>
#include <sphinxbase/err.h>
#include <sphinxbase/ngram_model.h>
#include <unistd.h>

#include "platform/linux/pocketsphinx/known_words_dictionary.h"

namespace speechline {
namespace {

// The search that the language model drives; any name serves.
constexpr char kSearchName[] = "speech";

void ignoreMessage(void*, err_lvl_t, const char*, ...) {}

// Whether the decoder can pronounce some word of the language model (its markers such as
// "<s>" aside).
bool knowsSomeWord(ps_decoder_t* decoder, ngram_model_t* languageModel) {
  const uint32 unigrams = ngram_model_get_counts(languageModel)[0];
  for (uint32 id = 0; id < unigrams; ++id) {
    const char* word = ngram_word(languageModel, static_cast<int32>(id));
    if (word == nullptr || word[0] == '<') continue;
    if (char* pronunciation = ps_lookup_word(decoder, word)) {
      ckd_free(pronunciation);
      return true;
    }
  }
  return false;
}

ps_decoder_t* buildDecoder(cmd_ln_t* config, const ModelParts& parts) {
  // Read first, to pick its words out of the dictionary, with the logarithm base ps_init() uses.
  logmath_t* logMath = logmath_init(cmd_ln_float_r(config, "-logbase"), 0, 0);
  ngram_model_t* languageModel =
      ngram_model_read(config, parts.languageModel.c_str(), NGRAM_AUTO, logMath);
  if (languageModel == nullptr) {
    logmath_free(logMath);
    return nullptr;
  }
  const Result<int> knownWords = extractKnownWords(parts.dictionary, languageModel);
  if (knownWords) cmd_ln_set_str_r(config, "-dict", descriptorPath(*knownWords).c_str());
  ps_decoder_t* decoder = ps_init(config);
  if (knownWords) ::close(*knownWords);
  if (decoder != nullptr && (!knowsSomeWord(decoder, languageModel) ||
                             ps_set_lm(decoder, kSearchName, languageModel) < 0 ||
                             ps_set_search(decoder, kSearchName) < 0)) {
    ps_free(decoder);
    decoder = nullptr;
  }
  ngram_model_free(languageModel);
  logmath_free(logMath);
  return decoder;
}

}  // namespace

void silencePocketSphinx() {
  err_set_logfp(nullptr);
  err_set_callback(ignoreMessage, nullptr);
}

ps_decoder_t* buildPocketSphinxDecoder(const ModelParts& parts) {
  // Checked again here: the files may have changed since speechline found them, and opening
  // anything but a regular file (a FIFO) would wait for ever.
  if (!parts.complete() || !isAcousticModel(parts.acousticModel)) return nullptr;
  // Read, not mapped: a file cut short fails the load instead of crashing the decoder when it
  // reaches past the end.
  cmd_ln_t* config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", parts.acousticModel.c_str(),
                                 "-dict", parts.dictionary.c_str(), "-mmap", "no", nullptr);
  if (config == nullptr) return nullptr;
  ps_decoder_t* decoder = buildDecoder(config, parts);
  // The decoder keeps its own reference to the configuration.
  cmd_ln_free_r(config);
  return decoder;
}

}  // namespace speechline
