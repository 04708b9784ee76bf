#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "platform/linux/model_locator.h"

typedef struct ps_decoder_s ps_decoder_t;

namespace speechline {

// Switches PocketSphinx's and sphinxbase's logging off for the whole process, so that nothing
// reaches standard error, and turns a fatal sphinxbase error inside a load into a failed load.
// Idempotent; DecoderLoad::start() calls it before any other PocketSphinx call.
void silencePocketSphinx();

// One PocketSphinx decoder being built on a thread of its own (loading the en-US model takes
// most of a second). Shared by whoever started it and whoever takes the decoder; any thread.
class DecoderLoad {
 public:
  enum class State { kLoading, kReady, kFailed };

  // Starts building a decoder for `parts` at once.
  static std::shared_ptr<DecoderLoad> start(const ModelParts& parts);

  // Frees the decoder if nobody took it.
  ~DecoderLoad();

  DecoderLoad(const DecoderLoad&) = delete;
  DecoderLoad& operator=(const DecoderLoad&) = delete;

  // Waits at most `timeout` for the load to end; returns the state then.
  State wait(std::chrono::milliseconds timeout);

  // Hands the built decoder over, once: the caller frees it with ps_free. Null before the load
  // is ready, after it failed, and after the first call.
  ps_decoder_t* take();

 private:
  DecoderLoad() = default;
  void finish(ps_decoder_t* decoder);
  static void build(const std::shared_ptr<DecoderLoad>& load, const ModelParts& parts);
  friend struct FatalErrorTrap;

  std::mutex mutex_;
  std::condition_variable done_;
  State state_ = State::kLoading;
  ps_decoder_t* decoder_ = nullptr;
};

}  // namespace speechline
