#include "audio/capture_ring.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <vector>

namespace voxtar::audio {
namespace {

// Frames of two bytes numbered in order, so what the ring holds tells which frames they are.
std::vector<std::byte> Numbered(std::size_t from, std::size_t count) {
  std::vector<std::byte> bytes;
  for (std::size_t n = from; n < from + count; ++n) {
    bytes.push_back(static_cast<std::byte>(n & 0xFF));
    bytes.push_back(static_cast<std::byte>(n >> 8));
  }
  return bytes;
}

struct Pushes {
  const char* name;
  std::size_t capacity;
  std::vector<std::size_t> sizes;  // frames of each push
};

class CaptureRingPushes : public ::testing::TestWithParam<Pushes> {};

TEST_P(CaptureRingPushes, HoldsTheNewestFramesInOrderAndNeverMoreThanItsCapacity) {
  const Pushes& pushes = GetParam();
  CaptureRing ring(2, pushes.capacity);
  std::size_t pushed = 0;
  for (const std::size_t size : pushes.sizes) {
    ring.Push(Numbered(pushed, size));
    pushed += size;
    ASSERT_LE(ring.frames(), pushes.capacity);
  }
  const std::size_t held = std::min(pushed, pushes.capacity);
  EXPECT_EQ(ring.frames(), held);
  std::vector<std::byte> spans;
  for (const auto span : ring.Spans()) {
    spans.insert(spans.end(), span.begin(), span.end());
  }
  EXPECT_EQ(spans, Numbered(pushed - held, held));

  // Written into a take of 3 silent frames from its second on: the oldest, as many as asked for.
  WaveElement take = MakeElement(SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, 3);
  EXPECT_EQ(ring.WriteInto(take, 1, held / 2), held / 2);
  std::vector<std::byte> expected(2, std::byte{0});
  const std::vector<std::byte> oldest = Numbered(pushed - held, held / 2);
  expected.insert(expected.end(), oldest.begin(), oldest.end());
  expected.resize(std::max<std::size_t>(expected.size(), 6), std::byte{0});
  std::vector<std::byte> written(static_cast<std::size_t>(take.samples.bytes()));
  take.samples.CopyOut(0, written);
  EXPECT_EQ(written, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, CaptureRingPushes,
    ::testing::Values(Pushes{"NothingKept", 0, {5, 7}}, Pushes{"ShortOfItsCapacity", 10, {3, 4}},
                      Pushes{"WrappingAround", 10, {6, 7, 3, 9}},
                      Pushes{"OnePushLargerThanItAll", 10, {4, 25}}, Pushes{"ExactlyFull", 8, {8}},
                      Pushes{"EmptyPushes", 4, {0, 3, 0}}),
    [](const ::testing::TestParamInfo<Pushes>& pushes) { return pushes.param.name; });

}  // namespace
}  // namespace voxtar::audio
