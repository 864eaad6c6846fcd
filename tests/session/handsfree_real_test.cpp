// SPDX-License-Identifier: GPL-3.0-or-later
// A hands-free sitting on a real sound server: run under with-pulseaudio.sh, whose default input
// hears what is played into it; without it the test skips.
#include <gtest/gtest.h>
#include <QProcess>
#include <QTest>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "audio/pulse_audio_engine.h"
#include "session/handsfree_policy.h"
#include "testing/synthetic_take.h"
#include "tests/session/session_test_support.h"

namespace voxtar::testing {
namespace {

constexpr int kWav16 = 0x010002;
constexpr int kWavFloat = 0x010006;
constexpr int kSourceRate = 48000;
constexpr double kAudible = 0.01;  // -40 dBFS: 20 dB above the room played with the readings

// The first and last sample above kAudible of `samples` at `rate`, in s (-1 when none).
std::pair<double, double> AudibleSpan(const std::vector<double>& samples, int rate) {
  std::pair<double, double> span{-1.0, -1.0};
  for (std::size_t n = 0; n < samples.size(); ++n) {
    if (std::fabs(samples[n]) > kAudible) {
      span.second = static_cast<double>(n) / rate;
      if (span.first < 0.0) {
        span.first = span.second;
      }
    }
  }
  return span;
}

std::vector<double> TakeSamples(const std::u16string& path) {
  audio::WaveElement take;
  std::string error;
  EXPECT_TRUE(audio::ReadWaveFile(path, &take, &error)) << error;
  const std::vector<std::byte> bytes = audio::Bytes(take);
  std::vector<double> samples;
  for (std::size_t n = 0; n + 1 < bytes.size(); n += 2) {
    samples.push_back(static_cast<std::int16_t>(std::to_integer<int>(bytes[n]) |
                                                (std::to_integer<int>(bytes[n + 1]) << 8)) /
                      32768.0);
  }
  return samples;
}

TEST(HandsFreeOnASoundServer, TwoSpokenPromptsGiveTwoWholeTakes) {
  if (std::getenv("VOXTAR_PULSE_PID") == nullptr) {
    GTEST_SKIP() << "needs the private sound server of with-pulseaudio.sh";
  }
  TempDir dir;
  const ScopedWorkingDirectory cwd{dir.path()};
  std::string error;
  ASSERT_TRUE(audio::WriteWaveFile(audio::MakeElement(kWav16, 22050, 1, 22050),
                                   dir.wide() + u"/sample.wav", &error));
  std::filesystem::create_directories(dir / "Prompt/unit");
  WriteBytes(dir / "Ini/unit.idx",
             IndexBytes({u"a001.wav Good morning, my friend", u"a002.wav How are you today",
                         u"a003.wav Good night"}));

  // Two readings, each with a pause inside, in a quiet room, as the speaker says them.
  const std::vector<double> readings[] = {audio::SpokenSentence(kSourceRate, 3, 0.6, 5),
                                          audio::SpokenSentence(kSourceRate, 4, 0.8, 6)};
  const double gaps[] = {1.0, 3.0, 3.0};
  std::vector<double> source;
  for (int part = 0; part < 3; ++part) {
    source.resize(source.size() + static_cast<std::size_t>(gaps[part] * kSourceRate), 0.0);
    if (part < 2) {
      for (const double sample : readings[part]) {
        source.push_back(0.3 * sample);
      }
    }
  }
  const std::vector<double> room = audio::PinkRoom(source.size(), -60.0);
  audio::WaveElement played = audio::MakeElement(kWavFloat, kSourceRate, 1, source.size());
  audio::PutFrames(&played, 0, source.size(),
                   [&](std::uint64_t n, std::size_t) { return source[n] + room[n]; });
  ASSERT_TRUE(audio::WriteWaveFile(played, dir.wide() + u"/readings.wav", &error)) << error;

  audio::PulseAudioEngine engine;
  RecordedFailures failures;
  FakeOperator person;
  session::Session session{
      engine, failures, person, {}, std::make_unique<session::HandsFreePolicy>()};
  person.lesson = &session.lesson();
  session.Submit(session::CommandKind::Lesson,
                 [&] { session.Load(dir.wide() + u"/Ini/unit.idx"); });
  ASSERT_EQ(session.lesson().state, lesson::LessonState::Saved);
  session.Submit(session::CommandKind::Record, [&] { session.Record(); });
  ASSERT_EQ(session.sitting().phase, session::SittingState::Phase::Listening);
  QTest::qWait(500);  // the room is heard before anyone speaks

  QProcess player;
  player.start(QStringLiteral("paplay"), {QString::fromStdString((dir / "readings.wav").string())});
  ASSERT_TRUE(player.waitForStarted(5000));
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        return session.lesson().prompts.currentIndex == 2 &&
               session.sitting().phase == session::SittingState::Phase::Listening &&
               !session.saving();
      },
      20000))
      << "the sitting is on prompt " << session.lesson().prompts.currentIndex;
  session.Submit(session::CommandKind::Record, [&] { session.Record(); });
  player.waitForFinished(10000);
  EXPECT_TRUE(failures.reports.empty());

  const char16_t* const names[] = {u"a001.wav", u"a002.wav"};
  for (int prompt = 0; prompt < 2; ++prompt) {
    SCOPED_TRACE(prompt);
    const std::vector<double> take = TakeSamples(dir.wide() + u"/Prompt/unit/" + names[prompt]);
    const auto [takeFirst, takeLast] = AudibleSpan(take, 22050);
    std::vector<double> spoken(readings[prompt]);
    for (double& sample : spoken) {
      sample *= 0.3;
    }
    const auto [first, last] = AudibleSpan(spoken, kSourceRate);
    // A lead-in before the first syllable, every syllable, then the end-silence.
    EXPECT_GT(takeFirst, 0.1);
    EXPECT_GE(takeLast - takeFirst, last - first - 0.02);
    EXPECT_GE(static_cast<double>(take.size()) / 22050 - takeLast, 0.7);
  }
}

}  // namespace
}  // namespace voxtar::testing
