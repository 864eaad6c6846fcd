// SPDX-License-Identifier: GPL-3.0-or-later
// The real engine on a real sound server. Run under with-pulseaudio.sh, which starts a private
// PulseAudio server whose default input hears the default output; without it these tests skip.
// The NoSoundServer tests run in a process whose PULSE_SERVER names no server.
#include "audio/pulse_audio_engine.h"

#include <gtest/gtest.h>
#include <QProcess>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "audio/audio_errors.h"
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
using testing::SaveContent;
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
  PulseAudioEngine engine_;
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
  WaveDevice device(Wide(templatePath), &notify_, engine_, boxes_);
  ASSERT_NE(device.deviceId(), 0);
  device.Record(0);
  EXPECT_EQ(device.state(), WaveState::Recording);
  Spin(1000);
  device.Stop();
  EXPECT_EQ(device.state(), WaveState::Stopped);
  EXPECT_TRUE(SaveContent(device, take));
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
  WaveDevice listener(Wide(listenTemplate), nullptr, engine_, boxes_);
  listener.Record(0);
  Spin(200);

  WaveDevice device(Wide(file), &notify_, engine_, boxes_);
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
  ASSERT_TRUE(SaveContent(listener, heard));
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
  WaveDevice device(Wide(file), &notify_, engine_, boxes_);
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
  WaveDevice device(Wide(templatePath), &notify_, engine_, boxes_);
  device.Record(0);
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

  // The take up to the loss is saved; the device records again once asked.
  const auto take = dir_ / "take.wav";
  ASSERT_TRUE(SaveContent(device, take));
  const auto sound = ReadSound(take);
  EXPECT_GT(sound.info.frames, 48000 * 3 / 10);
  EXPECT_LT(sound.info.frames, 48000 * 8 / 10);
  device.Record(0);
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
  WaveDevice device(Wide(file), &notify_, engine_, boxes_);
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

TEST_F(RealEngine, AChosenInputIsTheOneRecordedAndAVanishedOneGivesWayToTheDefault) {
  const auto templatePath = dir_ / "sample.wav";
  WriteTone(templatePath, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, 0.0, 0.0, 0.0);
  const std::vector<SoundDevice> inputs = engine_.Devices(Direction::Input);
  const auto has = [&](const char* name) {
    return std::any_of(inputs.begin(), inputs.end(),
                       [&](const SoundDevice& input) { return input.name == name; });
  };
  EXPECT_TRUE(has("voxtar_in"));
  EXPECT_TRUE(has("voxtar_aux_in"));
  EXPECT_FALSE(has("voxtar_out.monitor"));  // what an output plays is no microphone
  const std::vector<SoundDevice> outputs = engine_.Devices(Direction::Output);
  ASSERT_FALSE(outputs.empty());
  EXPECT_EQ(outputs.front().description.isEmpty(), false);

  // 1 kHz on the default input, 600 Hz on the other one.
  const auto aux = dir_ / "aux-tone.wav";
  WriteTone(aux, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 2, 4.0, 600.0, 0.5);
  QProcess auxPlayer;
  auxPlayer.start(QStringLiteral("paplay"), {QStringLiteral("--device=voxtar_aux_out"),
                                             QString::fromStdString(aux.string())});
  ASSERT_TRUE(auxPlayer.waitForStarted(5000));
  StartTone(1000.0, 0.5, 4.0);

  const auto recordFrom = [&](const std::string& input) {
    engine_.ChooseDevice(Direction::Input, input);
    WaveDevice device(Wide(templatePath), &notify_, engine_, boxes_);
    device.Record(0);
    Spin(600);
    device.Stop();
    const auto take = dir_ / "take.wav";
    EXPECT_TRUE(SaveContent(device, take));
    device.Close();
    const auto sound = ReadSound(take);
    return testing::ToneFrequency(sound.channels[0], 48000, 2400);
  };
  EXPECT_NEAR(recordFrom("voxtar_aux_in"), 600.0, 10.0);
  EXPECT_EQ(engine_.ChosenDevice(Direction::Input), "voxtar_aux_in");
  EXPECT_NEAR(recordFrom("unplugged_microphone"), 1000.0, 10.0);
  EXPECT_NEAR(recordFrom(""), 1000.0, 10.0);
  EXPECT_TRUE(boxes_.boxes.empty()) << boxes_.boxes.front().text.toStdString();
  auxPlayer.kill();
  auxPlayer.waitForFinished(5000);
}

