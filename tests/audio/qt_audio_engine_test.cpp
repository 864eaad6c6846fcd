// The real engine on a real sound server. Run under with-pulseaudio.sh, which starts a private
// PulseAudio server whose default input hears the default output; without it these tests skip.
// The NoSoundServer tests run in a process whose PULSE_SERVER names no server.
#include "audio/qt_audio_engine.h"

#include <gtest/gtest.h>
#include <QProcess>

#include <chrono>
#include <cstdlib>

#include "audio/wave_device.h"
#include "platform/file_system.h"
#include "tests/audio/audio_test_support.h"
#include "tests/support/temp_dir.h"

namespace voxtar::audio {
namespace {

using testing::BoxRecorder;
using testing::NoticeCollector;
using testing::ReadBytes;
using testing::ReadSound;
using testing::Spin;
using testing::TempDir;
using testing::WaitUntil;
using testing::WriteTone;

using testing::Wide;

bool ServerRunning() {
  return std::getenv("VOXTAR_PULSE_PID") != nullptr;
}

class RealEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!ServerRunning()) {
      GTEST_SKIP() << "needs the private sound server of with-pulseaudio.sh";
    }
  }

  void TearDown() override {
    if (player_.state() != QProcess::NotRunning) {
      player_.kill();
      player_.waitForFinished(5000);
    }
  }

  // Plays a 48 kHz stereo tone into the server from another process, as a speaker would.
  void StartTone(double frequency, double amplitude, double seconds) {
    const auto tone = dir_ / "tone-source.wav";
    WriteTone(tone, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 2, seconds, frequency, amplitude);
    player_.start(QStringLiteral("paplay"), {QString::fromStdString(tone.string())});
    ASSERT_TRUE(player_.waitForStarted(5000));
    Spin(300);  // until the tone flows through the monitor
  }

  TempDir dir_;
  BoxRecorder boxes_;
  NoticeCollector notify_;
  QtAudioEngine engine_;
  QProcess player_;
};

struct TemplateFormat {
  const char* name;
  int format;
  int rate;
  int channels;
  double quantum;  // the format's smallest step, for the level tolerance
};

class RecordsInTemplateFormat : public RealEngine,
                                public ::testing::WithParamInterface<TemplateFormat> {};

TEST_P(RecordsInTemplateFormat, ToneArrivesInTheTemplateFormatAndTheTemplateStaysAsItWas) {
  const TemplateFormat& param = GetParam();
  const auto templatePath = dir_ / "sample.wav";
  WriteTone(templatePath, param.format, param.rate, param.channels, 0.25, 300.0, 0.1);
  const std::string templateBytes = ReadBytes(templatePath);
  const auto take = dir_ / "take.wav";

  StartTone(1000.0, 0.5, 4.0);
  WaveDevice device(Wide(templatePath), &notify_, engine_);
  ASSERT_NE(device.deviceId(), 0);
  device.Record(0, 0);
  EXPECT_EQ(device.state(), WaveState::Recording);
  Spin(1000);
  device.Stop();
  EXPECT_EQ(device.state(), WaveState::Stopped);
  EXPECT_TRUE(device.Save(Wide(take)));
  device.Close();
  EXPECT_TRUE(boxes_.boxes.empty()) << boxes_.boxes.front().text.toStdString();

  const auto sound = ReadSound(take);
  EXPECT_EQ(sound.info.format, param.format);
  EXPECT_EQ(sound.info.samplerate, param.rate);
  EXPECT_EQ(sound.info.channels, param.channels);
  const double seconds = static_cast<double>(sound.info.frames) / param.rate;
  EXPECT_GT(seconds, 0.9);
  EXPECT_LT(seconds, 1.3);
  const auto rate = static_cast<std::size_t>(param.rate);
  for (const auto& channel : sound.channels) {
    // Skip the first 50 ms in case the first fragment is partly from before the tone.
    EXPECT_NEAR(testing::ToneFrequency(channel, param.rate, rate / 20), 1000.0, 10.0);
    EXPECT_NEAR(testing::Rms(channel, rate / 20), 0.5 / std::sqrt(2.0), 0.03 + param.quantum);
  }
  EXPECT_EQ(ReadBytes(templatePath), templateBytes);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, RecordsInTemplateFormat,
    ::testing::Values(
        TemplateFormat{"U8Mono22050", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 22050, 1, 1.0 / 128},
        TemplateFormat{"Pcm16Stereo48000", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, 0.0},
        TemplateFormat{"Pcm16Mono22050", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 22050, 1, 0.0},
        TemplateFormat{"Pcm24WavexMono48000", SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, 48000, 1, 0.0},
        TemplateFormat{"Pcm32Stereo22050", SF_FORMAT_WAV | SF_FORMAT_PCM_32, 22050, 2, 0.0},
        TemplateFormat{"FloatStereo22050", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 22050, 2, 0.0},
        TemplateFormat{"FloatMono48000", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1, 0.0}),
    [](const ::testing::TestParamInfo<TemplateFormat>& format) { return format.param.name; });

