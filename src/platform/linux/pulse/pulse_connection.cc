#include "platform/linux/pulse/pulse_connection.h"

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace speechline {
namespace {

constexpr char kMonitorFound[] =
    "The source to record from is the speakers' monitor, not a microphone.";

// The PA_ERR_* `code`, in libpulse's words.
Failure pulseFailure(int code) { return {pa_strerror(code), code}; }

void signalLoop(pa_threaded_mainloop* mainloop) { pa_threaded_mainloop_signal(mainloop, 0); }

// Set by the first callback that the loop's thread runs. Shared with that callback, which may
// come after the wait for it has given up.
struct LoopAnswer {
  std::mutex mutex;
  std::condition_variable changed;
  bool running = false;
};

}  // namespace

bool isMicrophone(const pa_source_info& source) {
  return source.monitor_of_sink == PA_INVALID_INDEX;
}

Failure contextFailure(pa_context* context, int fallback) {
  const int error = pa_context_errno(context);
  return pulseFailure(error == PA_OK ? fallback : error);
}

PulseConnection::Lock::Lock(const PulseConnection& connection) : mainloop_(connection.mainloop_) {
  if (mainloop_) pa_threaded_mainloop_lock(mainloop_);
}

PulseConnection::Lock::~Lock() {
  if (mainloop_) pa_threaded_mainloop_unlock(mainloop_);
}

PulseConnection::~PulseConnection() {
  if (!mainloop_) return;
  pa_threaded_mainloop_lock(mainloop_);
  disconnect();
  pa_threaded_mainloop_unlock(mainloop_);
  pa_threaded_mainloop_stop(mainloop_);
  pa_threaded_mainloop_free(mainloop_);
}

void PulseConnection::startLoop(pa_usec_t deadline) {
  if (mainloop_) return;
  pa_threaded_mainloop* mainloop = pa_threaded_mainloop_new();
  if (!mainloop) return;
  pa_threaded_mainloop_set_name(mainloop, "speechline-pulse");
  if (pa_threaded_mainloop_start(mainloop) < 0) {
    pa_threaded_mainloop_free(mainloop);
    return;
  }
  // libpulse takes pthread_create()'s error number for success, so a loop may have no thread:
  // a callback run on it tells, and the wait for it uses no timer of the loop's own.
  auto answer = std::make_shared<LoopAnswer>();
  pa_threaded_mainloop_lock(mainloop);
  pa_threaded_mainloop_once_unlocked(
      mainloop,
      [](pa_threaded_mainloop*, void* userdata) {
        const std::unique_ptr<std::shared_ptr<LoopAnswer>> answer(
            static_cast<std::shared_ptr<LoopAnswer>*>(userdata));
        std::lock_guard<std::mutex> lock((*answer)->mutex);
        (*answer)->running = true;
        (*answer)->changed.notify_all();
      },
      new std::shared_ptr<LoopAnswer>(answer));
  pa_threaded_mainloop_unlock(mainloop);
  std::unique_lock<std::mutex> lock(answer->mutex);
  const pa_usec_t now = pa_rtclock_now();
  const auto left = std::chrono::microseconds(deadline > now ? deadline - now : 0);
  // A loop without its thread is left as it is: stopping or freeing it would join a thread
  // that does not exist. The next call tries a new one.
  if (answer->changed.wait_for(lock, left, [&] { return answer->running; })) mainloop_ = mainloop;
}

Result<> PulseConnection::connect(pa_usec_t deadline) {
  if (!mainloop_) return pulseFailure(PA_ERR_INTERNAL);
  if (context_ && !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) disconnect();
  if (!context_) {
    context_ = pa_context_new(pa_threaded_mainloop_get_api(mainloop_), "speechline");
    if (!context_) return pulseFailure(PA_ERR_INTERNAL);
    pa_context_set_state_callback(
        context_,
        [](pa_context*, void* mainloop) {
          signalLoop(static_cast<pa_threaded_mainloop*>(mainloop));
        },
        mainloop_);
    // Never start a server of our own: no server means no microphone.
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
      const Failure failure = contextFailure(context_, PA_ERR_CONNECTIONREFUSED);
      disconnect();
      return failure;
    }
  }
  const Result<> settled = waitUntil(
      [this] {
        const pa_context_state_t state = pa_context_get_state(context_);
        return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
      },
      deadline);
  if (pa_context_get_state(context_) == PA_CONTEXT_READY) return Done{};
  const Failure failure =
      settled ? contextFailure(context_, PA_ERR_CONNECTIONREFUSED) : settled.failure();
  disconnect();
  return failure;
}

Result<PulseSourceInfo> PulseConnection::routedSource(pa_usec_t deadline) {
  if (Result<> connected = connect(deadline); !connected) return connected.failure();
  // Even an empty value counts: libpulse then asks for a source named "", which is refused.
  const char* named = std::getenv("PULSE_SOURCE");
  struct Query {
    pa_threaded_mainloop* mainloop;
    bool ended;
    std::optional<Result<PulseSourceInfo>> source;
  } query{mainloop_, false, std::nullopt};
  pa_operation* operation = pa_context_get_source_info_by_name(
      context_, named ? named : "@DEFAULT_SOURCE@",
      [](pa_context*, const pa_source_info* info, int eol, void* userdata) {
        auto* query = static_cast<Query*>(userdata);
        if (eol == 0 && info) {
          query->source = isMicrophone(*info)
                              ? Result(PulseSourceInfo{info->sample_spec, info->channel_map})
                              : Failure{kMonitorFound, PA_ERR_NOENTITY};
          return;
        }
        query->ended = true;
        signalLoop(query->mainloop);
      },
      &query);
  if (!operation) return contextFailure(context_, PA_ERR_INTERNAL);
  const Result<> settled = waitUntil(
      [&] { return query.ended || pa_operation_get_state(operation) != PA_OPERATION_RUNNING; },
      deadline);
  // The callback must never reach `query` once this returns.
  if (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) pa_operation_cancel(operation);
  pa_operation_unref(operation);
  if (!settled) {
    disconnect();
    return settled.failure();
  }
  if (!query.source) return contextFailure(context_, PA_ERR_NOENTITY);
  return std::move(*query.source);
}

Result<> PulseConnection::waitUntil(const std::function<bool()>& done, pa_usec_t deadline) {
  if (done()) return Done{};
  struct Timer {
    pa_threaded_mainloop* mainloop;
    bool fired;
  } timer{mainloop_, false};
  pa_time_event* event = pa_context_rttime_new(
      context_, deadline,
      [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
        auto* timer = static_cast<Timer*>(userdata);
        timer->fired = true;
        signalLoop(timer->mainloop);
      },
      &timer);
  // Without a timer the wait could be endless.
  if (!event) return pulseFailure(PA_ERR_TIMEOUT);
  bool finished = false;
  while (!(finished = done()) && !timer.fired) pa_threaded_mainloop_wait(mainloop_);
  pa_threaded_mainloop_get_api(mainloop_)->time_free(event);
  if (finished) return Done{};
  return pulseFailure(PA_ERR_TIMEOUT);
}

void PulseConnection::disconnect() {
  if (!context_) return;
  pa_context_set_state_callback(context_, nullptr, nullptr);
  pa_context_disconnect(context_);
  pa_context_unref(context_);
  context_ = nullptr;
}

}  // namespace speechline
