#include "events/json_line.h"

#include <cstdint>

namespace speechline {
namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

// Length of the well-formed UTF-8 sequence at the start of `text`, or the length of its maximal
// invalid subpart (at least 1) negated.
int utf8SequenceLength(std::string_view text) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(0);
  if (lead < 0x80) return 1;
  int length;
  uint8_t low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return -1;
  }
  for (int i = 1; i < length; ++i) {
    if (static_cast<size_t>(i) >= text.size()) return -i;
    const uint8_t b = byte(i);
    const bool ok = i == 1 ? (b >= low && b <= high) : (b >= 0x80 && b <= 0xBF);
    if (!ok) return -i;
  }
  return length;
}

void appendControlEscape(char c, std::string* out) {
  static constexpr char kHex[] = "0123456789abcdef";
  // The controls with a short escape, and the letter of each.
  static constexpr std::string_view kShort = "\b\f\n\r\t", kLetters = "bfnrt";
  if (const size_t shortForm = kShort.find(c); shortForm != std::string_view::npos) {
    out->push_back('\\');
    out->push_back(kLetters[shortForm]);
    return;
  }
  const auto value = static_cast<uint8_t>(c);
  out->append("\\u00");
  out->push_back(kHex[value >> 4]);
  out->push_back(kHex[value & 0xF]);
}

}  // namespace

void appendJsonString(std::string_view text, std::string* out) {
  out->push_back('"');
  while (!text.empty()) {
    const char c = text.front();
    const int length = utf8SequenceLength(text);
    if (length < 0) {
      out->append(kReplacementCharacter);
      text.remove_prefix(-length);
      continue;
    }
    if (c == '"' || c == '\\' || c == '/') {
      out->push_back('\\');
      out->push_back(c);
    } else if (static_cast<uint8_t>(c) < 0x20) {
      appendControlEscape(c, out);
    } else {
      out->append(text.substr(0, length));
    }
    text.remove_prefix(length);
  }
  out->push_back('"');
}

std::string encodeEventLine(const Event& event) {
  std::string line = "{";
  for (const auto& [key, value] : event.members) {
    if (line.size() > 1) line.push_back(',');
    appendJsonString(key, &line);
    line.push_back(':');
    if (const auto* text = std::get_if<std::string>(&value)) {
      appendJsonString(*text, &line);
    } else {
      line.append(std::get<bool>(value) ? "true" : "false");
    }
  }
  line.append("}\n");
  return line;
}

}  // namespace speechline
