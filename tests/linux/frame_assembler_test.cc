#include "platform/linux/pulse/frame_assembler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <vector>

namespace speechline {
namespace {

struct Pieces {
  const char* name;
  uint32_t framesPerBlock;
  uint32_t channelCount;
  // Piece sizes in bytes, repeated until the input runs out.
  std::vector<size_t> sizes;
  // Every holeEvery-th piece (if not 0) is a hole: no data, to be read as silence.
  size_t holeEvery;
};

void PrintTo(const Pieces& pieces, std::ostream* out) { *out << pieces.name; }

class FrameAssemblerTest : public testing::TestWithParam<Pieces> {};

// Feeds `input` in the given pieces and returns every whole block, concatenated; `expected`
// receives the input with the holes zeroed.
std::vector<float> assemble(const Pieces& pieces, const std::vector<float>& input,
                            std::vector<float>* expected) {
  FrameAssembler assembler;
  assembler.reset(pieces.framesPerBlock, pieces.channelCount);
  const size_t blockSamples = size_t{pieces.framesPerBlock} * pieces.channelCount;
  std::vector<float> blocks;
  *expected = input;
  const char* bytes = reinterpret_cast<const char*>(input.data());
  const size_t total = input.size() * sizeof(float);
  size_t offset = 0;
  for (size_t piece = 0; offset < total; ++piece) {
    const size_t size = std::min(pieces.sizes[piece % pieces.sizes.size()], total - offset);
    const bool hole = pieces.holeEvery && piece % pieces.holeEvery == pieces.holeEvery - 1;
    if (hole) {
      std::fill(reinterpret_cast<char*>(expected->data()) + offset,
                reinterpret_cast<char*>(expected->data()) + offset + size, 0);
    }
    for (size_t used = 0; used < size;) {
      used += assembler.append(hole ? nullptr : bytes + offset + used, size - used);
      if (assembler.full()) {
        blocks.insert(blocks.end(), assembler.samples(), assembler.samples() + blockSamples);
        assembler.clear();
      }
    }
    offset += size;
  }
  // A partial last block is never handed out.
  expected->resize(expected->size() / blockSamples * blockSamples);
  return blocks;
}

TEST_P(FrameAssemblerTest, CutsPiecesIntoWholeBlocksInOrder) {
  const Pieces& pieces = GetParam();
  std::vector<float> input(pieces.framesPerBlock * pieces.channelCount * 5 + 77);
  for (size_t i = 0; i < input.size(); ++i) input[i] = 1.0f + static_cast<float>(i);
  std::vector<float> expected;
  const std::vector<float> blocks = assemble(pieces, input, &expected);
  ASSERT_EQ(blocks.size(), expected.size());
  EXPECT_EQ(blocks, expected);
}

INSTANTIATE_TEST_SUITE_P(
    PieceSizes, FrameAssemblerTest,
    testing::Values(Pieces{"WholeFragments", 1024, 2, {8192}, 0},
                    Pieces{"FragmentsOneFrameShort", 1024, 2, {8184, 8}, 0},
                    Pieces{"OneBigPiece", 1024, 2, {1 << 20}, 0},
                    Pieces{"TinyPieces", 1024, 1, {4, 8, 12}, 0},
                    Pieces{"PiecesSplittingSamples", 1024, 2, {3, 1021, 7, 5000}, 0},
                    Pieces{"Holes", 1024, 2, {2000, 6000, 1234}, 2},
                    Pieces{"HolesSplittingSamples", 1024, 1, {3, 4093, 1}, 3},
                    Pieces{"SmallBlocksMono", 256, 1, {8184}, 4}),
    [](const testing::TestParamInfo<Pieces>& info) { return info.param.name; });

TEST(FrameAssemblerResetTest, DropsAPartialBlockAndResizes) {
  FrameAssembler assembler;
  assembler.reset(4, 2);
  const float first[6] = {9, 9, 9, 9, 9, 9};
  EXPECT_EQ(assembler.append(first, sizeof first), sizeof first);
  EXPECT_FALSE(assembler.full());

  assembler.reset(2, 1);
  const float second[3] = {1, 2, 3};
  EXPECT_EQ(assembler.append(second, sizeof second), 2 * sizeof(float));
  ASSERT_TRUE(assembler.full());
  EXPECT_EQ(assembler.framesPerBlock(), 2u);
  EXPECT_EQ(assembler.samples()[0], 1.0f);
  EXPECT_EQ(assembler.samples()[1], 2.0f);
}

}  // namespace
}  // namespace speechline
