// SPDX-License-Identifier: GPL-3.0-or-later
// The block store against a plain buffer doing the same: writes that cross block edges, extend,
// leave a gap or write nothing; copies that never change; spans of whole frames within a block.
// An element in tiny blocks writes the same file and gets the same take check.
#include "audio/sample_blocks.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "audio/wave_element.h"
#include "testing/synthetic_take.h"
#include "tests/audio/audio_test_support.h"
#include "tests/support/temp_dir.h"

namespace voxtar::audio {
namespace {

constexpr std::size_t kFrame = 2;
constexpr std::size_t kTinyFrames = 3;  // what a block of 7 bytes holds

// Frames numbered from `seed` on, each byte telling its frame and place.
std::vector<std::byte> Pattern(std::uint64_t frames, int seed) {
  std::vector<std::byte> bytes(static_cast<std::size_t>(frames) * kFrame);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<std::byte>(seed + static_cast<int>(i));
  }
  return bytes;
}

std::vector<std::byte> All(const SampleBlocks& store) {
  std::vector<std::byte> bytes(static_cast<std::size_t>(store.bytes()));
  EXPECT_EQ(store.CopyOut(0, bytes), store.frames());
  return bytes;
}

struct WriteCase {
  const char* name;
  std::uint64_t held;  // frames before the write
  std::uint64_t at;
  std::uint64_t count;
};

class BlockWrite : public ::testing::TestWithParam<WriteCase> {};

TEST_P(BlockWrite, MatchesAPlainBufferAndLeavesCopiesAsTheyWere) {
  const WriteCase& c = GetParam();
  SampleBlocks store(kFrame, 7);
  ASSERT_EQ(store.blockFrames(), kTinyFrames);
  store.Write(0, Pattern(c.held, 100));
  std::vector<std::byte> model = Pattern(c.held, 100);
  const SampleBlocks before = store;

  const std::vector<std::byte> written = Pattern(c.count, 7);
  store.Write(c.at, written);
  if (c.count > 0) {
    const std::size_t offset = static_cast<std::size_t>(c.at) * kFrame;
    model.resize(std::max(model.size(), offset + written.size()));  // a gap reads as zeros
    std::memcpy(model.data() + offset, written.data(), written.size());
  }
  EXPECT_EQ(store.frames(), model.size() / kFrame);
  EXPECT_EQ(All(store), model);
  EXPECT_EQ(All(before), Pattern(c.held, 100));

  // Every range of frames is visited in spans of whole frames within one block each.
  for (std::uint64_t from = 0; from <= store.frames() + 1; ++from) {
    for (std::uint64_t count = 0; count <= store.frames() + 1; ++count) {
      std::vector<std::byte> seen;
      std::uint64_t at = from;
      store.ForEachSpan(from, count, [&](std::span<const std::byte> span) {
        EXPECT_EQ(span.size() % kFrame, 0u);
        EXPECT_LE(span.size() / kFrame, kTinyFrames - at % kTinyFrames) << "crosses an edge";
        at += span.size() / kFrame;
        seen.insert(seen.end(), span.begin(), span.end());
        return true;
      });
      const auto first = static_cast<std::ptrdiff_t>(std::min(from * kFrame, model.size()));
      const auto end = static_cast<std::ptrdiff_t>(std::min((from + count) * kFrame, model.size()));
      EXPECT_EQ(seen, std::vector(model.begin() + first, model.begin() + std::max(first, end)))
          << "from " << from << " count " << count;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, BlockWrite,
                         ::testing::Values(WriteCase{"IntoAnEmptyStoreAcrossAnEdge", 0, 0, 5},
                                           WriteCase{"WithinOneBlock", 6, 1, 1},
                                           WriteCase{"AcrossAnEdgeInside", 6, 2, 2},
                                           WriteCase{"OverTheEndAndBeyond", 4, 3, 5},
                                           WriteCase{"AtTheEndIntoANewBlock", 6, 6, 3},
                                           WriteCase{"OverEverythingAndMore", 5, 0, 9},
                                           WriteCase{"BeyondTheEndLeavesZeros", 4, 7, 2},
                                           WriteCase{"NothingChangesNothing", 4, 9, 0}),
                         [](const ::testing::TestParamInfo<WriteCase>& c) { return c.param.name; });

// The same take held in blocks of every size gives the same file (which is what the take check
// and the measures read).
TEST(SampleBlocks, AnElementInTinyBlocksWritesTheSameFile) {
  testing::TempDir dir;
  const WaveElement take = SpokenTake(SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 8000, 2);
  std::string error;
  ASSERT_TRUE(WriteWaveFile(take, testing::Wide(dir / "whole.wav"), &error)) << error;
  for (const std::size_t blockBytes :
       {std::size_t{2}, std::size_t{2 * 37 + 1}, std::size_t{4000}}) {
    SCOPED_TRACE(blockBytes);
    WaveElement blocked = take;
    blocked.samples = SampleBlocks(take.bytesPerFrame(), blockBytes);
    blocked.samples.Write(0, Bytes(take));
    ASSERT_TRUE(WriteWaveFile(blocked, testing::Wide(dir / "blocked.wav"), &error)) << error;
    EXPECT_EQ(testing::ReadBytes(dir / "blocked.wav"), testing::ReadBytes(dir / "whole.wav"));
  }
}

}  // namespace
}  // namespace voxtar::audio
