// SPDX-License-Identifier: GPL-3.0-or-later
// The session's gate and its policy, without a window: what a command does while a take is being
// saved or while another command waits on the operator, and what a policy of its own hears.
#include "session/session.h"

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tests/session/session_test_support.h"

namespace voxtar::testing {
namespace {

class SessionGate : public SessionTest {
 protected:
  // Record, a good take, and "[STOP]": the take's save is running when this returns.
  void StopATakeBeingSaved() {
    session.Submit(session::CommandKind::Record, [this] { session.Record(); });
    Speak(0.3);
    session.Submit(session::CommandKind::Record, [this] { session.Record(); });
    ASSERT_TRUE(session.saving());
  }
};

TEST_F(SessionGate, WhileATakeIsSavedCommandsWaitRecordIsIgnoredAndBoxesRun) {
  struct Case {
    session::CommandKind kind;
    std::vector<std::string> atOnce;  // what ran before the save was over
    std::vector<std::string> after;   // and once it was
  } const cases[] = {
      {session::CommandKind::Lesson, {}, {"saved and marked"}},
      {session::CommandKind::Discard, {}, {"saved and marked"}},
      {session::CommandKind::Record, {}, {}},  // "[STOP]" of a take already stopped
      {session::CommandKind::Window, {"saving"}, {"saving"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.kind));
    StopATakeBeingSaved();
    std::vector<std::string> ran;
    session.Submit(c.kind, [this, &ran] {
      ran.emplace_back(session.saving() ? "saving"
                       : session.lesson().current()->recorded != 0 &&
                               session.lesson().state == lesson::LessonState::Modified
                           ? "saved and marked"
                           : "neither");
    });
    EXPECT_EQ(ran, c.atOnce);
    Settle();
    EXPECT_EQ(ran, c.after);
    EXPECT_EQ(session.mode(), session::AudioMode::Idle);
    EXPECT_EQ(session.recordButton(), session::Session::RecordButton::Record);
  }
}

// What waited runs in order after what the save brings: the step after a good take, then the
// operator's commands and the notices as they came.
TEST_F(SessionGate, WhatWaitedForASaveRunsInOrderAfterIt) {
  ChangeSettings([](session::SessionSettings& s) { s.autoAdvance = true; });
  StopATakeBeingSaved();
  std::vector<int> at;
  session.Submit(session::CommandKind::Lesson, [this, &at] { at.push_back(Current()); });
  session.Submit(session::CommandKind::Lesson, [this] { session.Next(); });
  session.Submit(session::CommandKind::Lesson, [this, &at] { at.push_back(Current()); });
  EXPECT_TRUE(at.empty());
  Settle();
  EXPECT_EQ(at, (std::vector<int>{1, 2}));
}

// A box without owner leaves the window usable: a command given under it would act under the one
// waiting, so it is refused; a notice that comes meanwhile is taken right after.
TEST_F(SessionGate, UnderACommandWaitingOnTheOperatorCommandsAreRefusedAndNoticesWait) {
  Submit(session::CommandKind::Lesson, [this] { session.Next(); });
  session.Submit(session::CommandKind::Record, [this] { session.Record(); });
  engine.Advance(300);
  bool refusedRan = false;
  session.Submit(session::CommandKind::Window, [&] {
    session.Submit(session::CommandKind::Lesson, [&refusedRan] { refusedRan = true; });
    audio::RecordingNotice full(audio::RecordingCode::LimitReached,
                                session.flow().device()->deviceId());
    QCoreApplication::sendEvent(&session, &full);
    EXPECT_EQ(session.mode(), session::AudioMode::Recording);
  });
  EXPECT_FALSE(refusedRan);
  EXPECT_EQ(session.mode(), session::AudioMode::Idle);
  EXPECT_EQ(session.recordButton(), session::Session::RecordButton::Ended);
  Settle();
  EXPECT_EQ(session.lesson().current()->recorded, 1);
  EXPECT_EQ(person.said, std::vector<std::string>{"filled a002.wav"});
}

// A policy beside the manual one hears every turn of the session and drives it through the
// session's own operations.
class LoggingPolicy final : public session::SessionPolicy {
 public:
  explicit LoggingPolicy(std::vector<std::string>& log) : log_(log) {}
  void Record(session::Session& session) override {
    log_.emplace_back("record");
    if (session.mode() == session::AudioMode::Idle) {
      session.StartTake();
    } else {
      session.EndTake();
    }
  }
  void OperatorTookOver(session::Session& /*session*/, session::CommandKind kind) override {
    log_.push_back("took over " + std::to_string(static_cast<int>(kind)));
  }
  void TakeEnded(session::Session& /*session*/, const session::TakeEnd& end) override {
    log_.push_back(std::string(end.saved ? "saved" : "not saved") +
                   (end.byItself ? ", by itself" : "") + (end.limitReached ? ", full" : ""));
  }
  void TakeDiscarded(session::Session& /*session*/) override { log_.emplace_back("discarded"); }
  void PlaybackEnded(session::Session& /*session*/) override {
    log_.emplace_back("playback ended");
  }

 private:
  std::vector<std::string>& log_;
};

TEST_F(SessionTest, AnotherPolicyHearsEveryTurnOfTheSession) {
  std::vector<std::string> log;
  session.SetPolicy(std::make_unique<LoggingPolicy>(log));
  const std::string record =
      "took over " + std::to_string(static_cast<int>(session::CommandKind::Record));
  const std::string lesson =
      "took over " + std::to_string(static_cast<int>(session::CommandKind::Lesson));
  const std::string discard =
      "took over " + std::to_string(static_cast<int>(session::CommandKind::Discard));
  struct Step {
    std::function<void()> run;
    std::vector<std::string> heard;
  } const steps[] = {
      {[this] { Record(); }, {record, "record"}},
      {[this] { Advance(300); }, {}},
      {[this] { Record(); }, {record, "record", "saved"}},
      {[this] { Submit(session::CommandKind::Lesson, [this] { session.Play(); }); }, {lesson}},
      {[this] { Advance(2000); }, {"playback ended"}},
      {[this] { Record(); }, {record, "record"}},
      {[this] { Submit(session::CommandKind::Discard, [this] { session.DiscardTake(); }); },
       {discard, "discarded"}},
      {[this] { engine.SetTakeLimitBytes(22050); }, {}},  // half a second
      {[this] { Record(); }, {record, "record"}},
      {[this] { Advance(1000); }, {"saved, by itself, full"}},
  };
  for (const Step& step : steps) {
    log.clear();
    step.run();
    EXPECT_EQ(log, step.heard) << ::testing::PrintToString(step.heard);
  }
  EXPECT_EQ(person.said, std::vector<std::string>{"filled a001.wav"});
}

}  // namespace
}  // namespace voxtar::testing
