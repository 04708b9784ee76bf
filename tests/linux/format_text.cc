// Formats each line of lower-case words read on standard input as the recognizer formats an
// English transcript, one line out per line in, so that scripts compare texts made the same way.
#include <iostream>
#include <string>

#include "platform/linux/pocketsphinx/transcript_text.h"

int main() {
  for (std::string line; std::getline(std::cin, line);) {
    std::cout << speechline::formatEnglishTranscript(std::string_view(line)) << '\n';
  }
  return std::cout.flush() ? 0 : 1;
}
