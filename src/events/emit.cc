#include "events/emit.h"

#include "events/json_line.h"
#include "platform/standard_output.h"

namespace speechline {

void emit(const Event& event) { writeStandardOutput(encodeEventLine(event)); }

void emitError(const std::string& code, const std::string& message) {
  emit(Event{{{"type", "error"}, {"code", code}, {"message", message}}});
}

}  // namespace speechline