TEST_F(RealEngine, StreamsTellTheDesktopWhoTheyAreAndWhatTheyCarry) {
  const auto templatePath = dir_ / "sample.wav";
  WriteTone(templatePath, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, 0.0, 0.0, 0.0);
  WaveDevice device(Wide(templatePath), &notify_, engine_, boxes_);
  engine_.SetMediaName(device.deviceId(), u"a001.wav");
  device.Record(0);
  Spin(100);
  const std::string outputs = Pactl({QStringLiteral("list"), QStringLiteral("source-outputs")});
  device.Stop();
  device.Close();
  EXPECT_NE(outputs.find("application.name = \"Voxtar\""), std::string::npos) << outputs;
  EXPECT_NE(outputs.find("application.icon_name = \"voxtar\""), std::string::npos) << outputs;
  EXPECT_NE(outputs.find("media.role = \"production\""), std::string::npos) << outputs;
  EXPECT_NE(outputs.find("media.name = \"Recording a001.wav\""), std::string::npos) << outputs;

  const auto prompt = dir_ / "a002.wav";
  WriteTone(prompt, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 22050, 1, 1.0, 440.0, 0.3);
  WaveDevice player(Wide(prompt), &notify_, engine_, boxes_);
  player.Play(0, 0);
  Spin(100);
  const std::string inputs = Pactl({QStringLiteral("list"), QStringLiteral("sink-inputs")});
  player.Stop();
  player.Close();
  EXPECT_NE(inputs.find("media.name = \"Playing a002.wav\""), std::string::npos) << inputs;
}

// Notes when the first loud block's level reached the GUI thread: about when the sound came in.
class FirstLoud final : public QObject {
 public:
  bool event(QEvent* event) override {
    if (event->type() == LevelNotice::kType) {
      if (!at && static_cast<LevelNotice*>(event)->summary().peak > 0.2) {
        at = std::chrono::steady_clock::now();
      }
      return true;
    }
    return QObject::event(event);
  }
  std::optional<std::chrono::steady_clock::time_point> at;
};

