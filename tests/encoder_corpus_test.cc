// Replays the fuzzer's corpus, and a seeded sample of random byte strings, through the encoder
// property that the fuzzer checks.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "fuzz/encoder_property.h"

namespace speechline {
namespace {

TEST(EncoderCorpusTest, EveryCorpusEntryEncodesToOneValidLine) {
  int entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(SPEECHLINE_FUZZ_CORPUS)) {
    std::stringstream bytes;
    bytes << std::ifstream(entry.path(), std::ios::binary).rdbuf();
    EXPECT_EQ(encoderPropertyViolation(bytes.str()), "") << entry.path();
    ++entries;
  }
  EXPECT_GT(entries, 0);
}

using namespace std::literals;

TEST(EncoderCorpusTest, RandomBytesEncodeToOneValidLine) {
  std::mt19937 random(20261208);
  // Weighted towards the bytes where UTF-8 decoding decides something.
  const std::string_view interesting =
      "\x00\x1f\"\\/\x7f\x80\xbf\xc0\xc1\xc2\xdf\xe0\xed\xef\xf0\xf4\xf5\xff"sv;
  for (int run = 0; run < 20000; ++run) {
    std::string text(random() % 24, '\0');
    for (char& c : text) {
      c = random() % 2 ? interesting[random() % interesting.size()] : static_cast<char>(random());
    }
    ASSERT_EQ(encoderPropertyViolation(text), "") << testing::PrintToString(text);
  }
}

}  // namespace
}  // namespace speechline
