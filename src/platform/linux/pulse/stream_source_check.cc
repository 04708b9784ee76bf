#include "platform/linux/pulse/stream_source_check.h"

#include "platform/linux/pulse/pulse_connection.h"

namespace speechline {

void StreamSourceCheck::start(pa_stream* stream, pa_threaded_mainloop* wake) {
  cancel();
  wake_ = wake;
  operation_ = pa_context_get_source_info_by_index(
      pa_stream_get_context(stream), pa_stream_get_device_index(stream),
      [](pa_context*, const pa_source_info* info, int eol, void* userdata) {
        auto* check = static_cast<StreamSourceCheck*>(userdata);
        if (eol == 0) {
          if (info) check->onMicrophone_ = isMicrophone(*info);
          return;
        }
        // libpulse holds its own reference while it calls back.
        pa_operation_unref(check->operation_);
        check->operation_ = nullptr;
        pa_threaded_mainloop_signal(check->wake_, 0);
      },
      this);
}

void StreamSourceCheck::cancel() {
  onMicrophone_ = false;
  if (!operation_) return;
  pa_operation_cancel(operation_);
  pa_operation_unref(operation_);
  operation_ = nullptr;
}

bool StreamSourceCheck::pending() const {
  return operation_ && pa_operation_get_state(operation_) == PA_OPERATION_RUNNING;
}

}  // namespace speechline