TEST_F(RealEngine, PlaybackPostsOneSuccessfulNoticeOnlyAfterItsLastSampleWasHeard) {
  const auto file = dir_ / "prompt.wav";
  WriteTone(file, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, 1.0, 700.0, 0.5);
  // A recorder on the server's input hears what the sink plays.
  const auto listenTemplate = dir_ / "listen.wav";
  WriteTone(listenTemplate, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1, 0.0, 0.0, 0.0);
  WaveDevice listener(Wide(listenTemplate), nullptr, engine_);
  listener.Record(0, 0);
  Spin(200);

  WaveDevice device(Wide(file), &notify_, engine_);
  ASSERT_EQ(device.length(), 1000u);
  const auto started = std::chrono::steady_clock::now();
  device.Play(0, 0);
  ASSERT_EQ(device.state(), WaveState::Playing);
  ASSERT_TRUE(WaitUntil([&] { return !notify_.notices.empty(); }, 4000));
  listener.Stop();
  const auto noticeAfter = notify_.notices.front().at - started;
  Spin(400);

  ASSERT_EQ(notify_.notices.size(), 1u);
  EXPECT_EQ(notify_.notices.front().code, NotifyCode::Successful);
  EXPECT_EQ(notify_.notices.front().device, device.deviceId());
  EXPECT_GE(noticeAfter, std::chrono::milliseconds(1000));
  EXPECT_LT(noticeAfter, std::chrono::milliseconds(2000));
  EXPECT_EQ(device.state(), WaveState::Playing);  // until the owner stops it
  device.Stop();
  device.Close();

  // Everything up to the last sample reached the sink before the notice was sent.
  const auto heard = dir_ / "heard.wav";
  ASSERT_TRUE(listener.Save(Wide(heard)));
  listener.Close();
  const auto sound = ReadSound(heard);
  const auto [first, last] = testing::LoudSpan(sound.channels[0], 0.25);
  ASSERT_LT(first, last);
  EXPECT_GE(static_cast<double>(last - first) / 48000.0, 0.99);
  EXPECT_TRUE(boxes_.boxes.empty());
}

TEST_F(RealEngine, StopCutsAPlaybackShortWithAnAbortedNotice) {
  const auto file = dir_ / "long.wav";
  WriteTone(file, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 22050, 1, 3.0, 500.0, 0.3);
  WaveDevice device(Wide(file), &notify_, engine_);
  device.Play(0, 0);
  Spin(300);
  device.Stop();
  EXPECT_EQ(device.state(), WaveState::Stopped);
  Spin(100);
  ASSERT_EQ(notify_.notices.size(), 1u);
  EXPECT_EQ(notify_.notices.front().code, NotifyCode::Aborted);
  // Played again from the start, it runs to its end.
  device.Play(0, 1000);
  ASSERT_TRUE(WaitUntil([&] { return notify_.notices.size() == 2; }, 3000));
  EXPECT_EQ(notify_.notices.back().code, NotifyCode::Successful);
  device.Stop();
  device.Close();
}

// Runs pactl against the test server; its standard output.
std::string Pactl(const QStringList& arguments) {
  QProcess pactl;
  pactl.start(QStringLiteral("pactl"), arguments);
  pactl.waitForFinished(5000);
  return pactl.readAllStandardOutput().toStdString();
}

// Suspends or resumes a device of the test server, as a device that stops delivering would.
void Suspend(const char* kind, const char* name, bool suspended) {
  Pactl({QStringLiteral("suspend-%1").arg(QLatin1String(kind)), QLatin1String(name),
         suspended ? QStringLiteral("1") : QStringLiteral("0")});
}

TEST_F(RealEngine, AnInputLostMidRecordingEndsItWithAnErrorAndKeepsWhatWasCaptured) {
  const auto templatePath = dir_ / "sample.wav";
  WriteTone(templatePath, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, 0.0, 0.0, 0.0);
  StartTone(800.0, 0.5, 6.0);
  WaveDevice device(Wide(templatePath), &notify_, engine_);
  device.Record(0, 0);
  Spin(500);
  Suspend("source", "voxtar_in", true);
  Spin(2600);
  Suspend("source", "voxtar_in", false);
  const auto before = std::chrono::steady_clock::now();
  device.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(500));
  ASSERT_EQ(boxes_.boxes.size(), 1u);
  EXPECT_EQ(boxes_.boxes[0].caption, QStringLiteral("Wave Stop Error"));
  EXPECT_TRUE(boxes_.boxes[0].text.contains(QStringLiteral("cut short")))
      << boxes_.boxes[0].text.toStdString();
  EXPECT_EQ(boxes_.boxes[0].owner, nullptr);

  // The take up to the loss is saved; the device records again once asked.
  const auto take = dir_ / "take.wav";
  ASSERT_TRUE(device.Save(Wide(take)));
  const auto sound = ReadSound(take);
  EXPECT_GT(sound.info.frames, 48000 * 3 / 10);
  EXPECT_LT(sound.info.frames, 48000 * 8 / 10);
  device.Record(0, 0);
  EXPECT_EQ(device.state(), WaveState::Recording);
  Spin(300);
  device.Stop();
  EXPECT_EQ(device.state(), WaveState::Stopped);
  device.Close();
  EXPECT_EQ(boxes_.boxes.size(), 1u);
}

