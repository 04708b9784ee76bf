#include "platform/linux/pocketsphinx/model_locator.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "platform/linux/pocketsphinx/worker_threads.h"
#include "platform/speech_recognizer.h"

namespace speechline {
namespace {

namespace fs = std::filesystem;

// Creates `entries` under `folder`: a file, a folder when the name ends in '/', a dangling
// symbolic link when it starts with '@', a FIFO when with '|'; beside each mdef, the other
// required acoustic-model files that the entries do not make.
void populate(const fs::path& folder, const std::vector<std::string>& entries) {
  fs::create_directories(folder);
  for (const std::string& entry : entries) {
    const fs::path special = folder / entry.substr(1);
    if (entry.back() == '/') {
      fs::create_directories(folder / entry);
    } else if (entry.front() == '@' || entry.front() == '|') {
      fs::create_directories(special.parent_path());
      if (entry.front() == '@') {
        fs::create_symlink(folder / "nowhere", special);
      } else {
        ASSERT_EQ(mkfifo(special.c_str(), 0644), 0);
      }
    } else {
      fs::create_directories((folder / entry).parent_path());
      std::ofstream(folder / entry) << "x";
    }
  }
  for (const fs::directory_entry& item : fs::recursive_directory_iterator(folder)) {
    for (const AcousticModelFile& file : kAcousticModelFiles) {
      const fs::path path = item.path().parent_path() / file.name;
      const bool made = fs::exists(fs::symlink_status(path));
      if (item.path().filename() == "mdef" && file.required && !made) std::ofstream(path) << "x";
    }
  }
}

// The phonetic model sorts first, so it must be skipped, not merely come second.
const std::vector<std::string> kCompleteModel = {"en-us/mdef", "en-us-phone.lm.bin", "en-us.lm.bin",
                                                 "cmudict-en-us.dict"};

// Two roots and an English fallback.
class ModelLocatorTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/speechline-models-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    tree_ = pattern;
    for (const char* folder :
         {"first/en-us", "first/fr", "second/en-us", "second/fr-fr", "second/de", "fallback"}) {
      populate(tree_ / folder, kCompleteModel);
    }
  }
  void TearDown() override { fs::remove_all(tree_); }

  std::string path(const char* relative) const { return (tree_ / relative).string(); }
  ModelSearchPath searchPath() const { return {{path("first"), path("second")}, path("fallback")}; }

  fs::path tree_;
};

TEST(ModelSearchPathTest, PutsTheUsersRootsFirstIgnoresRelativeOnesAndKeepsEachOnce) {
  const std::map<std::string, std::string> environment = {
      {"HOME", "/h"}, {"XDG_DATA_HOME", "d"}, {"XDG_DATA_DIRS", ":a:/b/:/x/bin/../share::/b"}};
  const auto variable = [&](const char* name) {
    return environment.contains(name) ? environment.at(name).c_str() : nullptr;
  };
  const std::vector<std::string> roots = {"/h/.local/share/speechline/models",
                                          "/x/share/speechline/models", "/b/speechline/models"};
  EXPECT_EQ(ModelSearchPath::forEnvironment(variable, "/x/bin", roots[2]).roots, roots);
}

