#include <errno.h>
#include <poll.h>
#include <unistd.h>

#include "platform/standard_output.h"

namespace speechline {

void writeStandardOutput(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(STDOUT_FILENO, bytes.data(), bytes.size());
    if (written >= 0) {
      bytes.remove_prefix(static_cast<size_t>(written));
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      // A parent may hand us a non-blocking pipe: wait for room rather than tear the line.
      pollfd out{STDOUT_FILENO, POLLOUT, 0};
      ::poll(&out, 1, -1);
    } else if (errno != EINTR) {
      return;
    }
  }
}

}  // namespace speechline
