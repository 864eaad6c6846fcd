// SPDX-License-Identifier: GPL-3.0-or-later
// The engine contract: what the wave device and the dialog rely on, run on every engine so the
// simulated one cannot drift from the real one. The real engine's cases run under
// with-pulseaudio.sh (the sound server's input hears its output) and skip elsewhere.
#include "audio/audio_engine.h"

#include <gtest/gtest.h>
#include <QProcess>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "audio/audio_errors.h"
#include "audio/pulse_audio_engine.h"
#include "platform/outcome.h"
#include "testing/simulated_audio_engine.h"
#include "testing/synthetic_take.h"
#include "tests/audio/audio_test_support.h"
#include "tests/support/temp_dir.h"

namespace voxtar::audio {
namespace {

using testing::NoticeCollector;
using testing::ReadBytes;
using testing::ReadSound;
using testing::SaveContent;
using testing::Spin;
using testing::TempDir;
using testing::Wide;
using testing::WriteTone;

// One engine under test and the world around it: how time passes and what the input hears.
class Harness {
 public:
  virtual ~Harness() = default;
  virtual AudioEngine& engine() = 0;
  // Lets `ms` of sound time pass, handling what comes back meanwhile.
  virtual void Let(int ms) = 0;
  // The input hears a steady tone from now on for `seconds`.
  virtual void HearTone(double frequency, double seconds) = 0;
  // How far a recorded length may be off what was asked for (the real sound takes time to start
  // and stop; the simulated one is exact).
  virtual double slackSeconds() const = 0;
};

class SimulatedHarness final : public Harness {
 public:
  AudioEngine& engine() override { return engine_; }
  void Let(int ms) override {
    for (int step = 0; step < ms; step += 10) {
      engine_.Advance(10);
      QCoreApplication::sendPostedEvents();
    }
  }
  void HearTone(double frequency, double) override { engine_.SetInputTone(frequency, 0.5); }
  double slackSeconds() const override { return 0.0; }

 private:
  SimulatedAudioEngine engine_;
};

class PulseHarness final : public Harness {
 public:
  explicit PulseHarness(const std::filesystem::path& dir) : dir_(dir) {}
  ~PulseHarness() override {
    if (player_.state() != QProcess::NotRunning) {
      player_.kill();
      player_.waitForFinished(5000);
    }
  }
  AudioEngine& engine() override { return engine_; }
  void Let(int ms) override { Spin(ms); }
  void HearTone(double frequency, double seconds) override {
    if (player_.state() != QProcess::NotRunning) {
      player_.kill();
      player_.waitForFinished(5000);
    }
    const auto tone = dir_ / "heard-tone.wav";
    WriteTone(tone, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 2, seconds + 0.5, frequency, 0.5);
    player_.start(QStringLiteral("paplay"), {QString::fromStdString(tone.string())});
    player_.waitForStarted(5000);
    Spin(250);  // until the tone flows through the monitor
  }
  double slackSeconds() const override { return 0.3; }

 private:
  std::filesystem::path dir_;
  PulseAudioEngine engine_;
  QProcess player_;
};

enum class Kind { Simulated, Pulse };

class EngineContract : public ::testing::TestWithParam<Kind> {
 protected:
  void SetUp() override {
    if (GetParam() == Kind::Pulse) {
      if (std::getenv("VOXTAR_PULSE_PID") == nullptr) {
        GTEST_SKIP() << "needs the private sound server of with-pulseaudio.sh";
      }
      harness_ = std::make_unique<PulseHarness>(dir_.path());
    } else {
      harness_ = std::make_unique<SimulatedHarness>();
    }
  }

  AudioEngine& engine() { return harness_->engine(); }

  DeviceId OpenOrFail(const std::filesystem::path& path) {
    DeviceId id = 0;
    const ErrorCode error = engine().Open(Wide(path), &id);
    EXPECT_EQ(error, kNoError) << engine().ErrorText(error).toStdString();
    return id;
  }