double MsSince(std::chrono::steady_clock::time_point from,
               std::chrono::steady_clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

TEST_F(RealEngine, AToneThatStartedBeforeThePressIsInTheTakeFromItsFirstPeriod) {
  const auto templatePath = dir_ / "sample.wav";
  WriteTone(templatePath, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, 0.0, 0.0, 0.0);
  FirstLoud meter;
  engine_.SetLevelListener(&meter);
  ASSERT_EQ(engine_.StartPreRoll({SampleKind::Int16, 48000, 1}, 500), kNoError);
  Spin(300);
  const auto tone = dir_ / "tone-source.wav";
  WriteTone(tone, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 2, 3.0, 1000.0, 0.5);
  player_.start(QStringLiteral("paplay"), {QString::fromStdString(tone.string())});
  ASSERT_TRUE(WaitUntil([&] { return meter.at.has_value(); }, 3000));
  // Record is pressed some 300 ms after the tone came in.
  WaitUntil([&] { return MsSince(*meter.at, std::chrono::steady_clock::now()) >= 300; }, 1000);
  DeviceId id = 0;
  ASSERT_EQ(engine_.Open(Wide(templatePath), &id), kNoError);
  const auto pressed = std::chrono::steady_clock::now();
  ASSERT_EQ(engine_.Record(id, 0, &notify_), kNoError);
  const std::uint64_t press = engine_.PressFrame(id);
  Spin(300);
  ASSERT_EQ(engine_.Stop(id), kNoError);
  const auto take = dir_ / "take.wav";
  ASSERT_TRUE(SaveContent(engine_, id, take));
  engine_.SetLevelListener(nullptr);

  // The take begins 500 ms before the press, in the silence before the tone.
  EXPECT_GE(press, 24000u);
  EXPECT_LE(press, 24000u + 960u);
  const auto samples = ReadSound(take).channels[0];
  const auto [onset, end] = testing::LoudSpan(samples, 0.25);
  ASSERT_LT(onset, press);
  // Its onset lies as far before the press as the tone came in before it (its level reached the
  // meter a fragment or two after it was captured).
  const double before = static_cast<double>(press - onset) / 48.0;
  const double cameIn = MsSince(*meter.at, pressed);
  EXPECT_GE(before, cameIn - 5.0);
  EXPECT_LE(before, cameIn + 40.0);
  EXPECT_LT(testing::Rms(samples, 0, onset), 0.01);
  EXPECT_NEAR(testing::ToneFrequency(samples, 48000, onset, onset + 480), 1000.0, 15.0);
  EXPECT_NEAR(testing::Rms(samples, onset, onset + 480), 0.5 / std::sqrt(2.0), 0.03);
  EXPECT_EQ(testing::ToneBreaks(samples, 48000, 1000.0, onset, end), 0);
  engine_.Close(id);
}

TEST_F(RealEngine, ALostInputEndsTheKeptOpenInputAndTheTakeItFedAndBothStartAgain) {
  const auto templatePath = dir_ / "sample.wav";
  WriteTone(templatePath, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, 0.0, 0.0, 0.0);
  const CaptureFormat format{SampleKind::Int16, 48000, 1};
  StartTone(800.0, 0.5, 8.0);
  ASSERT_EQ(engine_.StartPreRoll(format, 300), kNoError);
  Spin(400);
  DeviceId id = 0;
  ASSERT_EQ(engine_.Open(Wide(templatePath), &id), kNoError);
  ASSERT_EQ(engine_.Record(id, 0, &notify_), kNoError);
  Spin(300);
  Suspend("source", "voxtar_in", true);
  Spin(2600);
  Suspend("source", "voxtar_in", false);
  EXPECT_FALSE(engine_.preRollRunning());
  const ErrorCode lost = engine_.Stop(id);
  EXPECT_EQ(CauseOf(lost), AudioError::InputFailed);
  EXPECT_TRUE(engine_.ErrorText(lost).contains(QStringLiteral("cut short")))
      << engine_.ErrorText(lost).toStdString();
  EXPECT_GT(engine_.Content(id)->frames(), 48000u * 5 / 10);  // the lead-in and the take so far

  // The next take starts a stream of its own; the input is kept open again when asked.
  ASSERT_EQ(engine_.Record(id, 0, &notify_), kNoError);
  EXPECT_EQ(engine_.PressFrame(id), 0u);
  Spin(300);
  ASSERT_EQ(engine_.Stop(id), kNoError);
  ASSERT_EQ(engine_.StartPreRoll(format, 300), kNoError);
  Spin(400);
  ASSERT_EQ(engine_.Record(id, 0, &notify_), kNoError);
  EXPECT_GE(engine_.PressFrame(id), 14400u);
  Spin(100);
  ASSERT_EQ(engine_.Stop(id), kNoError);
  const auto take = dir_ / "take.wav";
  ASSERT_TRUE(SaveContent(engine_, id, take));
  EXPECT_NEAR(testing::MedianToneFrequency(ReadSound(take).channels[0], 48000), 800.0, 10.0);
  engine_.Close(id);
}

// The server is killed during a recording and a playback, then started again on the same
// socket: every call returns, each operator action shows one box at most, and the next record
// and playback work without a new engine. Runs in its own process, as it kills the server; the
// cycle repeats, since a crash after the server's death came only now and then.
TEST(SoundServerRestart, RecordingAndPlaybackEndWithErrorsAndWorkAgainOnceTheServerIsBack) {
  const char* start = std::getenv("VOXTAR_PULSE_START");
  if (start == nullptr || std::getenv("VOXTAR_KILL_SERVER") == nullptr) {
    GTEST_SKIP() << "runs only in its own process under with-pulseaudio.sh";
  }
  std::string pid = std::getenv("VOXTAR_PULSE_PID");
  TempDir dir;
  BoxRecorder boxes;
  NoticeCollector notify;
  const auto templatePath = dir / "sample.wav";
  WriteTone(templatePath, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, 0.0, 0.0, 0.0);
  const auto prompt = dir / "prompt.wav";
  WriteTone(prompt, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 22050, 1, 5.0, 440.0, 0.3);
  const auto tone = dir / "tone.wav";
  WriteTone(tone, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 2, 1.5, 1000.0, 0.5);
  PulseAudioEngine engine;
  const int cycles = std::getenv("VOXTAR_RESTART_CYCLES") != nullptr
                         ? std::atoi(std::getenv("VOXTAR_RESTART_CYCLES"))
                         : 10;

  for (int cycle = 0; cycle < cycles; ++cycle) {
    SCOPED_TRACE("cycle " + std::to_string(cycle));
    boxes.boxes.clear();
    notify.notices.clear();
    {
      WaveDevice recorder(Wide(templatePath), nullptr, engine, boxes);
      WaveDevice player(Wide(prompt), &notify, engine, boxes);
      ASSERT_TRUE(boxes.boxes.empty()) << boxes.boxes.front().caption.toStdString();
      recorder.Record(0);
      player.Play(0, 0);
      Spin(400);
      ASSERT_EQ(std::system(("kill -KILL " + pid).c_str()), 0);

      // The playback ends with a failure notice, the recording with one box at the next Stop.
      ASSERT_TRUE(WaitUntil([&] { return !notify.notices.empty(); }, 3000));
      EXPECT_EQ(notify.notices.front().code, NotifyCode::Failure);
      Spin(100);
      auto before = std::chrono::steady_clock::now();
      recorder.Stop();
      EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(200));
      ASSERT_EQ(boxes.boxes.size(), 1u);
      EXPECT_EQ(boxes.boxes[0].caption, QStringLiteral("Wave Stop Error"));
      EXPECT_TRUE(boxes.boxes[0].text.contains(QStringLiteral("sound server")))
          << boxes.boxes[0].text.toStdString();
      EXPECT_TRUE(SaveContent(recorder, dir / "kept.wav"));  // what came in before is kept
      EXPECT_GT(ReadSound(dir / "kept.wav").info.frames, 48000 / 10);
      player.Stop();

      // With the server gone, opening fails at once with its one box.
      before = std::chrono::steady_clock::now();
      WaveDevice orphan(Wide(prompt), &notify, engine, boxes);
      EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(600));
      EXPECT_EQ(orphan.deviceId(), 0);
      ASSERT_EQ(boxes.boxes.size(), 2u);
      EXPECT_TRUE(boxes.boxes[1].caption.contains(QStringLiteral("No sound system")))
          << boxes.boxes[1].caption.toStdString();
      player.Close();
      recorder.Close();
    }

    // The server comes back on the same socket.
    QProcess restart;
    restart.start(QString::fromUtf8(start), {});
    ASSERT_TRUE(restart.waitForFinished(20000));
    ASSERT_EQ(restart.exitCode(), 0);
    pid = restart.readAllStandardOutput().trimmed().toStdString();
    ASSERT_FALSE(pid.empty());
    boxes.boxes.clear();
    notify.notices.clear();

    // A tone is recorded and the take played back, and a listener hears it.
    QProcess player;
    player.start(QStringLiteral("paplay"), {QString::fromStdString(tone.string())});
    ASSERT_TRUE(player.waitForStarted(5000));
    Spin(250);
    const auto take = dir / "take.wav";
    {
      WaveDevice recorder(Wide(templatePath), nullptr, engine, boxes);
      recorder.Record(0);
      Spin(700);
      recorder.Stop();
      ASSERT_TRUE(SaveContent(recorder, take));
      recorder.Close();
    }
    player.waitForFinished(5000);
    const auto sound = ReadSound(take);
    EXPECT_NEAR(testing::MedianToneFrequency(sound.channels[0], 48000, 2400), 1000.0, 10.0);
    EXPECT_GT(testing::Rms(sound.channels[0], 2400), 0.2);

    const auto heard = dir / "heard.wav";
    {
      WaveDevice listener(Wide(templatePath), nullptr, engine, boxes);
      listener.Record(0);
      Spin(150);
      WaveDevice device(Wide(take), &notify, engine, boxes);
      device.Play(0, 0);
      ASSERT_TRUE(WaitUntil([&] { return !notify.notices.empty(); }, 4000));
      EXPECT_EQ(notify.notices.front().code, NotifyCode::Successful);
      device.Stop();
      device.Close();
      listener.Stop();
      ASSERT_TRUE(SaveContent(listener, heard));
      listener.Close();
    }
    const auto played = ReadSound(heard);
    const auto [first, last] = testing::LoudSpan(played.channels[0], 0.25);
    ASSERT_LT(first, last);
    EXPECT_NEAR(testing::MedianToneFrequency(played.channels[0], 48000, first, last), 1000.0, 10.0);
    EXPECT_TRUE(boxes.boxes.empty()) << boxes.boxes.front().text.toStdString();
  }
  EXPECT_EQ(engine.connections(), cycles + 1);  // the first, and one after each restart
}

