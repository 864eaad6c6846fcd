// SPDX-License-Identifier: GPL-3.0-or-later
// The manual policy on the session, without a window: "[STOP]" and its capture margin, and what
// "Advance after a good take" and "Play each take" do after a take, on the simulated engine.
#include "session/manual_policy.h"

#include <gtest/gtest.h>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

#include "tests/session/session_test_support.h"

namespace voxtar::testing {
namespace {

struct AfterATake {
  const char* what;
  bool autoAdvance;
  bool autoPlay;
  double amplitude;  // 1.0 clips: a take that fails its check
  int index;         // where the session is once the take is saved
  session::AudioMode mode;
  int heard;  // and once its playback, if any, has ended
};

void PrintTo(const AfterATake& c, std::ostream* os) {
  *os << c.what;
}

class ManualPolicyAfterATake : public SessionTest,
                               public ::testing::WithParamInterface<AfterATake> {};

TEST_P(ManualPolicyAfterATake, MovesOnOrStaysAsTheSettingsAndTheCheckSay) {
  const AfterATake& c = GetParam();
  ChangeSettings([&c](session::SessionSettings& s) {
    s.autoAdvance = c.autoAdvance;
    s.autoPlay = c.autoPlay;
  });
  SpeakATake(c.amplitude);
  EXPECT_EQ(Current(), c.index);
  EXPECT_EQ(session.mode(), c.mode);
  Advance(2000);
  EXPECT_EQ(Current(), c.heard);
  EXPECT_EQ(session.mode(), session::AudioMode::Idle);
}

INSTANTIATE_TEST_SUITE_P(
    Takes, ManualPolicyAfterATake,
    ::testing::Values(
        AfterATake{"nothing by itself", false, false, 0.3, 0, session::AudioMode::Idle, 0},
        AfterATake{"a good take moves on", true, false, 0.3, 1, session::AudioMode::Idle, 1},
        AfterATake{"a clipped take stays", true, false, 1.0, 0, session::AudioMode::Idle, 0},
        AfterATake{"heard, then moved on from", true, true, 0.3, 0, session::AudioMode::Playing, 1},
        AfterATake{"heard only", false, true, 0.3, 0, session::AudioMode::Playing, 0},
        AfterATake{"a clipped take is heard and stays", true, true, 1.0, 0,
                   session::AudioMode::Playing, 0}));

TEST_F(SessionTest, AGoodTakeOnTheLastPendingPromptGoesRoundToTheFirstThatStillIs) {
  ChangeSettings([](session::SessionSettings& s) { s.autoAdvance = true; });
  Submit(session::CommandKind::Lesson, [this] { session.Next(); });
  Submit(session::CommandKind::Lesson, [this] { session.Next(); });
  SpeakATake(0.3);
  EXPECT_EQ(Current(), 1);  // a001 has its take, a002 has none
}

// Any command while the take is heard keeps the session where the operator left it.
TEST_F(SessionTest, ACommandWhileATakeIsHeardKeepsTheSessionThere) {
  ChangeSettings([](session::SessionSettings& s) { s.autoAdvance = s.autoPlay = true; });
  struct Case {
    const char* what;
    session::CommandKind kind;
    std::function<void()> command;
  } const cases[] = {
      {"Play stops it", session::CommandKind::Lesson, [this] { session.Play(); }},
      {"a box of its own", session::CommandKind::Window, [] {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SpeakATake(0.3);
    ASSERT_EQ(session.mode(), session::AudioMode::Playing);
    Submit(c.kind, c.command);
    Advance(2000);
    EXPECT_EQ(Current(), 0);
    EXPECT_EQ(session.mode(), session::AudioMode::Idle);
  }
}

// "[STOP]" with a margin after it: the take goes on until the margin is in, unless "[STOP]" is
// pressed again.
TEST_F(SessionTest, StopEndsTheTakeAfterItsMarginOrAtASecondPress) {
  constexpr int kRate = 22050;
  struct Case {
    std::uint32_t afterMs;
    bool pressedTwice;
    std::uint32_t takeMs;
  } const cases[] = {{0, false, 1500}, {500, false, 2000}, {500, true, 1500}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.afterMs << " ms, twice: " << c.pressedTwice);
    ChangeSettings([&c](session::SessionSettings& s) { s.postRollMs = c.afterMs; });
    Record();
    Advance(1500);
    Record();
    EXPECT_EQ(session.mode(),
              c.afterMs == 0 ? session::AudioMode::Idle : session::AudioMode::Recording);
    EXPECT_EQ(session.recordButton(), c.afterMs == 0 ? session::Session::RecordButton::Record
                                                     : session::Session::RecordButton::Stop);
    if (c.pressedTwice) {
      Record();
    }
    Advance(600);
    EXPECT_EQ(session.mode(), session::AudioMode::Idle);
    EXPECT_EQ(session.recordButton(), session::Session::RecordButton::Record);
    audio::WaveElement take;
    std::string error;
    ASSERT_TRUE(audio::ReadWaveFile(dir.wide() + u"/Prompt/unit/a001.wav", &take, &error)) << error;
    EXPECT_EQ(take.frames(), static_cast<std::uint64_t>(kRate) * c.takeMs / 1000);
  }
}

}  // namespace
}  // namespace voxtar::testing
