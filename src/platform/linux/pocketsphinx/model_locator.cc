#include "platform/linux/pocketsphinx/model_locator.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "platform/linux/pocketsphinx/locale_name.h"

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

// The XDG base-directory rules take absolute roots only; others are ignored.
bool isAbsolute(std::string_view path) { return !path.empty() && path[0] == '/'; }

}  // namespace

std::string executableDirectory() {
  char path[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return {};
  return fs::path(std::string(path, static_cast<size_t>(length))).parent_path().string();
}

std::vector<std::string> modelDirectoryNames(std::string_view localeIdentifier) {
  const std::optional<LocaleName> locale = parseLocaleIdentifier(localeIdentifier);
  if (!locale) return {};
  if (locale->region.empty()) return {locale->language};
  return {locale->language + "-" + locale->region, locale->language};
}

ModelSearchPath ModelSearchPath::forEnvironment(
    const std::function<const char*(const char*)>& variable, const std::string& executableDirectory,
    const std::string& installRoot) {
  const auto read = [&](const char* name) {
    const char* value = variable(name);
    return std::string(value ? value : "");
  };
  std::vector<std::string> candidates;
  std::string dataHome = read("XDG_DATA_HOME");
  if (!isAbsolute(dataHome) && isAbsolute(read("HOME"))) dataHome = read("HOME") + "/.local/share";
  if (isAbsolute(dataHome)) candidates.push_back(dataHome + "/speechline/models");
  if (!executableDirectory.empty()) {
    candidates.push_back(executableDirectory + "/../share/speechline/models");
  }
  std::string dataDirs = read("XDG_DATA_DIRS");
  if (dataDirs.empty()) dataDirs = "/usr/local/share:/usr/share";
  for (size_t start = 0; start <= dataDirs.size();) {
    const size_t end = std::min(dataDirs.find(':', start), dataDirs.size());
    const std::string entry = dataDirs.substr(start, end - start);
    if (isAbsolute(entry)) candidates.push_back(entry + "/speechline/models");
    start = end + 1;
  }
  candidates.push_back(installRoot);

  ModelSearchPath searchPath;
  for (const std::string& candidate : candidates) {
    // The same folder spelt two ways ("/usr/bin/../share", a link) is searched once.
    std::error_code error;
    std::string root = fs::weakly_canonical(candidate, error).string();
    if (error) root = fs::path(candidate).lexically_normal().string();
    if (std::find(searchPath.roots.begin(), searchPath.roots.end(), root) ==
        searchPath.roots.end()) {
      searchPath.roots.push_back(std::move(root));
    }
  }
  searchPath.englishFallback = "/usr/share/pocketsphinx/model/en-us";
  return searchPath;
}

ModelSearchPath ModelSearchPath::standard() {
  return forEnvironment(::getenv, executableDirectory(), SPEECHLINE_INSTALL_MODEL_DIR);
}

std::optional<std::string> findModelDirectory(std::string_view localeIdentifier,
                                              const ModelSearchPath& searchPath) {
  for (const std::string& name : modelDirectoryNames(localeIdentifier)) {
    for (const std::string& root : searchPath.roots) {
      const std::string candidate = root + "/" + name;
      if (isDirectory(candidate)) return candidate;
    }
    if ((name == "en-us" || name == "en") && !searchPath.englishFallback.empty() &&
        isDirectory(searchPath.englishFallback)) {
      return searchPath.englishFallback;
    }
  }
  return std::nullopt;
}

bool isAcousticModel(const std::string& directory) {
  if (!isDirectory(directory)) return false;
  return std::all_of(kAcousticModelFiles.begin(), kAcousticModelFiles.end(),
                     [&](const AcousticModelFile& file) {
                       const std::string path = directory + "/" + std::string(file.name);
                       struct stat info;
                       if (::lstat(path.c_str(), &info) != 0) {
                         return errno == ENOENT && !file.required;
                       }
                       return isReadableFile(path);
                     });
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
