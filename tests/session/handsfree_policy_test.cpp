// SPDX-License-Identifier: GPL-3.0-or-later
// The hands-free sitting on the session, without a window: the simulated engine's input is a
// room with made-up readings in it, and the clock moves in 10 ms blocks as a real input's do.
#include "session/handsfree_policy.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "testing/synthetic_take.h"
#include "tests/session/session_test_support.h"

namespace voxtar::testing {
namespace {

using Phase = session::SittingState::Phase;

constexpr int kRate = 22050;
constexpr double kVoiceGain = 0.3;  // a good take's peak
constexpr double kClipGain = 2.0;   // a take that clips

// A reading placed in the room: `syllables` of made-up speech with a pause of `pauseS` halfway.
struct Reading {
  double at = 0.0;  // s of the clock
  std::vector<double> voice;
  double gain = kVoiceGain;

  // Where it rises above the level the take files are read at and sinks below it, in s from
  // its start; and its length.
  double Seconds() const { return static_cast<double>(voice.size()) / kRate; }
  std::pair<double, double> Audible(double upToS = 1e9) const {
    std::pair<double, double> span{-1.0, -1.0};
    const auto end = std::min(voice.size(), static_cast<std::size_t>(upToS * kRate));
    for (std::size_t n = 0; n < end; ++n) {
      if (std::abs(gain * voice[n]) > kAudible) {
        span.second = static_cast<double>(n) / kRate;
        if (span.first < 0.0) {
          span.first = span.second;
        }
      }
    }
    return span;
  }
  static constexpr double kAudible = 300.0 / 32768.0;  // -40 dBFS, 20 dB above the room
};

class HandsFreeTest : public SessionTest {
 protected:
  void SetUp() override {
    SessionTest::SetUp();
    session.SetPolicy(std::make_unique<session::HandsFreePolicy>());
    room_ = audio::PinkRoom(static_cast<std::size_t>(kRate) * 20, -60.0);
    engine.SetInputSignal([this](double seconds) { return Signal(seconds); });
    QObject::connect(&session, &session::Session::sittingChanged, [this] {
      const Phase phase = session.sitting().phase;
      if (phases.empty() || phases.back() != phase) {
        phases.push_back(phase);
      }
    });
  }

  double Signal(double seconds) const {
    const auto n = static_cast<std::int64_t>(std::floor(seconds * kRate));
    double value = room_[static_cast<std::size_t>(n) % room_.size()];
    for (const Reading& reading : readings_) {
      const std::int64_t at = n - std::llround(reading.at * kRate);
      if (at >= 0 && at < static_cast<std::int64_t>(reading.voice.size())) {
        value += reading.gain * reading.voice[static_cast<std::size_t>(at)];
      }
    }
    return value;
  }

  double Now() const { return static_cast<double>(engine.nowMs()) / 1000.0; }

  // A reading that begins `afterS` from now.
  const Reading& Say(double afterS, int syllables, double pauseS = 0.1, double gain = kVoiceGain) {
    readings_.push_back(
        {Now() + afterS,
         audio::SpokenSentence(kRate, static_cast<std::uint32_t>(readings_.size()) + 7, pauseS,
                               syllables),
         gain});
    return readings_.back();
  }

  // The clock moves on in blocks, every notice taken as it comes.
  void Run(double seconds) {
    for (auto ms = static_cast<int>(seconds * 1000); ms > 0; ms -= 10) {
      engine.Advance(10);
      QCoreApplication::sendPostedEvents();
      Settle();
    }
  }

  // The prompt's take file: its length and where its sound rises out of the room and sinks
  // back, in s.
  struct TakeFile {
    double seconds = 0.0;
    double firstSound = 0.0;
    double lastSound = 0.0;
  };
  TakeFile Take(const char16_t* name) const {
    audio::WaveElement take;
    std::string error;
    EXPECT_TRUE(audio::ReadWaveFile(dir.wide() + u"/Prompt/unit/" + name, &take, &error)) << error;
    std::vector<std::byte> bytes = audio::Bytes(take);
    TakeFile file{static_cast<double>(take.frames()) / kRate, -1.0, -1.0};
    for (std::size_t n = 0; n + 1 < bytes.size(); n += 2) {
      const auto sample = static_cast<std::int16_t>(std::to_integer<int>(bytes[n]) |
                                                    (std::to_integer<int>(bytes[n + 1]) << 8));
      if (std::abs(sample) > 300) {
        const double at = static_cast<double>(n) / 2.0 / kRate;
        file.lastSound = at;
        if (file.firstSound < 0.0) {
          file.firstSound = at;
        }
      }
    }
    return file;
  }

  // How long the take runs on after the reading's last sample, in s.
  static double TailAfter(const TakeFile& take, const Reading& reading) {
    return take.seconds - (take.firstSound - reading.Audible().first) - reading.Seconds();
  }

  std::vector<Phase> phases;

