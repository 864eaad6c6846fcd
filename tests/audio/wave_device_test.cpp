// SPDX-License-Identifier: GPL-3.0-or-later
// The wave device's rules on the simulated engine: what it sends, what it shows, which state it
// keeps. Boxes are captured, never shown; elements are real WAV files in a temporary directory.
#include "audio/wave_device.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <filesystem>

#include "platform/file_system.h"
#include "testing/simulated_audio_engine.h"
#include "tests/audio/audio_test_support.h"
#include "tests/support/temp_dir.h"

namespace voxtar::audio {
namespace {

using Command = SimulatedAudioEngine::Command;
using testing::BoxRecorder;
using testing::NoticeCollector;
using testing::ReadBytes;
using testing::SaveContent;
using testing::TempDir;
using testing::WriteTone;

using testing::Wide;
QString Text(const std::filesystem::path& path) {
  return QString::fromStdString(path.string());
}

constexpr ErrorCode kInjected = 0x7001;

class WaveDeviceTest : public ::testing::Test {
 protected:
  WaveDeviceTest() {
    // 3 s of a tone, 16-bit mono at 22050 Hz.
    WriteTone(prompt_, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 22050, 1, 3.0, 440.0, 0.5);
  }

  // Delivers posted notices.
  void Deliver() { QCoreApplication::sendPostedEvents(&notify_); }

  const testing::Box& OnlyBox() {
    EXPECT_EQ(boxes_.boxes.size(), 1u);
    return boxes_.boxes.front();
  }

  // The failure report with the given text and caption.
  void ExpectBox(const testing::Box& box, const QString& text, const QString& caption) {
    EXPECT_EQ(box.text, text);
    EXPECT_EQ(box.caption, caption);
  }

