#include "platform/linux/model_locator.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/linux/worker_threads.h"
#include "platform/speech_recognizer.h"

namespace speechline {
namespace {

namespace fs = std::filesystem;

void writeFile(const fs::path& path) {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << "x";
}

// Two roots and an English fallback, each holding model folders in various states.
class ModelLocatorTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/speechline-models-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    tree_ = pattern;

    addCompleteModel(first() / "en-us");
    addCompleteModel(second() / "en-us");
    addCompleteModel(second() / "fr-fr");
    addCompleteModel(fallback());

    // Other spellings of each part.
    writeFile(first() / "de-de" / "model" / "mdef");
    writeFile(first() / "de-de" / "de.lm");
    writeFile(first() / "de-de" / "de.dic");
    writeFile(first() / "nl-nl" / "model" / "mdef");
    writeFile(first() / "nl-nl" / "nl.lm.DMP");
    writeFile(first() / "nl-nl" / "nl.dict");

    // One part missing, or there but unusable.
    writeFile(first() / "no-dict" / "model" / "mdef");
    writeFile(first() / "no-dict" / "no.lm.bin");
    writeFile(first() / "phone-only" / "model" / "mdef");
    writeFile(first() / "phone-only" / "xx-phone.lm.bin");
    writeFile(first() / "phone-only" / "xx.dict");
    writeFile(first() / "no-mdef" / "model" / "means");
    writeFile(first() / "no-mdef" / "xx.lm.bin");
    writeFile(first() / "no-mdef" / "xx.dict");
    writeFile(first() / "mdef-on-top" / "mdef");
    writeFile(first() / "mdef-on-top" / "xx.lm.bin");
    writeFile(first() / "mdef-on-top" / "xx.dict");
    writeFile(first() / "dict-folder" / "model" / "mdef");
    writeFile(first() / "dict-folder" / "xx.lm.bin");
    fs::create_directories(first() / "dict-folder" / "xx.dict");
    writeFile(first() / "dangling-lm" / "model" / "mdef");
    writeFile(first() / "dangling-lm" / "xx.dict");
    fs::create_symlink(tree_ / "nowhere.lm.bin", first() / "dangling-lm" / "xx.lm.bin");
  }

  void TearDown() override { fs::remove_all(tree_); }

  void addCompleteModel(const fs::path& directory) {
    writeFile(directory / "en-us" / "mdef");
    writeFile(directory / "en-us-phone.lm.bin");  // sorts before en-us.lm.bin
    writeFile(directory / "en-us.lm.bin");
    writeFile(directory / "cmudict-en-us.dict");
  }

  fs::path first() const { return tree_ / "first"; }
  fs::path second() const { return tree_ / "second"; }
  fs::path fallback() const { return tree_ / "fallback"; }

  ModelSearchPath searchPath() const {
    return {{first().string(), second().string()}, fallback().string()};
  }

  fs::path tree_;
};

TEST(ModelDirectoryNameTest, FoldsCaseAndUnderscoreAndRefusesEverythingElse) {
  const struct {
    const char* identifier;
    const char* name;
  } cases[] = {
      {"en-US", "en-us"}, {"en_us", "en-us"}, {"EN_us", "en-us"}, {"zh-Hans-CN", "zh-hans-cn"},
      {"x9", "x9"},       {"", ""},           {"../en-us", ""},   {"en-us/../en-us", ""},
      {"/usr", ""},       {"en.us", ""},      {"en us", ""},      {"en-us\n", ""},
      {"é", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(modelDirectoryName(c.identifier), c.name) << c.identifier;
  }
  EXPECT_EQ(modelDirectoryName(std::string("en\0us", 5)), "");
}

TEST_F(ModelLocatorTest, FindsTheFirstExistingFolderAndNeverFollowsAPath) {
  const std::string none;
  const struct {
    std::string identifier;
    std::string directory;  // empty: no folder
  } cases[] = {
      {"en-US", (first() / "en-us").string()},
      {"en_us", (first() / "en-us").string()},
      {"EN-us", (first() / "en-us").string()},
      {"fr-FR", (second() / "fr-fr").string()},
      {"fr_fr", (second() / "fr-fr").string()},
      {"no_dict", (first() / "no-dict").string()},
      {"xx-XX", none},
      {"", none},
      {"../en-us", none},
      {"en-us/../en-us", none},
      {"./en-us", none},
      {(first() / "en-us").string(), none},
      {(second() / "fr-fr").string(), none},
      {"first/en-us", none},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(findModelDirectory(c.identifier, searchPath()).value_or(""), c.directory)
        << c.identifier;
  }
}

TEST_F(ModelLocatorTest, FallsBackToTheEnglishModelForEnglishOnly) {
  const ModelSearchPath withoutRoots{{(tree_ / "empty").string()}, fallback().string()};
  EXPECT_EQ(findModelDirectory("en-US", withoutRoots).value_or(""), fallback().string());
  EXPECT_EQ(findModelDirectory("en_us", withoutRoots).value_or(""), fallback().string());
  EXPECT_FALSE(findModelDirectory("fr-FR", withoutRoots));
  EXPECT_FALSE(findModelDirectory("fallback", withoutRoots));
  // A root's own en-us folder comes first.
  EXPECT_EQ(findModelDirectory("en-US", searchPath()).value_or(""), (first() / "en-us").string());
}

TEST_F(ModelLocatorTest, FindsTheThreePartsOrReportsTheMissingOne) {
  const struct {
    const char* folder;
    const char* acousticModel;  // relative to the folder; empty: not found
    const char* languageModel;
    const char* dictionary;
  } cases[] = {
      {"en-us", "en-us", "en-us.lm.bin", "cmudict-en-us.dict"},
      {"de-de", "model", "de.lm", "de.dic"},
      {"nl-nl", "model", "nl.lm.DMP", "nl.dict"},
      {"no-dict", "model", "no.lm.bin", ""},
      {"phone-only", "model", "", "xx.dict"},
      {"no-mdef", "", "xx.lm.bin", "xx.dict"},
      {"mdef-on-top", "", "xx.lm.bin", "xx.dict"},
      {"dict-folder", "model", "xx.lm.bin", ""},
      {"dangling-lm", "model", "", "xx.dict"},
      {"absent", "", "", ""},
  };
  for (const auto& c : cases) {
    const fs::path folder = first() / c.folder;
    auto expected = [&](const char* part) {
      return *part ? (folder / part).string() : std::string();
    };
    const ModelParts parts = findModelParts(folder.string());
    EXPECT_EQ(parts.acousticModel, expected(c.acousticModel)) << c.folder;
    EXPECT_EQ(parts.languageModel, expected(c.languageModel)) << c.folder;
    EXPECT_EQ(parts.dictionary, expected(c.dictionary)) << c.folder;
    EXPECT_EQ(parts.complete(), *c.acousticModel && *c.languageModel && *c.dictionary) << c.folder;
  }
}

TEST(SpeechRecognizerCreateTest, MakesNoRecognizerForIdentifiersThatArePathsOrUnknown) {
  for (const char* identifier :
       {"", "xx-XX", "../en-us", "en-us/../en-us", "/usr/share/pocketsphinx/model/en-us", "en-us/",
        "en-us.", "en-us%2F"}) {
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