TEST_F(ModelLocatorTest, FindsTheFirstExistingFolderAndNeverFollowsAPath) {
  const struct {
    std::string identifier;
    std::string directory;  // empty: none
  } cases[] = {
      {"en-US", path("first/en-us")},
      {"en_us", path("first/en-us")},
      {"EN-us", path("first/en-us")},
      // Language and region in every root, then the language alone.
      {"fr-FR", path("second/fr-fr")},
      {"fr_fr", path("second/fr-fr")},
      {"fr-Latn-FR-u-ca-gregory", path("second/fr-fr")},
      {"fr_CA.UTF-8", path("first/fr")},
      {"de_AT@euro", path("second/de")},
      {"xx-XX", ""},
      {"fr_FR.UTF-8/../fr", ""},
      {"", ""},
      {"../en-us", ""},
      {"en-us/../en-us", ""},
      {"./en-us", ""},
      {"first/en-us", ""},
      {path("first/en-us"), ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(findModelDirectory(c.identifier, searchPath()).value_or(""), c.directory)
        << c.identifier;
  }
}

TEST_F(ModelLocatorTest, FallsBackToTheEnglishModelForEnglishOnly) {
  const ModelSearchPath withoutEnglish{{path("none")}, path("fallback")};
  EXPECT_EQ(findModelDirectory("en_US", withoutEnglish).value_or(""), path("fallback"));
  EXPECT_FALSE(findModelDirectory("fr-FR", withoutEnglish));
  EXPECT_FALSE(findModelDirectory("fallback", withoutEnglish));
  // A root's "en" answers for en-GB, but for en-US the fallback's en-us comes first.
  populate(tree_ / "other/en", kCompleteModel);
  const ModelSearchPath withEnglish{{path("other")}, path("fallback")};
  EXPECT_EQ(findModelDirectory("en-GB", withEnglish).value_or(""), path("other/en"));
  EXPECT_EQ(findModelDirectory("en-US", withEnglish).value_or(""), path("fallback"));
}

TEST_F(ModelLocatorTest, FindsTheThreePartsOrReportsTheMissingOne) {
  const struct {
    std::vector<std::string> entries;
    const char* acousticModel;  // found part, relative; empty: none
    const char* languageModel;
    const char* dictionary;
  } cases[] = {
      {kCompleteModel, "en-us", "en-us.lm.bin", "cmudict-en-us.dict"},
      {{"m/mdef", "de.lm", "de.dic"}, "m", "de.lm", "de.dic"},
      {{"m/mdef", "nl.lm.DMP", "nl.dict"}, "m", "nl.lm.DMP", "nl.dict"},
      {{"m/mdef", "xx.lm.bin"}, "m", "xx.lm.bin", ""},
      {{"m/mdef", "xx-phone.lm.bin", "xx.dict"}, "m", "", "xx.dict"},
      {{"m/means", "xx.lm.bin", "xx.dict"}, "", "xx.lm.bin", "xx.dict"},
      {{"mdef", "xx.lm.bin", "xx.dict"}, "", "xx.lm.bin", "xx.dict"},
      {{"m/mdef", "xx.lm.bin", "xx.dict/"}, "m", "xx.lm.bin", ""},
      {{"m/mdef", "@xx.lm.bin", "xx.dict"}, "m", "", "xx.dict"},
      {{"m/mdef/", "xx.lm.bin", "xx.dict"}, "", "xx.lm.bin", "xx.dict"},
      // Opened, a FIFO would wait for a writer for ever; no part may hold anything but files.
      {{"m/mdef", "xx.lm.bin", "|xx.dict"}, "m", "xx.lm.bin", ""},
      {{"m/mdef", "|m/means", "xx.lm.bin", "xx.dict"}, "", "xx.lm.bin", "xx.dict"},
      {{"m/mdef", "m/means/", "xx.lm.bin", "xx.dict"}, "", "xx.lm.bin", "xx.dict"},
      {{"m/mdef", "@m/sendump", "xx.lm.bin", "xx.dict"}, "", "xx.lm.bin", "xx.dict"},
      // PocketSphinx opens nothing else there: what an archive leaves is ignored.
      {{"m/mdef", "m/doc/", "@m/LICENSE", "|m/fifo", "xx.lm", "xx.dic"}, "m", "xx.lm", "xx.dic"},
      {{}, "", "", ""},
  };
  int index = 0;
  for (const auto& c : cases) {
    const fs::path folder = tree_ / ("case" + std::to_string(index++));
    populate(folder, c.entries);
    auto expected = [&](const char* part) { return *part ? (folder / part).string() : ""; };
    const ModelParts parts = findModelParts(folder.string());
    EXPECT_EQ(parts.acousticModel, expected(c.acousticModel)) << folder;
    EXPECT_EQ(parts.languageModel, expected(c.languageModel)) << folder;
    EXPECT_EQ(parts.dictionary, expected(c.dictionary)) << folder;
    EXPECT_EQ(parts.complete(), *c.acousticModel && *c.languageModel && *c.dictionary) << folder;
  }
}

TEST(SpeechRecognizerCreateTest, MakesNoRecognizerForIdentifiersThatArePathsOrUnknown) {
  for (const char* identifier : {"", "xx-XX", "../en-us", "en-us/../en-us",
                                 "/usr/share/pocketsphinx/model/en-us", "en-us/"}) {
    EXPECT_EQ(SpeechRecognizer::create(identifier), nullptr) << identifier;
  }
}

TEST(SpeechRecognizerCreateTest, FindsTheInstalledEnglishModel) {
  const std::shared_ptr<SpeechRecognizer> recognizer = SpeechRecognizer::create("en_US");
  ASSERT_NE(recognizer, nullptr);
  EXPECT_TRUE(recognizer->isAvailable());
  EXPECT_TRUE(recognizer->supportsOnDeviceRecognition());
  // The recognizer started loading its model; let that end before the process does.
  EXPECT_TRUE(waitForWorkerThreads(std::chrono::seconds(30)));
}

}  // namespace
}  // namespace speechline
