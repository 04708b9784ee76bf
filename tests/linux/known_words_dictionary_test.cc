#include "platform/linux/pocketsphinx/known_words_dictionary.h"

#include <gtest/gtest.h>
#include <sphinxbase/ngram_model.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace speechline {
namespace {

TEST(KnownWordsDictionaryTest, KeepsEveryLineTheModelCanUseAndNoOther) {
  const std::string folder = ::testing::TempDir();
  std::ofstream(folder + "model.arpa") << "\\data\\\nngram 1=4\n\n\\1-grams:\n-1 <s> 0\n"
                                          "-1 </s> 0\n-1 hello 0\n-1 world 0\n\n\\end\\\n";
  // Alternates count as their word; upper case is kept, since the model may fold case, and so is
  // a line that starts with no word; the last line may lack its newline.
  const std::string kept =
      "hello HH AH L OW\nhello(2) HH EH L OW\nWorld W ER L D\n"
      "world W ER L D\n\n  indented W ER L D\nworld(2) W ER L D";
  std::ofstream(folder + "model.dict")
      << "goodbye G UH D B AY\nhello HH AH L OW\n;; a comment\nhello(2) HH EH L OW\n"
         "hell(o) HH EH L\nWorld W ER L D\nworld W ER L D\n\n  indented W ER L D\n"
         "(hello) HH EH L OW\nworld(x)(2) W ER L D\nworld(2) W ER L D";
  logmath_t* logMath = logmath_init(1.0001, 0, 0);
  ngram_model_t* model =
      ngram_model_read(nullptr, (folder + "model.arpa").c_str(), NGRAM_ARPA, logMath);
  ASSERT_NE(model, nullptr);

  Result<int> descriptor = extractKnownWords(folder + "model.dict", model);
  ASSERT_TRUE(descriptor);
  std::stringstream extract;
  extract << std::ifstream(descriptorPath(*descriptor)).rdbuf();
  EXPECT_EQ(extract.str(), kept);
  const Result<int> missing = extractKnownWords(folder + "no-such.dict", model);
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.failure().code, ENOENT);

  ::close(*descriptor);
  ngram_model_free(model);
  logmath_free(logMath);
}

}  // namespace
}  // namespace speechline