  TempDir dir_;
  std::filesystem::path prompt_ = dir_ / "prompt.wav";
  SimulatedAudioEngine engine_;
  BoxRecorder boxes_;
  NoticeCollector notify_;
};

TEST_F(WaveDeviceTest, OpenSendsBothStepsAndKeepsTheLength) {
  WaveDevice device(Wide(prompt_), &notify_, engine_, boxes_);
  EXPECT_EQ(engine_.commands(), (std::vector{Command::Open, Command::QueryLength}));
  EXPECT_EQ(engine_.calls()[0].path, Wide(prompt_));
  EXPECT_NE(device.deviceId(), 0);
  EXPECT_EQ(engine_.calls()[1].device, device.deviceId());
  EXPECT_EQ(device.length(), 3000u);
  EXPECT_EQ(device.state(), WaveState::Stopped);
  EXPECT_EQ(device.fileName(), Wide(prompt_));
  EXPECT_EQ(device.notifyWindow(), &notify_);
  EXPECT_TRUE(boxes_.boxes.empty());
}

TEST_F(WaveDeviceTest, AFailedOpenShowsThePathUnderTheCauseAndLeavesNoDevice) {
  const auto missing = dir_ / "Prompt" / "missing.wav";
  WaveDevice device(Wide(missing), &notify_, engine_, boxes_);
  EXPECT_EQ(device.deviceId(), 0);
  EXPECT_EQ(engine_.commands(), std::vector{Command::Open});
  const auto& box = OnlyBox();
  EXPECT_EQ(box.text, Text(missing));  // the roles are swapped: path as message
  EXPECT_TRUE(box.caption.contains(QStringLiteral("cannot be opened")))
      << box.caption.toStdString();

  // Play, Stop and Close do nothing at all.
  engine_.ClearCalls();
  device.Play(0, 0);
  device.Stop();
  device.Close();
  EXPECT_TRUE(engine_.calls().empty());
  EXPECT_EQ(boxes_.boxes.size(), 1u);

  // Record goes to device 0 and shows the engine's invalid-device text under "Error"; there is
  // nothing to write.
  device.Record(0);
  ASSERT_EQ(engine_.calls().size(), 1u);
  EXPECT_EQ(engine_.calls()[0].device, 0);
  ASSERT_EQ(boxes_.boxes.size(), 2u);
  ExpectBox(boxes_.boxes[1], CauseText(AudioError::InvalidDevice), QStringLiteral("Error"));
  EXPECT_EQ(device.deviceId(), 0);
  EXPECT_EQ(device.Content(), nullptr);
}

TEST_F(WaveDeviceTest, AFileThatIsNoSoundFailsTheOpenNamingTheCause) {
  const auto text = dir_ / "notes.wav";
  testing::WriteBytes(text, "these are words, not sound");
  WaveDevice device(Wide(text), &notify_, engine_, boxes_);
  EXPECT_EQ(device.deviceId(), 0);
  EXPECT_EQ(OnlyBox().text, Text(text));
  EXPECT_TRUE(OnlyBox().caption.contains(QStringLiteral("not a sound file")));
}

TEST_F(WaveDeviceTest, AFailedLengthIsShownUnderWaveErrorAndKeepsTheDeviceForClose) {
  engine_.FailNext(Command::QueryLength, kInjected, QStringLiteral("The device is not ready."));
  WaveDevice device(Wide(prompt_), &notify_, engine_, boxes_);
  ExpectBox(OnlyBox(), QStringLiteral("The device is not ready."), QStringLiteral("Wave Error"));
  EXPECT_NE(device.deviceId(), 0);
  EXPECT_EQ(device.length(), 0u);
  EXPECT_EQ(device.state(), WaveState::Stopped);
  EXPECT_EQ(engine_.calls().back().command, Command::QueryLength);
  device.Close();
  EXPECT_FALSE(engine_.isOpen(device.deviceId()));
}

TEST_F(WaveDeviceTest, ACloseFailureIsShownAndChangesNothing) {
  WaveDevice device(Wide(prompt_), &notify_, engine_, boxes_);
  device.Record(0);
  engine_.FailNext(Command::Close, kInjected, QStringLiteral("Close refused."));
  device.Close();
  ExpectBox(OnlyBox(), QStringLiteral("Close refused."), QStringLiteral("Wave Error"));
  EXPECT_EQ(device.state(), WaveState::Recording);
  EXPECT_NE(device.deviceId(), 0);
}

TEST_F(WaveDeviceTest, PlayPostsOneSuccessfulNoticeAndStaysPlayingUntilStopped) {
  WaveDevice device(Wide(prompt_), &notify_, engine_, boxes_);
  engine_.ClearCalls();
  device.Play(0, 0);
  ASSERT_EQ(engine_.calls().size(), 1u);
  const auto& play = engine_.calls()[0];
  EXPECT_EQ(play.command, Command::Play);
  EXPECT_EQ(play.from, 0u);
  EXPECT_FALSE(play.to.has_value());  // to = 0: no end position, to the end
  EXPECT_EQ(play.notify, &notify_);
  EXPECT_EQ(device.state(), WaveState::Playing);

  engine_.Advance(2999);
  Deliver();
  EXPECT_TRUE(notify_.notices.empty());
  engine_.Advance(1);
  Deliver();
  ASSERT_EQ(notify_.notices.size(), 1u);
  EXPECT_EQ(notify_.notices[0].code, NotifyCode::Successful);
  EXPECT_EQ(notify_.notices[0].device, device.deviceId());
  EXPECT_EQ(device.state(), WaveState::Playing);

  // A second Play while Playing does nothing, even though the sound has ended.
  device.Play(0, 0);
  EXPECT_EQ(engine_.calls().size(), 1u);
  device.Stop();
  EXPECT_EQ(device.state(), WaveState::Stopped);
  device.Play(0, 0);
  EXPECT_EQ(engine_.calls().back().command, Command::Play);
  EXPECT_EQ(device.state(), WaveState::Playing);
  engine_.Advance(5000);
  Deliver();
  EXPECT_EQ(notify_.notices.size(), 2u);
  EXPECT_TRUE(boxes_.boxes.empty());
}

TEST_F(WaveDeviceTest, PlayBoundsFollowTheUnsignedRules) {
  WaveDevice device(Wide(prompt_), &notify_, engine_, boxes_);
  const auto playOnce = [&](std::uint32_t from, std::uint32_t to) {
    engine_.ClearCalls();
    device.Play(from, to);
    device.Stop();
    return engine_.calls();
  };

  // to beyond the length with from within: to becomes the length.
  auto calls = playOnce(1000, 5000);
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls[0].from, 1000u);
  EXPECT_EQ(calls[0].to, std::optional<std::uint32_t>(3000));
  // from exactly at the length is still within it.
  calls = playOnce(3000, 3001);
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls[0].to, std::optional<std::uint32_t>(3000));