  TempDir dir_;
  std::unique_ptr<Harness> harness_;
  NoticeCollector notify_;
};

TEST_P(EngineContract, OpenReadsTheElementAndRefusesWhatIsNoSound) {
  const auto file = dir_ / "prompt.wav";
  WriteTone(file, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 22050, 1, 1.5, 440.0, 0.3);
  const DeviceId id = OpenOrFail(file);
  ASSERT_NE(id, 0);
  std::uint32_t length = 0;
  EXPECT_EQ(engine().QueryLength(id, &length), kNoError);
  EXPECT_EQ(length, 1500u);
  EXPECT_EQ(engine().Close(id), kNoError);

  DeviceId none = 7;
  const ErrorCode missing = engine().Open(Wide(dir_ / "missing.wav"), &none);
  EXPECT_NE(missing, kNoError);
  EXPECT_EQ(none, 0);
  EXPECT_TRUE(engine().ErrorText(missing).contains(QStringLiteral("cannot be opened")))
      << engine().ErrorText(missing).toStdString();
  // The reader's texts reach the window in full, a non-ASCII path included.
  const std::u16string lesson = Wide(dir_.path()) + u"/Урок";
  const ErrorCode gone = engine().Open(lesson + u"/нет.wav", &none);
  EXPECT_EQ(engine().ErrorText(gone),
            QStringLiteral("The sound file cannot be opened: ") +
                QString::fromStdU16String(lesson) + QStringLiteral("/нет.wav (") +
                QString::fromStdString(platform::SystemText(ENOENT)) + u')');
  testing::WriteBytes(dir_ / "text.wav", "not a sound at all");
  const ErrorCode text = engine().Open(Wide(dir_ / "text.wav"), &none);
  EXPECT_NE(text, kNoError);
  EXPECT_EQ(none, 0);
}

TEST_P(EngineContract, EveryCommandOnADeviceThatIsNotOpenFails) {
  const auto file = dir_ / "prompt.wav";
  WriteTone(file, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 22050, 1, 0.5, 440.0, 0.3);
  const DeviceId id = OpenOrFail(file);
  ASSERT_EQ(engine().Close(id), kNoError);
  std::uint32_t length = 0;
  for (const DeviceId gone : {DeviceId{0}, id}) {
    EXPECT_NE(engine().QueryLength(gone, &length), kNoError);
    EXPECT_NE(engine().Play(gone, 0, std::nullopt, &notify_), kNoError);
    EXPECT_NE(engine().Record(gone, 0, &notify_), kNoError);
    EXPECT_NE(engine().Stop(gone), kNoError);
    EXPECT_EQ(engine().Content(gone), nullptr);
    EXPECT_NE(engine().Close(gone), kNoError);
  }
  harness_->Let(100);
  EXPECT_TRUE(notify_.notices.empty());
}

TEST_P(EngineContract, APlaybackEndsWithOneNoticeAfterItsLengthAndAStopCutsItShort) {
  const auto file = dir_ / "prompt.wav";
  WriteTone(file, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, 0.6, 660.0, 0.3);
  const DeviceId id = OpenOrFail(file);
  const auto started = std::chrono::steady_clock::now();
  ASSERT_EQ(engine().Play(id, 0, std::nullopt, &notify_), kNoError);
  harness_->Let(400);
  EXPECT_TRUE(notify_.notices.empty());
  harness_->Let(800);
  ASSERT_EQ(notify_.notices.size(), 1u);
  EXPECT_EQ(notify_.notices[0].code, NotifyCode::Successful);
  EXPECT_EQ(notify_.notices[0].device, id);
  if (GetParam() == Kind::Pulse) {
    EXPECT_GE(notify_.notices[0].at - started, std::chrono::milliseconds(600));
  }
  EXPECT_EQ(engine().Stop(id), kNoError);  // the owner's answer to the notice
  harness_->Let(100);
  EXPECT_EQ(notify_.notices.size(), 1u);

  // Out of range: refused, nothing plays, no notice.
  EXPECT_NE(engine().Play(id, 700, 800, &notify_), kNoError);
  EXPECT_NE(engine().Play(id, 500, 400, &notify_), kNoError);

  ASSERT_EQ(engine().Play(id, 100, 600, &notify_), kNoError);
  harness_->Let(100);
  EXPECT_EQ(engine().Stop(id), kNoError);
  harness_->Let(100);
  ASSERT_EQ(notify_.notices.size(), 2u);
  EXPECT_EQ(notify_.notices[1].code, NotifyCode::Aborted);

  // Stopped or closed while playing: one notice each, never a late second one.
  ASSERT_EQ(engine().Play(id, 0, std::nullopt, &notify_), kNoError);
  harness_->Let(50);
  EXPECT_EQ(engine().Close(id), kNoError);
  harness_->Let(800);
  ASSERT_EQ(notify_.notices.size(), 3u);
  EXPECT_EQ(notify_.notices[2].code, NotifyCode::Aborted);
}

TEST_P(EngineContract, ARecordingOverwritesFromItsStartKeepsWhatLayBeforeAndExtends) {
  // The template: 1 s of a 300 Hz tone, 16-bit mono.
  const auto templatePath = dir_ / "sample.wav";
  WriteTone(templatePath, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 22050, 1, 1.0, 300.0, 0.2);
  const std::string templateBytes = ReadBytes(templatePath);
  harness_->HearTone(1000.0, 2.0);
  const DeviceId id = OpenOrFail(templatePath);
  ASSERT_EQ(engine().Record(id, 500, &notify_), kNoError);
  // A recording excludes a playback of the same device.
  EXPECT_NE(engine().Play(id, 0, std::nullopt, &notify_), kNoError);
  harness_->Let(1000);
  EXPECT_EQ(engine().Stop(id), kNoError);
  const auto take = dir_ / "take.wav";
  ASSERT_TRUE(SaveContent(engine(), id, take));
  std::uint32_t length = 0;
  ASSERT_EQ(engine().QueryLength(id, &length), kNoError);
  EXPECT_EQ(engine().Close(id), kNoError);

  const auto sound = ReadSound(take);
  EXPECT_EQ(sound.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  EXPECT_EQ(sound.info.samplerate, 22050);
  EXPECT_EQ(sound.info.channels, 1);
  const double seconds = static_cast<double>(sound.info.frames) / 22050.0;
  EXPECT_GE(seconds, 1.5 - 0.1 - harness_->slackSeconds() / 3);
  EXPECT_LE(seconds, 1.5 + harness_->slackSeconds());
  const auto& samples = sound.channels[0];
  EXPECT_NEAR(testing::ToneFrequency(samples, 22050, 0, 22050 * 45 / 100), 300.0, 10.0);
  EXPECT_NEAR(testing::ToneFrequency(samples, 22050, 22050 * 6 / 10), 1000.0, 10.0);
  // The template on disk is only ever read.
  EXPECT_EQ(ReadBytes(templatePath), templateBytes);
}

TEST_P(EngineContract, AStoppedRecordingHoldsTheTemplatesFormatAndWhatWasHeard) {
  const auto templatePath = dir_ / "sample.wav";
  WriteTone(templatePath, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 2, 0.0, 0.0, 0.0);
  harness_->HearTone(800.0, 1.0);
  const DeviceId id = OpenOrFail(templatePath);
  ASSERT_EQ(engine().Record(id, 0, &notify_), kNoError);
  harness_->Let(300);
  ASSERT_EQ(engine().Stop(id), kNoError);
  EXPECT_EQ(engine().Stop(id), kNoError);  // nothing running: nothing to say
  const auto take = dir_ / "take.wav";
  ASSERT_TRUE(SaveContent(engine(), id, take));
  const auto sound = ReadSound(take);
  EXPECT_EQ(sound.info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
  EXPECT_EQ(sound.info.channels, 2);
  EXPECT_NEAR(testing::ToneFrequency(sound.channels[1], 48000, 2400), 800.0, 10.0);
  EXPECT_EQ(engine().Close(id), kNoError);
}

TEST_P(EngineContract, ATakeStopsAtTheLimitWithOneNoticeAndIsSavedWholeAndExactly) {
  // 16-bit stereo: the limit holds 0.5 s and 3 bytes, short of one more frame.
  const auto templatePath = dir_ / "sample.wav";
  WriteTone(templatePath, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 22050, 2, 0.2, 300.0, 0.2);
  constexpr std::uint64_t kLimitFrames = 22050 / 2;
  engine().SetTakeLimitBytes(kLimitFrames * 4 + 3);
  harness_->HearTone(1000.0, 2.0);
  const DeviceId id = OpenOrFail(templatePath);
  ASSERT_EQ(engine().Record(id, 100, &notify_), kNoError);
  harness_->Let(1000);
  ASSERT_EQ(notify_.recordings.size(), 1u);
  EXPECT_EQ(notify_.recordings[0], std::pair(RecordingCode::LimitReached, id));
  EXPECT_EQ(engine().Stop(id), kNoError);
  const std::shared_ptr<const WaveElement> content = engine().Content(id);
  ASSERT_NE(content, nullptr);
  EXPECT_EQ(content->frames(), kLimitFrames);

  const auto take = dir_ / "take.wav";
  ASSERT_TRUE(SaveContent(engine(), id, take));
  WaveElement saved;
  std::string error;
  ASSERT_TRUE(ReadWaveFile(Wide(take), &saved, &error)) << error;
  EXPECT_EQ(Bytes(saved), Bytes(*content));

  // Under a lower limit the take is refused whole, and the file there stays as it was.
  engine().SetTakeLimitBytes(kLimitFrames * 4 - 1);
  const std::string before = ReadBytes(take);
  EXPECT_FALSE(SaveContent(engine(), id, take));
  EXPECT_EQ(ReadBytes(take), before);
  harness_->Let(100);
  EXPECT_EQ(notify_.recordings.size(), 1u);
  EXPECT_EQ(engine().Close(id), kNoError);
}

TEST_P(EngineContract, ContentNeverChangesWhileTheDeviceRecordsAgainNorAfterItIsClosed) {
  const auto templatePath = dir_ / "sample.wav";
  WriteTone(templatePath, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1, 0.3, 300.0, 0.2);
  harness_->HearTone(1000.0, 1.0);
  const DeviceId id = OpenOrFail(templatePath);
  ASSERT_EQ(engine().Record(id, 0, &notify_), kNoError);
  harness_->Let(300);
  const std::shared_ptr<const WaveElement> during = engine().Content(id);
  const std::vector<std::byte> duringBytes = Bytes(*during);
  harness_->Let(300);
  ASSERT_EQ(engine().Stop(id), kNoError);
  const std::shared_ptr<const WaveElement> recorded = engine().Content(id);
  const std::vector<std::byte> recordedBytes = Bytes(*recorded);
  EXPECT_GT(recorded->frames(), during->frames());

  // Recorded over again, with another tone.
  harness_->HearTone(600.0, 1.0);
  ASSERT_EQ(engine().Record(id, 0, &notify_), kNoError);
  harness_->Let(400);
  ASSERT_EQ(engine().Stop(id), kNoError);
  EXPECT_NE(Bytes(*engine().Content(id)), recordedBytes);
  EXPECT_EQ(engine().Close(id), kNoError);
  EXPECT_EQ(engine().Content(id), nullptr);
  EXPECT_EQ(Bytes(*during), duringBytes);
  EXPECT_EQ(Bytes(*recorded), recordedBytes);
}

TEST_P(EngineContract, TheChosenDeviceIsRememberedAndAnUnknownOneIsNoError) {
  EXPECT_EQ(engine().ChosenDevice(Direction::Input), "");
  engine().ChooseDevice(Direction::Input, "unplugged_microphone");
  engine().ChooseDevice(Direction::Output, "unplugged_speaker");
  EXPECT_EQ(engine().ChosenDevice(Direction::Input), "unplugged_microphone");
  EXPECT_EQ(engine().ChosenDevice(Direction::Output), "unplugged_speaker");
  const auto templatePath = dir_ / "sample.wav";
  WriteTone(templatePath, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, 0.5, 300.0, 0.2);
  const DeviceId id = OpenOrFail(templatePath);
  EXPECT_EQ(engine().Record(id, 0, &notify_), kNoError);
  harness_->Let(100);
  EXPECT_EQ(engine().Stop(id), kNoError);
  EXPECT_EQ(engine().Play(id, 0, 200, &notify_), kNoError);
  harness_->Let(600);
  ASSERT_EQ(notify_.notices.size(), 1u);
  EXPECT_EQ(notify_.notices[0].code, NotifyCode::Successful);
  EXPECT_EQ(engine().Close(id), kNoError);
}

// Receives LevelNotices as the meter does.
class LevelCollector final : public QObject {
 public:
  bool event(QEvent* event) override {
    if (event->type() == LevelNotice::kType) {
      levels.push_back(static_cast<LevelNotice*>(event)->summary());
      return true;
    }
    return QObject::event(event);
  }
  double loudest() const {
    double peak = 0.0;
    for (const LevelSummary& level : levels) {
      peak = std::max(peak, level.peak);
    }
    return peak;
  }
  std::vector<LevelSummary> levels;
};

TEST_P(EngineContract, TheLevelIsMeasuredOnWhatIsCapturedAndTheLevelCheckKeepsNothing) {
  LevelCollector meter;
  engine().SetLevelListener(&meter);
  harness_->HearTone(1000.0, 2.0);
  ASSERT_EQ(engine().StartLevelCheck({SampleKind::Int16, 48000, 1}), kNoError);
  EXPECT_TRUE(engine().levelCheckRunning());
  harness_->Let(500);
  // Fragments of about 10 ms: at least 20 a second.
  EXPECT_GE(meter.levels.size(), 10u);
  EXPECT_NEAR(meter.loudest(), 0.5, 0.08);
  EXPECT_FALSE(meter.levels.back().clipped);

  // A recording ends the check and is measured itself.
  const auto templatePath = dir_ / "sample.wav";
  WriteTone(templatePath, SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 22050, 1, 0.0, 0.0, 0.0);
  const DeviceId id = OpenOrFail(templatePath);
  ASSERT_EQ(engine().Record(id, 0, &notify_), kNoError);
  EXPECT_FALSE(engine().levelCheckRunning());
  harness_->Let(100);
  meter.levels.clear();
  harness_->Let(300);
  EXPECT_GE(meter.levels.size(), 5u);
  EXPECT_NEAR(meter.loudest(), 0.5, 0.08);
  EXPECT_EQ(engine().Stop(id), kNoError);
  EXPECT_EQ(engine().Close(id), kNoError);

  // Stopped, nothing more comes.
  ASSERT_EQ(engine().StartLevelCheck({SampleKind::Float, 44100, 2}), kNoError);
  harness_->Let(100);
  engine().StopLevelCheck();
  EXPECT_FALSE(engine().levelCheckRunning());
  harness_->Let(100);
  meter.levels.clear();
  harness_->Let(200);
  EXPECT_TRUE(meter.levels.empty());
  engine().SetLevelListener(nullptr);
}

// A tone whose period does not divide a 5 or 10 ms fragment: a fragment lost or repeated shifts
// its phase.
constexpr double kJointTone = 1030.0;

// The joint tone keeps its period and level in 10 ms windows for 30 ms either side of `at`.
void ExpectSeamlessAround(const std::vector<double>& samples, std::uint64_t at) {
  SCOPED_TRACE("around frame " + std::to_string(at));
  const auto from = static_cast<std::size_t>(at - 1440);
  EXPECT_EQ(testing::ToneBreaks(samples, 48000, kJointTone, from, from + 2880), 0);
  for (std::size_t window = from; window < from + 2880; window += 480) {
    EXPECT_NEAR(testing::Rms(samples, window, window + 480), 0.5 / std::sqrt(2.0), 0.03);
  }
}

TEST_P(EngineContract, AKeptOpenInputBeginsTheTakeWithItsLastFramesAndGoesOnSeamlessly) {
  const auto templatePath = dir_ / "sample.wav";
  WriteTone(templatePath, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, 0.0, 0.0, 0.0);
  const CaptureFormat format{SampleKind::Int16, 48000, 1};
  // On a real input the press falls up to two fragments after the last one in.
  const std::uint64_t pressSlack = harness_->slackSeconds() > 0 ? 960 : 0;
  LevelCollector meter;
  engine().SetLevelListener(&meter);
  ASSERT_EQ(engine().StartPreRoll(format, 200), kNoError);
  EXPECT_TRUE(engine().preRollRunning());
  EXPECT_EQ(CauseOf(engine().StartLevelCheck(format)), AudioError::Busy);  // measured already
  harness_->HearTone(kJointTone, 4.0);
  harness_->Let(300);
  const DeviceId id = OpenOrFail(templatePath);
  const auto record = [&] {
    EXPECT_EQ(engine().Record(id, 0, &notify_), kNoError);
    const std::uint64_t press = engine().PressFrame(id);
    EXPECT_GE(press, 9600u);
    EXPECT_LE(press, 9600u + pressSlack);
    return press;
  };
  const auto take = dir_ / "take.wav";
  const auto saved = [&] {
    EXPECT_TRUE(SaveContent(engine(), id, take));
    return ReadSound(take).channels[0];
  };

  const std::uint64_t press = record();
  harness_->Let(200);
  ASSERT_EQ(engine().Stop(id), kNoError);
  ExpectSeamlessAround(saved(), press);

  // It goes on for the next take, showing the level, and beside a playback.
  EXPECT_TRUE(engine().preRollRunning());
  meter.levels.clear();
  const auto prompt = dir_ / "prompt.wav";
  WriteTone(prompt, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, 0.2, 500.0, 0.01);
  const DeviceId player = OpenOrFail(prompt);
  ASSERT_EQ(engine().Play(player, 0, std::nullopt, &notify_), kNoError);
  harness_->Let(600);
  ASSERT_EQ(notify_.notices.size(), 1u);
  EXPECT_EQ(notify_.notices[0].code, NotifyCode::Successful);
  EXPECT_GE(meter.levels.size(), 20u);
  EXPECT_TRUE(engine().preRollRunning());

  // Started afresh in another format, it leaves the take it fed going on alone.
  record();
  harness_->Let(200);
  const std::uint64_t handedOver = engine().Content(id)->frames();
  ASSERT_EQ(engine().StartPreRoll({SampleKind::Float, 48000, 1}, 200), kNoError);
  harness_->Let(200);
  ASSERT_EQ(engine().Stop(id), kNoError);
  ExpectSeamlessAround(saved(), handedOver);
  EXPECT_TRUE(engine().preRollRunning());
  // A take in a format the input is not kept in starts a stream of its own.
  ASSERT_EQ(engine().Record(id, 0, &notify_), kNoError);
  EXPECT_EQ(engine().PressFrame(id), 0u);
  EXPECT_EQ(engine().Stop(id), kNoError);
  engine().StopPreRoll();
  EXPECT_FALSE(engine().preRollRunning());
  EXPECT_TRUE(notify_.recordings.empty());
  engine().SetLevelListener(nullptr);
}

TEST_P(EngineContract, AFinishingTakeRecordsItsFramesAfterTheStopThenSaysSoOnce) {
  const auto templatePath = dir_ / "sample.wav";
  WriteTone(templatePath, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, 0.0, 0.0, 0.0);
  harness_->HearTone(1000.0, 3.0);
  const DeviceId id = OpenOrFail(templatePath);
  ASSERT_EQ(engine().Record(id, 0, &notify_), kNoError);
  harness_->Let(300);
  const std::uint64_t before = engine().Content(id)->frames();
  ASSERT_EQ(engine().FinishRecording(id, 200), kNoError);
  harness_->Let(100);
  EXPECT_TRUE(notify_.recordings.empty());
  harness_->Let(300);
  ASSERT_EQ(notify_.recordings.size(), 1u);
  EXPECT_EQ(notify_.recordings[0], std::pair(RecordingCode::Finished, id));
  // 200 ms of frames after the call; one fragment may have come in between.
  const std::uint64_t after = engine().Content(id)->frames();
  EXPECT_GE(after - before, 9600u);
  EXPECT_LE(after - before, harness_->slackSeconds() > 0 ? 9600u + 960u : 9600u);
  harness_->Let(100);
  EXPECT_EQ(engine().Content(id)->frames(), after);
  EXPECT_EQ(engine().Stop(id), kNoError);
  EXPECT_EQ(engine().FinishRecording(id, 100), kNoError);  // not recording: Stop
  harness_->Let(100);
  EXPECT_EQ(notify_.recordings.size(), 1u);
  EXPECT_EQ(engine().Close(id), kNoError);
}

INSTANTIATE_TEST_SUITE_P(Engines, EngineContract, ::testing::Values(Kind::Simulated, Kind::Pulse),
                         [](const ::testing::TestParamInfo<Kind>& kind) {
                           return kind.param == Kind::Simulated ? "Simulated" : "Pulse";
                         });

}  // namespace
}  // namespace voxtar::audio
