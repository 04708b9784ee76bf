#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include "platform/standard_output.h"

namespace speechline {

void endAsWriteWould() {
  ::signal(SIGPIPE, SIG_DFL);
  sigset_t pipeSignal;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  ::pthread_sigmask(SIG_UNBLOCK, &pipeSignal, nullptr);
  ::raise(SIGPIPE);
  ::_exit(1);
}

void writeStandardOutput(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(STDOUT_FILENO, bytes.data(), bytes.size());
    if (written >= 0) {
      bytes.remove_prefix(static_cast<size_t>(written));
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      // A parent may hand us a non-blocking pipe: wait for room rather than tear the line.
      pollfd out{STDOUT_FILENO, POLLOUT, 0};
      ::poll(&out, 1, -1);
    } else if (errno == EPIPE) {
      // SIGPIPE was ignored or blocked by whoever started us.
      endAsWriteWould();
    } else if (errno != EINTR) {
      // The event is lost (a full disk, a broken device): no later event can be trusted to
      // arrive, and exiting 0 would report success. Nothing is torn down, nothing more written.
      ::_exit(1);
    }
  }
}

}  // namespace speechline
