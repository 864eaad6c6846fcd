// SPDX-License-Identifier: GPL-3.0-or-later
// The take recorder on its own, fed in pieces no engine test can choose: frames split between
// pieces, a limit inside a block, the kept-open input ending while it feeds a take.
#include "audio/take_recorder.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cstring>
#include <numeric>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace voxtar::audio {
namespace {

constexpr CaptureFormat kFormat{SampleKind::Int16, 1000, 1};

// What the recorder told the listeners, in order: "kept:N", "block:N", "end:L" or "end:F".
class Log final : public TakeReports {
 public:
  void Level(const LevelSummary&) override {}
  void Captured(const CaptureFormat&, std::vector<std::byte> frames, bool kept) override {
    text += (kept ? " kept:" : " block:") + std::to_string(frames.size() / 2);
  }
  void Ended(DeviceId, RecordingCode code) override {
    text += code == RecordingCode::LimitReached ? " end:L" : " end:F";
  }
  std::string text;
};

// The input's bytes of frames [from, to): each frame holds its own number.
std::vector<std::byte> Frames(int from, int to) {
  std::vector<std::byte> bytes;
  for (int n = from; n < to; ++n) {
    const auto sample = static_cast<std::int16_t>(n);
    bytes.resize(bytes.size() + 2);
    std::memcpy(bytes.data() + bytes.size() - 2, &sample, 2);
  }
  return bytes;
}

// The take's frames, as the numbers of the input's frames they hold.
std::vector<int> Numbers(const WaveElement& take) {
  std::vector<std::byte> bytes(take.samples.bytes());
  take.samples.CopyOut(0, bytes);
  std::vector<int> numbers;
  for (std::size_t at = 0; at + 1 < bytes.size(); at += 2) {
    std::int16_t n = 0;
    std::memcpy(&n, bytes.data() + at, 2);
    numbers.push_back(n);
  }
  return numbers;
}

struct Fixture {
  Log log;
  std::int64_t now = 0;
  TakeRecorder recorder{log, [this] { return now; }};
  WaveElement element = MakeElement(SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1000, 1, 0);
  Take take;
};

struct Pieces {
  const char* name;
  std::size_t keep;             // frames the kept-open input keeps
  int before;                   // frames it captured before the take began
  std::uint64_t limit;          // frames the take may hold
  std::vector<int> pieceBytes;  // what comes after, in pieces of bytes
  int firstKept;                // the input's first frame in the take
  std::size_t stored;           // frames the take holds at the end
  const char* reported;
};

class TakePieces : public ::testing::TestWithParam<Pieces> {};

TEST_P(TakePieces, TheTakeHoldsTheInputsFramesInOrderUpToItsLimit) {
  const Pieces& c = GetParam();
  Fixture f;
  f.recorder.Keep(kFormat, c.keep);
  f.recorder.FeedKept(Frames(0, c.before));
  f.recorder.SetListening(true);
  ASSERT_TRUE(f.recorder.Begin(f.take, 7, f.element, 0, c.limit));
  std::vector<std::byte> rest = Frames(c.before, c.before + 100);
  std::size_t at = 0;
  for (const int size : c.pieceBytes) {
    f.recorder.FeedKept(std::span(rest).subspan(at, static_cast<std::size_t>(size)));
    at += static_cast<std::size_t>(size);
  }
  std::vector<int> expected(c.stored);
  std::iota(expected.begin(), expected.end(), c.firstKept);
  EXPECT_EQ(Numbers(f.element), expected);
  EXPECT_EQ(f.take.capturedFrames(), c.stored);
  EXPECT_EQ(f.log.text, c.reported);
  EXPECT_EQ(f.take.capturing(), c.stored < c.limit);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TakePieces,
    ::testing::Values(
        Pieces{"LeadInShorterThanKept", 50, 20, 1000, {20}, 0, 30, " kept:20 block:10"},
        Pieces{"LeadInLongerThanKept", 50, 80, 1000, {20}, 30, 60, " kept:50 block:10"},
        Pieces{"LimitBelowLeadIn", 50, 80, 30, {20}, 30, 30, " kept:50 end:L block:10"},
        Pieces{"LimitInsideABlock", 10, 10, 25, {40, 4}, 0, 25, " kept:10 block:20 end:L block:2"},
        Pieces{"FramesSplitBetweenPieces",
               0,
               0,
               100,
               {3, 1, 5, 3},
               0,
               6,
               " kept:0 block:1 block:1 block:2 block:2"}),
    [](const ::testing::TestParamInfo<Pieces>& c) { return c.param.name; });

// What ends the kept-open input while it feeds a finishing take with half a frame pending.
struct Ending {
  const char* name;
  void (*end)(Fixture& f);
  bool goesOn;           // the take still captures
  const char* reported;  // after the end
  AudioError stopCause;  // what its Stop says
};

class KeptInputEnds : public ::testing::TestWithParam<Ending> {};

TEST_P(KeptInputEnds, TheTakeGoesOnWholeOrEndsOnceSayingWhy) {
  const Ending& c = GetParam();
  Fixture f;
  f.recorder.Keep(kFormat, 10);
  f.recorder.FeedKept(Frames(0, 10));
  ASSERT_TRUE(f.recorder.Begin(f.take, 7, f.element, 0, 1000));
  f.recorder.Finish(f.take, 50);
  const std::vector<std::byte> rest = Frames(10, 20);
  f.recorder.FeedKept(std::span(rest).first(5));  // 2 frames and half of one
  c.end(f);
  EXPECT_EQ(f.log.text, c.reported);
  EXPECT_EQ(f.recorder.Feed(f.take, std::span(rest).subspan(5)), c.goesOn);
  EXPECT_FALSE(f.recorder.keeping());
  std::vector<int> expected(c.goesOn ? 20 : 12);
  std::iota(expected.begin(), expected.end(), 0);
  EXPECT_EQ(Numbers(f.element), expected);
  const std::optional<TakeLoss> loss = f.recorder.Stop(f.take);
  EXPECT_EQ(loss ? loss->cause : AudioError::None, c.stopCause);
  EXPECT_FALSE(f.recorder.Feed(f.take, rest));
  EXPECT_EQ(f.log.text, c.reported);
}

INSTANTIATE_TEST_SUITE_P(
    Ends, KeptInputEnds,
    ::testing::Values(
        Ending{"HandedOverMidFrame", [](Fixture& f) { EXPECT_EQ(f.recorder.HandOver(), 7); }, true,
               "", AudioError::None},
        Ending{"Quietly", [](Fixture& f) { f.recorder.EndKeeping(); }, false, "", AudioError::None},
        Ending{"Lost",
               [](Fixture& f) {
                 f.recorder.EndKeeping(TakeLoss{AudioError::InputFailed, {}});
               },
               false, " end:F", AudioError::InputFailed}),
    [](const ::testing::TestParamInfo<Ending>& c) { return c.param.name; });

}  // namespace
}  // namespace voxtar::audio
