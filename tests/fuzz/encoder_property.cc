#include "encoder_property.h"

#include <cstdint>
#include <nlohmann/json.hpp>

#include "events/json_line.h"

namespace speechline {
namespace {

// Well-formed UTF-8 byte sequences, as the Unicode standard tables them: the lead byte's range,
// the second byte's range, and the length. Later bytes are always 80..BF.
struct WellFormedRow {
  uint8_t leadLow, leadHigh, secondLow, secondHigh;
  size_t length;
};
constexpr WellFormedRow kWellFormed[] = {
    {0x00, 0x7F, 0x00, 0x00, 1}, {0xC2, 0xDF, 0x80, 0xBF, 2}, {0xE0, 0xE0, 0xA0, 0xBF, 3},
    {0xE1, 0xEC, 0x80, 0xBF, 3}, {0xED, 0xED, 0x80, 0x9F, 3}, {0xEE, 0xEF, 0x80, 0xBF, 3},
    {0xF0, 0xF0, 0x90, 0xBF, 4}, {0xF1, 0xF3, 0x80, 0xBF, 4}, {0xF4, 0xF4, 0x80, 0x8F, 4},
};

// `text` with every maximal invalid subpart replaced by U+FFFD.
std::string withReplacements(std::string_view text) {
  std::string out;
  size_t at = 0;
  while (at < text.size()) {
    const auto lead = static_cast<uint8_t>(text[at]);
    const WellFormedRow* row = nullptr;
    for (const WellFormedRow& candidate : kWellFormed) {
      if (lead >= candidate.leadLow && lead <= candidate.leadHigh) row = &candidate;
    }
    size_t matched = 1;
    while (row && matched < row->length && at + matched < text.size()) {
      const auto b = static_cast<uint8_t>(text[at + matched]);
      const bool inRange =
          matched == 1 ? b >= row->secondLow && b <= row->secondHigh : b >= 0x80 && b <= 0xBF;
      if (!inRange) break;
      ++matched;
    }
    if (row && matched == row->length) {
      out.append(text.substr(at, matched));
    } else {
      out.append("\xEF\xBF\xBD");
    }
    at += matched;
  }
  return out;
}

}  // namespace

std::string encoderPropertyViolation(std::string_view text) {
  const std::string line =
      encodeEventLine(Event{{{"type", "result"}, {"text", std::string(text)}}});
  if (line.empty() || line.back() != '\n') return "the line does not end in a line feed";
  if (line.find('\n') != line.size() - 1) return "the event spans more than one line";
  if (line.find('\r') != std::string::npos) return "the line holds a carriage return";
  nlohmann::json parsed;
  try {
    // Rejects invalid UTF-8 as well as invalid JSON.
    parsed = nlohmann::json::parse(line);
  } catch (const nlohmann::json::exception& e) {
    return std::string("not valid JSON in UTF-8: ") + e.what();
  }
  if (parsed.size() != 2 || parsed["type"] != "result") return "members changed";
  if (parsed["text"] != withReplacements(text)) return "the text does not read back";
  return "";
}

}  // namespace speechline