// The PID of the server that runs now: the first one or the one a test above started again.
std::string RunningServerPid() {
  QProcess cat;
  cat.start(QStringLiteral("sh"),
            {QStringLiteral("-c"),
             QStringLiteral("cat \"$(dirname \"$VOXTAR_PULSE_START\")/server.pid\"")});
  cat.waitForFinished(5000);
  return cat.readAllStandardOutput().trimmed().toStdString();
}

bool MayStopTheServer() {
  return std::getenv("VOXTAR_PULSE_START") != nullptr &&
         std::getenv("VOXTAR_KILL_SERVER") != nullptr;
}

// A server that accepts the connection and then answers nothing (stopped, or hung): Open gives
// up within its bound, with its one box, and works again once the server answers.
TEST(SoundServerRestart, AHungServerDelaysOpenOnlyByItsBound) {
  if (!MayStopTheServer()) {
    GTEST_SKIP() << "runs only in its own process under with-pulseaudio.sh";
  }
  const std::string pid = RunningServerPid();
  ASSERT_FALSE(pid.empty());
  TempDir dir;
  BoxRecorder boxes;
  const auto file = dir / "prompt.wav";
  WriteTone(file, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 22050, 1, 0.5, 440.0, 0.5);
  PulseAudioEngine engine;
  ASSERT_EQ(std::system(("kill -STOP " + pid).c_str()), 0);
  const auto before = std::chrono::steady_clock::now();
  WaveDevice hung(Wide(file), nullptr, engine, boxes);
  const auto took = std::chrono::steady_clock::now() - before;
  ASSERT_EQ(std::system(("kill -CONT " + pid).c_str()), 0);
  EXPECT_GE(took, std::chrono::milliseconds(PulseAudioEngine::kServerWaitMs - 20));
  EXPECT_LT(took, std::chrono::milliseconds(PulseAudioEngine::kServerWaitMs + 400));
  EXPECT_EQ(hung.deviceId(), 0);
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_TRUE(boxes.boxes[0].caption.contains(QStringLiteral("does not answer")))
      << boxes.boxes[0].caption.toStdString();

  WaveDevice device(Wide(file), nullptr, engine, boxes);
  EXPECT_NE(device.deviceId(), 0);
  device.Close();
  EXPECT_EQ(boxes.boxes.size(), 1u);
}

