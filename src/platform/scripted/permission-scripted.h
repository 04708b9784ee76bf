#pragma once

#include <chrono>
#include <functional>
#include <thread>

#include "platform/scripted/script.h"

namespace speechline::scripted {

// Calls `handler` as the script says: inside this call, or later from a thread of its own.
template <typename Answer>
void answerPermission(const PermissionAnswer& answer, std::function<void(Answer)> handler) {
  const auto value = static_cast<Answer>(answer.value);
  if (!answer.fromOtherThread) {
    handler(value);
    return;
  }
  std::thread([handler = std::move(handler), value, delay = answer.delayMilliseconds] {
    std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    handler(value);
  }).detach();
}

}  // namespace speechline::scripted
