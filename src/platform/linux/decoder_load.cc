#include "platform/linux/decoder_load.h"

#include <pocketsphinx.h>
#include <sphinxbase/err.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/linux/worker_threads.h"

namespace speechline {
namespace {

using Clock = std::chrono::steady_clock;

// The load this thread is building, while cmd_ln_init and ps_init run.
thread_local DecoderLoad* loadOnThisThread = nullptr;

}  // namespace

void silencePocketSphinx() {
  static std::once_flag once;
  std::call_once(once, [] { err_set_logfp(nullptr); });
}

std::shared_ptr<DecoderLoad> DecoderLoad::start(const ModelParts& parts) {
  silencePocketSphinx();
  std::shared_ptr<DecoderLoad> load(new DecoderLoad);
  startWorkerThread([load, parts] { build(load, parts); });
  return load;
}

DecoderLoad::~DecoderLoad() {
  if (decoder_) ps_free(decoder_);
}

void DecoderLoad::build(const std::shared_ptr<DecoderLoad>& load, const ModelParts& parts) {
  const Clock::time_point started = Clock::now();
  if (!parts.complete()) {
    load->finish(nullptr, {});
    return;
  }
  // Registered anew for each load so that it runs before any other exit handler.
  std::atexit(onExitDuringLoad);
  loadOnThisThread = load.get();
  cmd_ln_t* config =
      cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", parts.acousticModel.c_str(), "-lm",
                  parts.languageModel.c_str(), "-dict", parts.dictionary.c_str(), nullptr);
  ps_decoder_t* decoder = config ? ps_init(config) : nullptr;
  // The decoder keeps its own reference to the configuration.
  if (config) cmd_ln_free_r(config);
  loadOnThisThread = nullptr;
  load->finish(decoder, Clock::now() - started);
}

void DecoderLoad::onExitDuringLoad() {
  DecoderLoad* load = loadOnThisThread;
  if (!load) return;
  // sphinxbase calls exit() on some malformed model files. That must fail the load, not end
  // the process: report the failure and hold this thread here for good, while the process
  // goes on and ends its own way.
  load->finish(nullptr, {});
  leaveWorkerThreads();
  while (true) ::pause();
}

void DecoderLoad::finish(ps_decoder_t* decoder, std::chrono::duration<double> loadTime) {
  std::lock_guard<std::mutex> lock(mutex_);
  decoder_ = decoder;
  loadTime_ = loadTime;
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

std::chrono::duration<double> DecoderLoad::loadTime() {
  std::lock_guard<std::mutex> lock(mutex_);
  return loadTime_;
}

}  // namespace speechline