// Warm starts connecting and returns while the server does not answer; once it answers, the first
// command finds the connection made.
TEST(SoundServerRestart, WarmNeverWaitsForTheServer) {
  if (!MayStopTheServer()) {
    GTEST_SKIP() << "runs only in its own process under with-pulseaudio.sh";
  }
  const std::string pid = RunningServerPid();
  ASSERT_FALSE(pid.empty());
  TempDir dir;
  const auto file = dir / "prompt.wav";
  WriteTone(file, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 22050, 1, 0.5, 440.0, 0.5);
  PulseAudioEngine engine;
  ASSERT_EQ(std::system(("kill -STOP " + pid).c_str()), 0);
  const auto before = std::chrono::steady_clock::now();
  engine.Warm();
  const auto took = std::chrono::steady_clock::now() - before;
  ASSERT_EQ(std::system(("kill -CONT " + pid).c_str()), 0);
  EXPECT_LT(took, std::chrono::milliseconds(PulseAudioEngine::kServerWaitMs / 3));
  EXPECT_TRUE(WaitUntil([&] { return engine.connections() == 1; }, 3000));
  DeviceId id = 0;
  EXPECT_EQ(engine.Open(Wide(file), &id), kNoError);
  EXPECT_EQ(engine.connections(), 1);
  EXPECT_EQ(engine.Close(id), kNoError);
}

