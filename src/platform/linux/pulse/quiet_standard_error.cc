#include "platform/linux/pulse/quiet_standard_error.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>

#ifdef SPEECHLINE_SANITIZED
#include <sanitizer/common_interface_defs.h>
#endif

namespace speechline {

void quietStandardError() {
#ifdef SPEECHLINE_SANITIZED
  const int original = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
  if (original >= 0)
    __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<intptr_t>(original)));
#endif
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null < 0) return;
  if (null != STDERR_FILENO) {
    ::dup2(null, STDERR_FILENO);
    ::close(null);
  }
}

}  // namespace speechline
