#pragma once

#include <string>

#include "events/event.h"

namespace speechline {

// Writes the event as one line on standard output; the line is in the pipe when this returns.
// Never fails visibly and never ends the process (but a closed pipe raises SIGPIPE).
// Callers are serialised on the main thread; nothing here is locked.
void emit(const Event& event);

// Writes {"type":"error","code":code,"message":message}. The caller decides what follows.
void emitError(const std::string& code, const std::string& message);

}  // namespace speechline