TEST_F(RealEngine, AnOutputLostMidPlaybackEndsItWithAFailureNotice) {
  const auto file = dir_ / "prompt.wav";
  WriteTone(file, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 22050, 1, 3.0, 440.0, 0.3);
  WaveDevice device(Wide(file), &notify_, engine_);
  device.Play(0, 0);
  Spin(300);
  Suspend("sink", "voxtar_out", true);
  const bool ended = WaitUntil([&] { return !notify_.notices.empty(); }, 6000);
  Suspend("sink", "voxtar_out", false);
  ASSERT_TRUE(ended);
  EXPECT_EQ(notify_.notices.front().code, NotifyCode::Failure);
  device.Stop();
  EXPECT_EQ(device.state(), WaveState::Stopped);
  EXPECT_TRUE(boxes_.boxes.empty());
  // Playing again works.
  device.Play(0, 500);
  ASSERT_TRUE(WaitUntil([&] { return notify_.notices.size() == 2; }, 3000));
  EXPECT_EQ(notify_.notices.back().code, NotifyCode::Successful);
  device.Stop();
  device.Close();
}

// The server dies while one device records and another plays: both end with an error, and
// nothing that follows crashes or hangs. Runs in its own process, as the server is gone after.
TEST(SoundServerGone, RecordingAndPlaybackEndWithErrorsAndNothingHangs) {
  const char* pid = std::getenv("VOXTAR_PULSE_PID");
  if (pid == nullptr || std::getenv("VOXTAR_KILL_SERVER") == nullptr) {
    GTEST_SKIP() << "runs only in its own process under with-pulseaudio.sh";
  }
  TempDir dir;
  BoxRecorder boxes;
  NoticeCollector notify;
  const auto templatePath = dir / "sample.wav";
  WriteTone(templatePath, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 22050, 1, 0.0, 0.0, 0.0);
  const auto prompt = dir / "prompt.wav";
  WriteTone(prompt, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 22050, 1, 5.0, 440.0, 0.3);
  QtAudioEngine engine;
  WaveDevice recorder(Wide(templatePath), nullptr, engine);
  WaveDevice player(Wide(prompt), &notify, engine);
  recorder.Record(0, 0);
  player.Play(0, 0);
  Spin(500);
  ASSERT_EQ(std::system((std::string("kill -KILL ") + pid).c_str()), 0);

  const auto started = std::chrono::steady_clock::now();
  ASSERT_TRUE(WaitUntil([&] { return !notify.notices.empty(); }, 4000));
  EXPECT_EQ(notify.notices.front().code, NotifyCode::Failure);
  Spin(2500);
  recorder.Stop();
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].caption, QStringLiteral("Wave Stop Error"));
  EXPECT_TRUE(recorder.Save(Wide(dir / "take.wav")));  // what came in before is kept
  player.Stop();
  player.Play(0, 0);      // fails quietly: no server
  recorder.Record(0, 0);  // fails with its box
  EXPECT_EQ(recorder.state(), WaveState::Stopped);
  EXPECT_EQ(boxes.boxes.size(), 2u);
  player.Close();
  recorder.Close();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
}

TEST(NoSoundServer, EveryOperationGivesAClearErrorAndNothingHangs) {
  if (ServerRunning() || std::getenv("VOXTAR_EXPECT_NO_SERVER") == nullptr) {
    GTEST_SKIP() << "runs only where no sound server can be reached";
  }
  TempDir dir;
  BoxRecorder boxes;
  const auto file = dir / "sample.wav";
  WriteTone(file, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 22050, 1, 0.5, 440.0, 0.5);
  QtAudioEngine engine;
  const auto started = std::chrono::steady_clock::now();
  WaveDevice device(Wide(file), nullptr, engine);
  EXPECT_EQ(device.deviceId(), 0);
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].text, QString::fromStdString(file.string()));
  EXPECT_TRUE(boxes.boxes[0].caption.contains(QStringLiteral("No sound system")))
      << boxes.boxes[0].caption.toStdString();
  device.Play(0, 0);
  device.Record(0, 0);
  EXPECT_FALSE(device.Save(Wide(dir / "take.wav")));
  device.Stop();
  device.Close();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
  ASSERT_EQ(boxes.boxes.size(), 3u);  // Record and Save each name the closed device
  EXPECT_EQ(boxes.boxes[1].caption, QStringLiteral("Error"));
  EXPECT_EQ(boxes.boxes[2].caption, QStringLiteral("Error"));
  EXPECT_FALSE(std::filesystem::exists(dir / "take.wav"));
}

}  // namespace
}  // namespace voxtar::audio
