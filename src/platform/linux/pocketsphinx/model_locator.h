#pragma once

#include <array>
#include <functional>
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

// A file PocketSphinx opens in an acoustic-model folder, by name, when it is there.
struct AcousticModelFile {
  std::string_view name;
  bool required;  // no model loads without it
};

// Every file PocketSphinx opens in an acoustic-model folder; it opens nothing else there.
inline constexpr std::array<AcousticModelFile, 10> kAcousticModelFiles = {{
    {"mdef", true},
    {"means", true},
    {"variances", true},
    {"transition_matrices", true},
    {"mixture_weights", false},
    {"sendump", false},
    {"noisedict", false},
    {"feature_transform", false},
    {"feat.params", false},
    {"senmgau", false},
}};

// The model folder names for a locale identifier, in the order they are tried: "en-GB" gives
// "en-gb" then "en"; "en" gives "en". Empty when parseLocaleIdentifier() (locale_name.h) reads
// nothing.
std::vector<std::string> modelDirectoryNames(std::string_view localeIdentifier);

// Where model folders are looked for, in order.
struct ModelSearchPath {
  // Each root holds one folder per locale, named as modelDirectoryNames() names it.
  std::vector<std::string> roots;
  // Debian's English model: tried after the roots, for "en-us" and "en" only.
  std::string englishFallback;

  // The roots for the environment that `variable` reads (getenv's contract), an executable in
  // `executableDirectory` (empty: unknown) and the compiled-in `installRoot`, in this order:
  // $XDG_DATA_HOME/speechline/models (default $HOME/.local/share), the relocatable root beside
  // the executable, each $XDG_DATA_DIRS entry's speechline/models (default
  // /usr/local/share:/usr/share), the install root. Relative and empty entries are ignored, as
  // the XDG base-directory rules have it, and a root listed twice is kept once. Then
  // Debian's pocketsphinx-en-us model.
  static ModelSearchPath forEnvironment(const std::function<const char*(const char*)>& variable,
                                        const std::string& executableDirectory,
                                        const std::string& installRoot);

  // The same for this process: its environment, /proc/self/exe and the compiled-in root.
  static ModelSearchPath standard();
};

// The folder that holds the running executable (through /proc/self/exe), or empty.
std::string executableDirectory();

// The folder for `localeIdentifier`, or nothing: language and region in every root, then the
// language alone in every root, each name followed by the English fallback where it answers.
std::optional<std::string> findModelDirectory(std::string_view localeIdentifier,
                                              const ModelSearchPath& searchPath);

// True when `directory` is an acoustic model PocketSphinx can open without blocking: every file
// of kAcousticModelFiles that is there (a dangling link counts) is a readable regular file,
// symbolic links followed, and every required one is there. Anything else in it is ignored.
bool isAcousticModel(const std::string& directory);

// The parts found in `directory`. Only readable regular files count (symbolic links followed),
// and an acoustic model only as isAcousticModel() says; nothing else is ever opened, so a FIFO
// cannot block the search. A language model whose name contains "phone" is a phonetic model
// and is skipped. Where several files fit, the first by name wins.
ModelParts findModelParts(const std::string& directory);

}  // namespace speechline
