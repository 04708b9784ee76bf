#pragma once

#include <string>

namespace speechline {

// The POSIX main loop behind main_loop.h: one ppoll() on the main thread over two self-pipes,
// one woken by dispatchToMainQueue(), one written by the signal handlers. The signals of
// sources are blocked on the main thread from resume() on and taken only inside that wait, so
// their handler never interrupts other work; a signal that comes during start-up waits for the
// loop. A thread made on the main thread after that inherits them blocked and never takes them;
// a process started from it inherits them blocked too, and must unblock them. The Linux and the
// scripted backends' runMainLoop() end in runPollMainLoop(); the macOS backend runs the main run
// loop instead.
//
// It also watches file descriptor 1 when that is a pipe, a socket or a terminal: once its
// reader is gone, the process is ended by SIGPIPE, as its next write would have ended it.
// The pipes are made on first use of the main queue; if they cannot be, the process ends at
// once with status 1, writing nothing. Returns only when ppoll() fails, with strerror's text.
std::string runPollMainLoop();

}  // namespace speechline
