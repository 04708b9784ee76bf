// libFuzzer entry: every byte string must encode to one valid line that reads back.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "encoder_property.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string violation =
      speechline::encoderPropertyViolation({reinterpret_cast<const char*>(data), size});
  if (!violation.empty()) {
    std::fprintf(stderr, "%s\n", violation.c_str());
    std::abort();
  }
  return 0;
}
