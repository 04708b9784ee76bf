#include "platform/linux/pocketsphinx/known_words_dictionary.h"

#include <errno.h>
#include <sphinxbase/ngram_model.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string_view>

namespace speechline {
namespace {

Failure systemFailure(int error) { return {std::strerror(error), error}; }

Result<std::string> readWhole(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rbe");
  if (file == nullptr) return systemFailure(errno);
  std::string text;
  char chunk[1 << 16];
  size_t count;
  while ((count = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, count);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) return systemFailure(EIO);
  return text;
}

// Into a new in-memory file, whose descriptor it returns.
Result<int> writeToMemory(std::string_view data) {
  const int descriptor = ::memfd_create("speechline-dictionary", MFD_CLOEXEC);
  if (descriptor < 0) return systemFailure(errno);
  while (!data.empty()) {
    const ssize_t written = ::write(descriptor, data.data(), data.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      const int error = written < 0 ? errno : ENOSPC;
      ::close(descriptor);
      return systemFailure(error);
    }
    data.remove_prefix(static_cast<size_t>(written));
  }
  return descriptor;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The word a dictionary line gives a pronunciation of, as the decoder reads it: the first
// field, with an alternate's "(2)" taken off.
std::string_view headWord(std::string_view line) {
  size_t end = 0;
  while (end < line.size() && !isBlank(line[end])) ++end;
  std::string_view word = line.substr(0, end);
  if (word.size() > 1 && word.back() == ')') {
    const size_t open = word.rfind('(');
    if (open != std::string_view::npos && open > 0) word = word.substr(0, open);
  }
  return word;
}

bool hasUpperCase(std::string_view word) {
  for (const char c : word) {
    if (c >= 'A' && c <= 'Z') return true;
  }
  return false;
}

}  // namespace

Result<int> extractKnownWords(const std::string& dictionary, ngram_model_t* languageModel) {
  Result<std::string> read = readWhole(dictionary);
  if (!read) return read.failure();
  const std::string& text = *read;
  const int32 unknown = ngram_unknown_wid(languageModel);
  std::string kept;
  kept.reserve(text.size());
  std::string word;  // the model looks words up by C string
  for (size_t start = 0; start < text.size();) {
    const size_t newline = text.find('\n', start);
    const size_t end = newline == std::string::npos ? text.size() : newline + 1;
    const std::string_view line(text.data() + start, end - start);
    start = end;
    const std::string_view head = headWord(line);
    bool keep = head.empty() || hasUpperCase(head);
    if (!keep) {
      word.assign(head);
      keep = ngram_wid(languageModel, word.c_str()) != unknown;
    }
    if (keep) kept.append(line);
  }
  return writeToMemory(kept);
}

std::string descriptorPath(int descriptor) { return "/proc/self/fd/" + std::to_string(descriptor); }

}  // namespace speechline