  // to within the length: from is not looked at, even beyond the length or beyond to. The
  // engine refuses; nothing is shown and the state stays Stopped.
  calls = playOnce(4000, 1000);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].from, 4000u);
  EXPECT_EQ(calls[0].to, std::optional<std::uint32_t>(1000));
  EXPECT_NE(calls[0].result, kNoError);
  EXPECT_EQ(device.state(), WaveState::Stopped);
  calls = playOnce(0xFFFFFFFFu, 0);  // to = 0 is within: no end, from passed as it is
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].from, 0xFFFFFFFFu);
  EXPECT_FALSE(calls[0].to.has_value());
  EXPECT_TRUE(boxes_.boxes.empty());

  // Both beyond the length: the box, and nothing is sent.
  calls = playOnce(3001, 3001);
  EXPECT_TRUE(calls.empty());
  ExpectBox(OnlyBox(), QStringLiteral("Bad play parameter"), QStringLiteral("play"));
  EXPECT_EQ(device.state(), WaveState::Stopped);
  boxes_.boxes.clear();
  calls = playOnce(0xFFFFFFFFu, 0xFFFFFFFFu);
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(boxes_.boxes.size(), 1u);
}

TEST_F(WaveDeviceTest, OnAnEmptyElementPlayPassesNoEndPosition) {
  const auto empty = dir_ / "empty.wav";
  WriteTone(empty, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 22050, 1, 0.0, 0.0, 0.0);
  WaveDevice device(Wide(empty), &notify_, engine_, boxes_);
  ASSERT_EQ(device.length(), 0u);
  engine_.ClearCalls();
  device.Play(0, 500);  // to becomes the length 0, which means no end position
  ASSERT_EQ(engine_.calls().size(), 1u);
  EXPECT_FALSE(engine_.calls()[0].to.has_value());
  Deliver();
  ASSERT_EQ(notify_.notices.size(), 1u);
  EXPECT_EQ(notify_.notices[0].code, NotifyCode::Successful);
}

TEST_F(WaveDeviceTest, AFailedPlayShowsNothingAndKeepsTheState) {
  WaveDevice device(Wide(prompt_), &notify_, engine_, boxes_);
  engine_.FailNext(Command::Play, kInjected, QStringLiteral("No output."));
  device.Play(0, 0);
  EXPECT_EQ(device.state(), WaveState::Stopped);
  EXPECT_TRUE(boxes_.boxes.empty());
}

TEST_F(WaveDeviceTest, RecordTwiceStopsTheFirstRecordingThenStartsAgainAtItsPosition) {
  WaveDevice device(Wide(prompt_), &notify_, engine_, boxes_);
  engine_.ClearCalls();
  device.Record(0);
  EXPECT_EQ(device.state(), WaveState::Recording);
  device.Record(250);
  EXPECT_EQ(engine_.commands(), (std::vector{Command::Record, Command::Stop, Command::Record}));
  EXPECT_EQ(engine_.calls()[2].from, 250u);
  EXPECT_EQ(device.state(), WaveState::Recording);
  EXPECT_TRUE(engine_.isRecording(device.deviceId()));
  EXPECT_TRUE(boxes_.boxes.empty());
}

TEST_F(WaveDeviceTest, AFailedPreStopIsShownAndLeavesTheDeviceStoppedBeforeRecordingAgain) {
  WaveDevice device(Wide(prompt_), &notify_, engine_, boxes_);
  device.Record(0);
  engine_.FailNext(Command::Stop, kInjected, QStringLiteral("Stop refused."));
  device.Record(0);
  ExpectBox(OnlyBox(), QStringLiteral("Stop refused."), QStringLiteral("Error"));
  EXPECT_EQ(device.state(), WaveState::Recording);  // the new Record succeeded

  // With the new Record failing too, the pre-stop's Stopped stands.
  boxes_.boxes.clear();
  engine_.FailNext(Command::Stop, kInjected, QStringLiteral("Stop refused."));
  engine_.FailNext(Command::Record, kInjected + 1, QStringLiteral("Record refused."));
  device.Record(0);
  ASSERT_EQ(boxes_.boxes.size(), 2u);
  ExpectBox(boxes_.boxes[1], QStringLiteral("Record refused."), QStringLiteral("Error"));
  EXPECT_EQ(device.state(), WaveState::Stopped);
}

TEST_F(WaveDeviceTest, AFailedRecordIsShownUnderErrorAndKeepsTheState) {
  WaveDevice device(Wide(prompt_), &notify_, engine_, boxes_);
  device.Play(0, 0);
  engine_.FailNext(Command::Record, kInjected, QStringLiteral("No input."));
  device.Record(0);
  ExpectBox(OnlyBox(), QStringLiteral("No input."), QStringLiteral("Error"));
  EXPECT_EQ(device.state(), WaveState::Playing);

  // Record while Playing supersedes the playback.
  device.Record(0);
  EXPECT_EQ(device.state(), WaveState::Recording);
  Deliver();
  ASSERT_EQ(notify_.notices.size(), 1u);
  EXPECT_EQ(notify_.notices[0].code, NotifyCode::Superseded);
}

