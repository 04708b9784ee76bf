#include "platform/linux/model_locator.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

namespace speechline {
namespace {

namespace fs = std::filesystem;

bool isDirectory(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Opening the file is the only test of readability that also holds for root. Only a regular
// file is opened: opening a FIFO waits for a writer, for ever.
bool isReadableFile(const std::string& path) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  ::close(fd);
  return regular;
}

bool endsWith(std::string_view text, std::string_view suffix) {
  return text.size() > suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

bool isLanguageModelName(std::string_view name) {
  if (name.find("phone") != std::string_view::npos) return false;
  return endsWith(name, ".lm.bin") || endsWith(name, ".lm") || endsWith(name, ".lm.DMP");
}

bool isDictionaryName(std::string_view name) {
  return endsWith(name, ".dict") || endsWith(name, ".dic");
}

// Entry names of `directory` in name order, hidden ones left out.
std::vector<std::string> sortedEntries(const std::string& directory) {
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) {
    std::string name = it->path().filename().string();
    if (!name.empty() && name[0] != '.') names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end());
  return names;
}

// PocketSphinx opens files of the acoustic model by name, so each must be one it can read.
bool isAcousticModel(const std::string& directory) {
  if (!isDirectory(directory) || !isReadableFile(directory + "/mdef")) return false;
  const std::vector<std::string> names = sortedEntries(directory);
  return std::all_of(names.begin(), names.end(), [&](const std::string& name) {
    return isReadableFile(directory + "/" + name);
  });
}

}  // namespace

std::string executableDirectory() {
  char path[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return {};
  return fs::path(std::string(path, static_cast<size_t>(length))).parent_path().string();
}

ModelSearchPath ModelSearchPath::standard() {
  ModelSearchPath searchPath;
  const std::string executableDir = executableDirectory();
  if (!executableDir.empty()) {
    searchPath.roots.push_back(executableDir + "/../share/speechline/models");
  }
  searchPath.roots.push_back(SPEECHLINE_INSTALL_MODEL_DIR);
  searchPath.englishFallback = "/usr/share/pocketsphinx/model/en-us";
  return searchPath;
}

std::string modelDirectoryName(std::string_view localeIdentifier) {
  std::string name;
  for (const char c : localeIdentifier) {
    if (c >= 'A' && c <= 'Z') {
      name.push_back(static_cast<char>(c - 'A' + 'a'));
    } else if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-') {
      name.push_back(c);
    } else if (c == '_') {
      name.push_back('-');
    } else {
      return {};
    }
  }
  return name;
}

std::optional<std::string> findModelDirectory(std::string_view localeIdentifier,
                                              const ModelSearchPath& searchPath) {
  const std::string name = modelDirectoryName(localeIdentifier);
  if (name.empty()) return std::nullopt;
  for (const std::string& root : searchPath.roots) {
    const std::string candidate = root + "/" + name;
    if (isDirectory(candidate)) return candidate;
  }
  if (name == "en-us" && !searchPath.englishFallback.empty() &&
      isDirectory(searchPath.englishFallback)) {
    return searchPath.englishFallback;
  }
  return std::nullopt;
}

ModelParts findModelParts(const std::string& directory) {
  ModelParts parts;
  for (const std::string& name : sortedEntries(directory)) {
    const std::string path = directory + "/" + name;
    if (parts.acousticModel.empty() && isAcousticModel(path)) {
      parts.acousticModel = path;
    } else if (parts.languageModel.empty() && isLanguageModelName(name) && isReadableFile(path)) {
      parts.languageModel = path;
    } else if (parts.dictionary.empty() && isDictionaryName(name) && isReadableFile(path)) {
      parts.dictionary = path;
    }
  }
  return parts;
}

}  // namespace speechline
