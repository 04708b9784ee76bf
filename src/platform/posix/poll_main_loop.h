#pragma once

#include <string>

namespace speechline {

// The POSIX main loop behind main_queue.h: one poll() on the main thread over two self-pipes,
// one woken by dispatchToMainQueue(), one written by the signal handlers. Each backend's
// runMainLoop() ends in runPollMainLoop().
//
// It also watches file descriptor 1 when that is a pipe, a socket or a terminal: once its
// reader is gone, the process is ended by SIGPIPE, as its next write would have ended it.
// The pipes are made on first use of the main queue; if they cannot be, the process ends at
// once with status 1, writing nothing. Returns only when poll() fails, with strerror's text.
std::string runPollMainLoop();

}  // namespace speechline
