#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace speechline {

// The three files and folders PocketSphinx loads, as absolute or root-relative paths. An empty
// path means that part was not found.
struct ModelParts {
  std::string acousticModel;  // the folder holding `mdef`
  std::string languageModel;  // a .lm.bin, .lm or .lm.DMP file
  std::string dictionary;     // a .dict or .dic file

  bool complete() const {
    return !acousticModel.empty() && !languageModel.empty() && !dictionary.empty();
  }
};

// Where model folders are looked for, in order.
struct ModelSearchPath {
  // Each root holds one folder per locale, named as modelDirectoryName() names it.
  std::vector<std::string> roots;
  // Tried after the roots, for en-us only.
  std::string englishFallback;

  // The relocatable root beside the executable, the compiled-in install root, and Debian's
  // pocketsphinx-en-us model.
  static ModelSearchPath standard();
};

// The folder that holds the running executable (through /proc/self/exe), or empty.
std::string executableDirectory();

// The folder name for a locale identifier: lower case, '_' written as '-' ("en_US" → "en-us").
// Empty for an identifier that is empty or has a character outside [A-Za-z0-9_-], so that no
// identifier can name a path of its own.
std::string modelDirectoryName(std::string_view localeIdentifier);

// The first folder on `searchPath` that exists for `localeIdentifier`, or nothing.
std::optional<std::string> findModelDirectory(std::string_view localeIdentifier,
                                              const ModelSearchPath& searchPath);

// The parts found in `directory`. Only readable regular files count (symbolic links followed),
// and an acoustic model only if every file in it is one; nothing else is ever opened, so a
// FIFO cannot block the search. A language model whose name contains "phone" is a phonetic
// model and is skipped. Where several files fit, the first by name wins.
ModelParts findModelParts(const std::string& directory);

}  // namespace speechline