TEST_F(WaveDeviceTest, StopWhenStoppedSendsNothingAndAFailedStopKeepsTheState) {
  WaveDevice device(Wide(prompt_), &notify_, engine_, boxes_);
  engine_.ClearCalls();
  device.Stop();
  EXPECT_TRUE(engine_.calls().empty());

  device.Play(0, 0);
  engine_.FailNext(Command::Stop, kInjected, QStringLiteral("Still busy."));
  device.Stop();
  ExpectBox(OnlyBox(), QStringLiteral("Still busy."), QStringLiteral("Wave Stop Error"));
  EXPECT_EQ(device.state(), WaveState::Playing);
  device.Stop();
  EXPECT_EQ(device.state(), WaveState::Stopped);
  Deliver();
  ASSERT_EQ(notify_.notices.size(), 1u);
  EXPECT_EQ(notify_.notices[0].code, NotifyCode::Aborted);
}

TEST_F(WaveDeviceTest, ARecordingSavedElsewherePlaysAsTheNewTakeAndLeavesTheTemplateAlone) {
  const auto templatePath = dir_ / "sample.wav";
  WriteTone(templatePath, SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, 48000, 2, 1.0, 200.0, 0.1);
  const std::string templateBytes = ReadBytes(templatePath);
  const auto take = dir_ / "Prompt" / "take.wav";
  std::filesystem::create_directories(take.parent_path());
  engine_.SetInputTone(1000.0, 0.5);

  WaveDevice device(Wide(templatePath), &notify_, engine_, boxes_);
  device.Record(0);
  engine_.Advance(1500);  // longer than the template
  device.Stop();
  EXPECT_TRUE(SaveContent(device, take));
  EXPECT_EQ(device.state(), WaveState::Stopped);
  EXPECT_EQ(ReadBytes(templatePath), templateBytes);

  const auto sound = testing::ReadSound(take);
  EXPECT_EQ(sound.info.format, SF_FORMAT_WAVEX | SF_FORMAT_PCM_24);
  EXPECT_EQ(sound.info.samplerate, 48000);
  EXPECT_EQ(sound.info.channels, 2);
  EXPECT_EQ(sound.info.frames, 72000);
  EXPECT_NEAR(testing::ToneFrequency(sound.channels[1], 48000), 1000.0, 1.0);

  // The device stays open on the take: Play plays all 1.5 s, not the template's 1 s.
  device.Play(0, 0);
  engine_.Advance(1499);
  Deliver();
  EXPECT_TRUE(notify_.notices.empty());
  engine_.Advance(1);
  Deliver();
  EXPECT_EQ(notify_.notices.size(), 1u);
  EXPECT_TRUE(boxes_.boxes.empty());
}

TEST_F(WaveDeviceTest, ItsContentIsWrittenInEveryStateAndChangesNone) {
  WaveDevice device(Wide(prompt_), &notify_, engine_, boxes_);
  device.Record(0);
  engine_.Advance(100);
  EXPECT_TRUE(SaveContent(device, dir_ / "during.wav"));
  EXPECT_EQ(device.state(), WaveState::Recording);
  EXPECT_TRUE(engine_.isRecording(device.deviceId()));
  device.Stop();
  device.Play(0, 0);
  EXPECT_TRUE(SaveContent(device, dir_ / "playing.wav"));
  EXPECT_EQ(device.state(), WaveState::Playing);
}

TEST_F(WaveDeviceTest, ErrorTextsAreShownWholeSoALongPathDoesNotHideTheCause) {
  const QString longText = QString(300, QLatin1Char('x')) + QStringLiteral(": No space left");
  engine_.FailNext(Command::QueryLength, kInjected, longText);
  WaveDevice device(Wide(prompt_), &notify_, engine_, boxes_);
  EXPECT_EQ(OnlyBox().text, longText);
}

TEST_F(WaveDeviceTest, ALongPathIsOpenedWholeWhileTheFieldKeeps259Characters) {
  auto deep = dir_.path();
  while (deep.string().size() < 300) {
    deep /= "a-rather-long-directory-name";
  }
  std::filesystem::create_directories(deep);
  const auto file = deep / "prompt.wav";
  WriteTone(file, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, 0.5, 440.0, 0.5);
  WaveDevice device(Wide(file), &notify_, engine_, boxes_);
  EXPECT_NE(device.deviceId(), 0);
  EXPECT_EQ(engine_.calls()[0].path, Wide(file));
  EXPECT_EQ(device.fileName(), Wide(file).substr(0, 259));
  EXPECT_EQ(device.length(), 500u);
}

}  // namespace
}  // namespace voxtar::audio