 private:
  std::vector<double> room_;
  std::vector<Reading> readings_;
};

// Three prompts read one after the other: each gets its take, whole, and the sitting moves on by
// itself and ends when no prompt is left.
TEST_F(HandsFreeTest, ASittingRecordsThreePromptsAndEndsWhenNoneIsLeft) {
  Record();
  EXPECT_EQ(session.recordButton(), session::Session::RecordButton::Stop);
  Run(0.5);
  EXPECT_EQ(session.sitting().phase, Phase::Listening);
  const char16_t* const names[] = {u"a001.wav", u"a002.wav", u"a003.wav"};
  for (int prompt = 0; prompt < 3; ++prompt) {
    SCOPED_TRACE(prompt);
    ASSERT_EQ(Current(), prompt);
    const Reading& reading = Say(0.4, 4);
    Run(reading.Seconds() + 2.0);
    // The lead-in before the first syllable, the whole reading, then the end-silence and no more
    // than a block or two beyond it.
    const TakeFile take = Take(names[prompt]);
    const auto [first, last] = reading.Audible();
    EXPECT_GT(take.firstSound, 0.2);
    EXPECT_GE(take.lastSound - take.firstSound, last - first - 0.01);
    EXPECT_LE(take.lastSound - take.firstSound, reading.Seconds());
    EXPECT_GE(TailAfter(take, reading), 0.8 - 0.1);
    EXPECT_LE(TailAfter(take, reading), 0.8 + 0.15);
    if (prompt < 2) {
      EXPECT_EQ(session.sitting().phase, Phase::Listening);
      EXPECT_EQ(session.recordButton(), session::Session::RecordButton::Stop);
    }
  }
  EXPECT_EQ(session.sitting().phase, Phase::Off);
  EXPECT_EQ(session.recordButton(), session::Session::RecordButton::Record);
  EXPECT_EQ(Current(), 2);
  EXPECT_NE(std::find(phases.begin(), phases.end(), Phase::Ending), phases.end());
}

// A pause inside a reading that is not yet complete is waited out, whatever the end-silence.
TEST_F(HandsFreeTest, APauseInsideALongReadingNeverEndsItsTake) {
  struct Case {
    std::uint32_t endSilenceMs;
    double pauseS;
  } const cases[] = {{500, 1.2}, {800, 1.0}, {800, 1.2}, {1200, 1.2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.endSilenceMs << " ms, pause " << c.pauseS << " s");
    ChangeSettings([&c](session::SessionSettings& s) { s.endSilenceMs = c.endSilenceMs; });
    person.typed = u"Good morning, my friend, how are you today";
    Record();
    const Reading& reading = Say(0.5, 10, c.pauseS);
    Run(reading.Seconds() + 3.0);
    const TakeFile take = Take(u"a001.wav");
    const auto [first, last] = reading.Audible();
    EXPECT_GE(take.lastSound - take.firstSound, last - first - 0.01);
    // Once complete, it ends as soon as any reading does.
    EXPECT_LE(TailAfter(take, reading), c.endSilenceMs / 1000.0 + 0.15);
    Record();  // the sitting ends; the next case starts again on a001
    Submit(session::CommandKind::Lesson, [this] { session.lesson().MoveTo(0); });
    EXPECT_EQ(session.sitting().phase, Phase::Off);
  }
}

// A take that fails its check stays on its prompt, the earlier take kept in the history, and the
// sitting listens for the re-read, which moves on.
TEST_F(HandsFreeTest, AFlaggedTakeStaysAndTheReReadMovesOn) {
  Record();
  const Reading& clipped = Say(0.4, 4, 0.1, kClipGain);
  Run(clipped.Seconds() + 2.0);
  EXPECT_EQ(Current(), 0);
  EXPECT_EQ(session.sitting().phase, Phase::Listening);
  EXPECT_GT(Take(u"a001.wav").firstSound, 0.0);
  EXPECT_EQ(session.flow().EarlierTakeCount(), 1);
  const Reading& reread = Say(0.4, 4);
  Run(reread.Seconds() + 2.0);
  EXPECT_EQ(Current(), 1);
  EXPECT_EQ(session.sitting().phase, Phase::Listening);
}

// The sitting pauses without a voice (nothing saved) and when a take fills the take limit (it is
// saved, and said); Record goes on listening.
TEST_F(HandsFreeTest, ASittingPausesUntilRecordGoesOn) {
  struct Case {
    const char* what;
    std::uint64_t takeLimitBytes;  // 0: as large as a file holds
    bool speak;
    Phase paused;
    bool saved;
  } const cases[] = {
      {"no voice", 0, false, Phase::WaitingForVoice, false},
      {"a take that fills the limit", std::uint64_t{2} * 2 * kRate, true, Phase::LimitReached,
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    engine.SetTakeLimitBytes(c.takeLimitBytes > 0 ? c.takeLimitBytes : audio::kWaveDataLimit);
    person.said.clear();
    Record();
    if (c.speak) {
      Say(0.4, 16);
    }
    Run(10.5);
    EXPECT_EQ(session.sitting().phase, c.paused);
    EXPECT_EQ(session.recordButton(), session::Session::RecordButton::Stop);
    EXPECT_EQ(Take(u"a001.wav").firstSound > 0.0, c.saved);
    EXPECT_EQ(person.said.size(), c.saved ? 1u : 0u);
    EXPECT_EQ(Current(), 0);
    Record();
    EXPECT_EQ(session.sitting().phase, Phase::Listening);
    Run(0.5);
    EXPECT_EQ(session.sitting().phase, Phase::Listening);
    Record();  // ends the sitting for the next case
    EXPECT_EQ(session.sitting().phase, Phase::Off);
  }
}

// What the operator does in the middle of a sitting: Record ends it (a take with voice saved as
// "[STOP]" saves it), Ctrl+Shift+R drops the take and listens again, any other command ends the
// sitting first, its take saved before the command runs.
TEST_F(HandsFreeTest, TheOperatorEndsTheSittingOrDropsATake) {
  struct Case {
    const char* what;
    double afterS;  // into the reading
    session::CommandKind kind;
    void (session::Session::*command)();
    bool saved;
    Phase phase;
    int index;
  } const cases[] = {
      {"Record mid-take", 1.0, session::CommandKind::Record, &session::Session::Record, true,
       Phase::Off, 0},
      {"Record while listening", -0.2, session::CommandKind::Record, &session::Session::Record,
       false, Phase::Off, 0},
      {"Ctrl+Shift+R mid-take", 1.0, session::CommandKind::Discard, &session::Session::DiscardTake,
       false, Phase::Listening, 0},
      {">> mid-take", 1.0, session::CommandKind::Lesson, &session::Session::Next, true, Phase::Off,
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Submit(session::CommandKind::Lesson, [this] { session.lesson().MoveTo(0); });
    ASSERT_EQ(session.sitting().phase, Phase::Off);
    const TakeFile before = Take(u"a001.wav");
    Record();
    const Reading& reading = Say(0.5, 12);
    Run(0.5 + c.afterS);
    Submit(c.kind, [this, &c] { (session.*c.command)(); });
    Run(1.0);
    const TakeFile after = Take(u"a001.wav");
    EXPECT_EQ(after.seconds != before.seconds, c.saved);
    if (c.saved) {
      // The reading up to the command, and the margin after it.
      const auto [first, last] = reading.Audible(c.afterS);
      EXPECT_GE(after.lastSound - after.firstSound, last - first - 0.01);
      EXPECT_LT(after.seconds, reading.Seconds());
    }
    EXPECT_EQ(session.sitting().phase, c.phase);
    EXPECT_EQ(Current(), c.index);
    EXPECT_EQ(session.recordButton(), c.phase == Phase::Off ? session::Session::RecordButton::Record
                                                            : session::Session::RecordButton::Stop);
    if (c.phase != Phase::Off) {
      // The re-read is taken as any reading is.
      Run(reading.Seconds());
      const Reading& reread = Say(0.5, 4);
      Run(reread.Seconds() + 2.0);
      EXPECT_GT(Take(u"a001.wav").firstSound, 0.0);
      EXPECT_EQ(Current(), 1);
      Record();
    }
    Run(reading.Seconds());
  }
}

TEST(ReadingPace, ExpectsTheVoiceOfTheTextAtTheLearnedPace) {
  struct Case {
    const char16_t* text;
    double syllables;
  } const cases[] = {
      {u"Good morning, my friend", 5},
      {u"\u0414\u043e\u0431\u0440\u043e\u0435 \u0443\u0442\u0440\u043e", 4},  // Russian
      {u"\u304a\u306f\u3088\u3046", 4},                                       // kana
      {u"Brr, psst!", 3},                                                     // no vowels
      {u"Room 42", 3},
      {u"", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(session::ReadingPace::Syllables(c.text), c.syllables) << platform::ToUtf8(c.text);
  }
  session::ReadingPace pace;
  EXPECT_DOUBLE_EQ(pace.ExpectedVoiceSeconds(u"Good morning"),
                   3 * session::ReadingPace::kDefaultSecondsPerSyllable);
  pace.Learn(u"Good morning", 0.6);
  pace.Learn(u"one two", 10.0);  // not a reading of its text
  EXPECT_DOUBLE_EQ(pace.secondsPerSyllable(), 0.2);
  // Short of the expected, a pause is waited out for longer.
  EXPECT_EQ(session::HandsFreePolicy::EndSilenceMs(800, 1.0, 2.0),
            session::HandsFreePolicy::kIncompleteWaitMs);
  EXPECT_EQ(session::HandsFreePolicy::EndSilenceMs(800, 1.3, 2.0), 800u);
  EXPECT_EQ(session::HandsFreePolicy::EndSilenceMs(3000, 0.1, 2.0), 3000u);
}

}  // namespace
}  // namespace voxtar::testing
