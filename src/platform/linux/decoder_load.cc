#include "platform/linux/decoder_load.h"

#include <pocketsphinx.h>
#include <sphinxbase/err.h>
#include <sphinxbase/ngram_model.h>
#include <unistd.h>

#include "platform/linux/known_words_dictionary.h"
#include "platform/linux/worker_threads.h"

namespace speechline {
namespace {

// The load this thread is building, while the decoder is built.
thread_local DecoderLoad* loadOnThisThread = nullptr;

// The search that the language model drives; any name serves.
constexpr char kSearchName[] = "speech";

// Builds the decoder as ps_init() would from `config` plus the language model, except that the
// dictionary it loads holds only the words the language model knows.
ps_decoder_t* buildDecoder(cmd_ln_t* config, const ModelParts& parts) {
  // Read first, to pick its words out of the dictionary, with the logarithm base ps_init() uses.
  logmath_t* logMath = logmath_init(cmd_ln_float_r(config, "-logbase"), 0, 0);
  ngram_model_t* languageModel =
      ngram_model_read(config, parts.languageModel.c_str(), NGRAM_AUTO, logMath);
  if (languageModel == nullptr) {
    logmath_free(logMath);
    return nullptr;
  }
  const int knownWords = extractKnownWords(parts.dictionary, languageModel);
  if (knownWords >= 0) cmd_ln_set_str_r(config, "-dict", descriptorPath(knownWords).c_str());
  ps_decoder_t* decoder = ps_init(config);
  if (knownWords >= 0) ::close(knownWords);
  if (decoder != nullptr && (ps_set_lm(decoder, kSearchName, languageModel) < 0 ||
                             ps_set_search(decoder, kSearchName) < 0)) {
    ps_free(decoder);
    decoder = nullptr;
  }
  ngram_model_free(languageModel);
  logmath_free(logMath);
  return decoder;
}

}  // namespace

// sphinxbase reports a fatal error through its logging callback and then calls exit(), as it
// does for some malformed model files. During a load that must fail the load, not end the
// process: the trap reports the failure and holds the thread here for good, before exit() is
// reached, while the process goes on and ends its own way.
struct FatalErrorTrap {
  static void onMessage(void*, err_lvl_t level, const char*, ...) {
    DecoderLoad* load = loadOnThisThread;
    if (level != ERR_FATAL || load == nullptr) return;
    load->finish(nullptr);
    leaveWorkerThreads();
    while (true) ::pause();
  }
};

void silencePocketSphinx() {
  static std::once_flag once;
  std::call_once(once, [] {
    err_set_logfp(nullptr);
    // From here on every message goes to the trap, and none is written anywhere.
    err_set_callback(FatalErrorTrap::onMessage, nullptr);
  });
}

std::shared_ptr<DecoderLoad> DecoderLoad::start(const ModelParts& parts) {
  silencePocketSphinx();
  std::shared_ptr<DecoderLoad> load(new DecoderLoad);
  // No thread, no model: the task reports it rather than wait for ever.
  if (!startWorkerThread([load, parts] { build(load, parts); })) load->finish(nullptr);
  return load;
}

DecoderLoad::~DecoderLoad() {
  if (decoder_) ps_free(decoder_);
}

void DecoderLoad::build(const std::shared_ptr<DecoderLoad>& load, const ModelParts& parts) {
  if (!parts.complete()) {
    load->finish(nullptr);
    return;
  }
  loadOnThisThread = load.get();
  cmd_ln_t* config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", parts.acousticModel.c_str(),
                                 "-dict", parts.dictionary.c_str(), nullptr);
  ps_decoder_t* decoder = config ? buildDecoder(config, parts) : nullptr;
  // The decoder keeps its own reference to the configuration.
  if (config) cmd_ln_free_r(config);
  loadOnThisThread = nullptr;
  load->finish(decoder);
}

void DecoderLoad::finish(ps_decoder_t* decoder) {
  std::lock_guard<std::mutex> lock(mutex_);
  decoder_ = decoder;
  state_ = decoder ? State::kReady : State::kFailed;
  done_.notify_all();
}

DecoderLoad::State DecoderLoad::wait(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait_for(lock, timeout, [this] { return state_ != State::kLoading; });
  return state_;
}

ps_decoder_t* DecoderLoad::take() {
  std::lock_guard<std::mutex> lock(mutex_);
  ps_decoder_t* decoder = decoder_;
  decoder_ = nullptr;
  return decoder;
}

}  // namespace speechline