// How many streams of this program the server has: recordings and level checks, playbacks.
int StreamsOfOurs() {
  const std::string listed = Pactl({QStringLiteral("list"), QStringLiteral("source-outputs")}) +
                             Pactl({QStringLiteral("list"), QStringLiteral("sink-inputs")});
  int count = 0;
  for (std::size_t at = 0;
       (at = listed.find("application.name = \"Voxtar\"", at)) != std::string::npos; ++at) {
    ++count;
  }
  return count;
}

// The server answers the start of a recording, a playback and a level check only after the
// engine gave up waiting: once it answers, each stream is disconnected, so no microphone stays
// open, and the engine goes on as before.
TEST(SoundServerRestart, AStreamStartedTooLateIsDisconnectedOnceTheServerAnswers) {
  if (!MayStopTheServer()) {
    GTEST_SKIP() << "runs only in its own process under with-pulseaudio.sh";
  }
  const std::string pid = RunningServerPid();
  ASSERT_FALSE(pid.empty());
  TempDir dir;
  const auto templatePath = dir / "sample.wav";
  WriteTone(templatePath, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, 0.0, 0.0, 0.0);
  const auto prompt = dir / "prompt.wav";
  WriteTone(prompt, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 22050, 1, 2.0, 440.0, 0.3);
  PulseAudioEngine engine;
  DeviceId recorder = 0;
  DeviceId player = 0;
  ASSERT_EQ(engine.Open(Wide(templatePath), &recorder), kNoError);
  ASSERT_EQ(engine.Open(Wide(prompt), &player), kNoError);
  ASSERT_EQ(StreamsOfOurs(), 0);

  ASSERT_EQ(std::system(("kill -STOP " + pid).c_str()), 0);
  const ErrorCode recording = engine.Record(recorder, 0, nullptr);
  const ErrorCode playing = engine.Play(player, 0, std::nullopt, nullptr);
  const ErrorCode checking = engine.StartLevelCheck({SampleKind::Int16, 48000, 1});
  EXPECT_EQ(engine.streamsSetAside(), 3u);
  ASSERT_EQ(std::system(("kill -CONT " + pid).c_str()), 0);
  for (const ErrorCode late : {recording, playing, checking}) {
    EXPECT_TRUE(engine.ErrorText(late).contains(QStringLiteral("in time")))
        << engine.ErrorText(late).toStdString();
  }
  EXPECT_EQ(CauseOf(recording), AudioError::InputFailed);
  EXPECT_EQ(CauseOf(playing), AudioError::OutputFailed);
  EXPECT_FALSE(engine.levelCheckRunning());

  // The engine lets go of each once the server has taken it down.
  EXPECT_TRUE(WaitUntil([&] { return engine.streamsSetAside() == 0; }, 3000));
  EXPECT_EQ(StreamsOfOurs(), 0);

  ASSERT_EQ(engine.Record(recorder, 0, nullptr), kNoError);
  EXPECT_EQ(StreamsOfOurs(), 1);  // counted while it runs
  EXPECT_EQ(engine.Stop(recorder), kNoError);
  EXPECT_EQ(engine.Close(recorder), kNoError);
  EXPECT_EQ(engine.Close(player), kNoError);
}

TEST(NoSoundServer, EveryOperationGivesAClearErrorAndNothingHangs) {
  if (ServerRunning() || std::getenv("VOXTAR_EXPECT_NO_SERVER") == nullptr) {
    GTEST_SKIP() << "runs only where no sound server can be reached";
  }
  TempDir dir;
  BoxRecorder boxes;
  const auto file = dir / "sample.wav";
  WriteTone(file, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 22050, 1, 0.5, 440.0, 0.5);
  PulseAudioEngine engine;
  const auto started = std::chrono::steady_clock::now();
  WaveDevice device(Wide(file), nullptr, engine, boxes);
  EXPECT_EQ(device.deviceId(), 0);
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].text, QString::fromStdString(file.string()));
  EXPECT_TRUE(boxes.boxes[0].caption.contains(QStringLiteral("No sound system")))
      << boxes.boxes[0].caption.toStdString();
  device.Play(0, 0);
  device.Record(0);
  device.Stop();
  device.Close();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
  ASSERT_EQ(boxes.boxes.size(), 2u);  // Record names the closed device
  EXPECT_EQ(boxes.boxes[1].caption, QStringLiteral("Error"));
  EXPECT_EQ(device.Content(), nullptr);
}

}  // namespace
}  // namespace voxtar::audio
