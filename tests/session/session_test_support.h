// SPDX-License-Identifier: GPL-3.0-or-later
// Shared by the session's tests: the failures a wave device or the flow reports, recorded instead
// of shown; the operator, answering as told and saying back what the session told them; and a
// session on the simulated engine with a lesson loaded.
#pragma once

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QString>
#include <QTest>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "audio/failure_reporter.h"
#include "audio/wave_element.h"
#include "platform/utf8.h"
#include "session/manual_policy.h"
#include "session/operator.h"
#include "session/session.h"
#include "testing/simulated_audio_engine.h"
#include "tests/support/temp_dir.h"

namespace voxtar::testing {

class RecordedFailures final : public audio::FailureReporter {
 public:
  struct Report {
    QString text;
    QString caption;
  };
  void ReportFailure(const QString& text, const QString& caption) override {
    reports.push_back({text, caption});
  }
  std::vector<Report> reports;
};

// Types nothing unless told (`typed`): what it "has" is the current prompt's text, as a window
// shows it. Answers the unsaved-take question from `unsavedAnswers` (then Cancel), every other
// question with Cancel; `said` keeps what it was asked and told, in order.
class FakeOperator final : public session::Operator {
 public:
  std::u16string TypedText() const override {
    if (typed) {
      return *typed;
    }
    const lesson::PromptEntry* entry = lesson != nullptr ? lesson->current() : nullptr;
    if (entry == nullptr) {
      return u"***";
    }
    const std::u16string_view text = entry->text;
    return std::u16string(text.starts_with(u"> ") ? text.substr(2) : text);
  }
  HeldLesson AskAboutHeldLesson(const std::u16string&, const platform::LockFile::Holder&,
                                bool) override {
    Said("held lesson");
    return HeldLesson::Cancel;
  }
  bool ConfirmTakeOver(const std::string&) override {
    Said("take over");
    return false;
  }
  void TellViewingOnly(const std::filesystem::path&, const std::filesystem::path&) override {
    Said("viewing only");
  }
  void TellLinesBeyondLimits(const std::u16string&, const lesson::OverlongLine&, int) override {
    Said("lines beyond the limits");
  }
  bool AskToOverwriteChangedIndex(const std::u16string&, const std::string&) override {
    Said("overwrite");
    return false;
  }
  FailedWrite AskAfterFailedWrite(const std::u16string&, const std::string&, bool) override {
    Said("failed write");
    return FailedWrite::Cancel;
  }
  void TellNotLoaded(lesson::LoadResult, std::u16string_view, const std::u16string&) override {
    Said("not loaded");
  }
  void TellIndexNotWritten(const std::u16string&) override { Said("index not written"); }
  void TellProfileUnreadable(const std::string&) override { Said("profile unreadable"); }
  UnsavedTake AskAboutUnsavedTake(const std::u16string& name, const std::string&) override {
    Said("unsaved " + platform::ToUtf8(name));
    if (unsavedAnswers.empty()) {
      return UnsavedTake::Cancel;
    }
    const UnsavedTake answer = unsavedAnswers.front();
    unsavedAnswers.pop_front();
    return answer;
  }
  void TellTakeFilledItsFile(const std::u16string& name) override {
    Said("filled " + platform::ToUtf8(name));
  }
  void TellNoCurrentPrompt() override { Said("no current prompt"); }

  const lesson::Lesson* lesson = nullptr;
  std::optional<std::u16string> typed;
  std::deque<UnsavedTake> unsavedAnswers;
  std::vector<std::string> said;

 private:
  void Said(std::string what) { said.push_back(std::move(what)); }
};

// A session on the simulated engine in a working directory with a 22,050 Hz mono template and
// the lesson "Ini/unit.idx" of three prompts, a001 with a silent take of one second, loaded.
class SessionTest : public ::testing::Test {
 protected:
  static constexpr int kWav16 = 0x010002;  // WAV, 16-bit PCM

  void SetUp() override {
    person.lesson = &session.lesson();
    // The window shows the prompt again at every refresh: what was typed is gone.
    QObject::connect(&session, &session::Session::displayChanged, [this] { person.typed.reset(); });
    std::string error;
    ASSERT_TRUE(audio::WriteWaveFile(audio::MakeElement(kWav16, 22050, 1, 22050),
                                     dir.wide() + u"/sample.wav", &error));
    std::filesystem::create_directories(dir / "Prompt/unit");
    ASSERT_TRUE(audio::WriteWaveFile(audio::MakeElement(kWav16, 22050, 1, 22050),
                                     dir.wide() + u"/Prompt/unit/a001.wav", &error));
    WriteBytes(dir / "Ini/unit.idx", IndexBytes({u"a001.wav Hello there", u"a002.wav Good morning",
                                                 u"a003.wav Good night"}));
    Submit(session::CommandKind::Lesson, [this] { session.Load(dir.wide() + u"/Ini/unit.idx"); });
    ASSERT_EQ(session.lesson().state, lesson::LessonState::Saved);
  }

  // A command as the window gives it, and the save it started waited for.
  void Submit(session::CommandKind kind, std::function<void()> command) {
    session.Submit(kind, std::move(command));
    Settle();
  }
  void Record() {
    Submit(session::CommandKind::Record, [this] { session.Record(); });
  }
  void Settle() {
    EXPECT_TRUE(QTest::qWaitFor([this] { return !session.saving(); }, 10000))
        << "the take's save never ended";
  }
  // The clock moves on and the notices it brought are taken.
  void Advance(std::uint32_t ms) {
    engine.Advance(ms);
    QCoreApplication::sendPostedEvents();
    Settle();
  }
  // Room, voice at `amplitude`, room.
  void Speak(double amplitude) {
    engine.SetInputTone(440, 0.0);
    engine.Advance(400);
    engine.SetInputTone(440, amplitude);
    engine.Advance(800);
    engine.SetInputTone(440, 0.0);
    engine.Advance(500);
  }
  // A take as a speaker gives it: Record, the speech, [STOP], its save.
  void SpeakATake(double amplitude) {
    Record();
    ASSERT_EQ(session.mode(), session::AudioMode::Recording);
    Speak(amplitude);
    Record();
  }
  void ChangeSettings(const std::function<void(session::SessionSettings&)>& change) {
    session::SessionSettings changed = session.settings();
    change(changed);
    session.SetSettings(changed);
  }
  int Current() const { return session.lesson().prompts.currentIndex; }

  TempDir dir;
  ScopedWorkingDirectory cwd{dir.path()};
  audio::SimulatedAudioEngine engine;
  RecordedFailures failures;
  FakeOperator person;
  // Declared last, it goes first and closes its device while the engine exists.
  session::Session session{engine, failures, person, {}, std::make_unique<session::ManualPolicy>()};
};

}  // namespace voxtar::testing
