// SPDX-License-Identifier: GPL-3.0-or-later
// The whole dialog on the real audio engine against a private PulseAudio server: run by
// tests/audio/with-pulseaudio.sh, whose null sink's monitor is the default input, so a tone played
// into the server is what the microphone hears. Without it these tests skip.
#include <gtest/gtest.h>
#include <QProcess>
#include <QTest>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <numbers>
#include <span>
#include <string>
#include <vector>

#include "audio/pulse_audio_engine.h"
#include "audio/wave_element.h"
#include "platform/file_system.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tone_analysis.h"
#include "tests/ui/main_dialog_fixture.h"
#include "ui/voxtar_dlg.h"

namespace voxtar::ui {
namespace {

using testing::Click;
using testing::FakeWindowServices;
using testing::kWav16;
using testing::Text;

constexpr int kToneAmplitude = 12000;  // of 32768, full scale

// The first channel of a 16-bit take, in -1..1.
std::vector<double> FirstChannel(const audio::WaveElement& take) {
  std::vector<std::int16_t> samples(static_cast<std::size_t>(take.samples.bytes()) / 2);
  take.samples.CopyOut(0, std::as_writable_bytes(std::span(samples)));
  std::vector<double> channel(static_cast<std::size_t>(take.frames()));
  for (std::size_t i = 0; i < channel.size(); ++i) {
    channel[i] = samples[i * static_cast<std::size_t>(take.channels)] / 32768.0;
  }
  return channel;
}

TEST(RealEngine, RecordsAPromptWhileAToneIsPlayed) {
  if (qEnvironmentVariableIsEmpty("VOXTAR_PULSE_PID")) {
    GTEST_SKIP() << "needs tests/audio/with-pulseaudio.sh";
  }
  const testing::DemoWorkingDirectory demo;
  const testing::TempDir& dir = demo.dir;
  const std::string sampleBefore = testing::ReadBytes(dir / "sample.wav");
  audio::WaveElement sample;
  std::string error;
  ASSERT_TRUE(audio::ReadWaveFile(dir.wide() + u"/sample.wav", &sample, &error));
  ASSERT_EQ(sample.kind, audio::SampleKind::Int16);

  // A 3-second 1 kHz tone to play into the server.
  audio::WaveElement tone = audio::MakeElement(kWav16, 48000, 1);
  std::vector<std::int16_t> toneSamples(std::size_t{3} * 48000);
  for (std::size_t i = 0; i < toneSamples.size(); ++i) {
    toneSamples[i] = static_cast<std::int16_t>(
        kToneAmplitude * std::sin(2 * std::numbers::pi * 1000.0 * static_cast<double>(i) / 48000));
  }
  tone.samples.Write(0, std::as_bytes(std::span(toneSamples)));
  ASSERT_TRUE(audio::WriteWaveFile(tone, dir.wide() + u"/tone.wav", &error));

  FakeWindowServices services;
  audio::PulseAudioEngine engine;
  ui::CVoxtarDlg dialog(engine, services);
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  testing::OpenThroughTheDialog(dialog, services, dir / "Ini/unit01.idx");
  Click(dialog, ui::ids::kGoto);
  const std::u16string name(dialog.lesson().current()->name);
  const std::filesystem::path take = dir.path() / "Prompt/unit01" / platform::ToUtf8(name);
  ASSERT_FALSE(std::filesystem::exists(take));

  QProcess player;
  player.start(QStringLiteral("paplay"), {QString::fromStdString((dir / "tone.wav").string())});
  ASSERT_TRUE(player.waitForStarted(5000));
  QTest::qWait(300);
  Click(dialog, ui::ids::kRecord);
  EXPECT_EQ(Text(dialog, ui::ids::kRecord), QStringLiteral("[STOP]"));
  QTest::qWait(1500);
  Click(dialog, ui::ids::kRecord);
  player.waitForFinished(10000);
  EXPECT_TRUE(services.boxes.empty()) << services.boxes.front().text.toStdString() << " / "
                                      << services.boxes.front().caption.toStdString();
  EXPECT_EQ(Text(dialog, ui::ids::kStatistics), QString::fromStdU16String(name + u" :"));

  audio::WaveElement recorded;
  ASSERT_TRUE(audio::ReadWaveFile(platform::FromUtf8(take.string()), &recorded, &error)) << error;
  EXPECT_EQ(recorded.format, sample.format);
  EXPECT_EQ(recorded.sampleRate, sample.sampleRate);
  EXPECT_EQ(recorded.channels, sample.channels);
  EXPECT_GE(recorded.lengthMs(), 1000u);
  // The take holds the tone, not silence: its pitch, and a level no silence reaches.
  const std::vector<double> heard = FirstChannel(recorded);
  EXPECT_NEAR(testing::MedianToneFrequency(heard, recorded.sampleRate), 1000.0, 10.0);
  const double toneRms = kToneAmplitude / 32768.0 / std::numbers::sqrt2;
  EXPECT_GT(testing::Rms(heard), toneRms / 2) << "the tone's is " << toneRms;
  EXPECT_EQ(testing::ReadBytes(dir / "sample.wav"), sampleBefore);

  // Escape writes the index back with the prompt's text and ends the dialog.
  QTest::keyClick(dialog.GetDlgItem(ui::ids::kStatistics), Qt::Key_Escape);
  EXPECT_FALSE(dialog.isVisible());
  const std::string index = testing::ReadBytes(dir / "Ini/unit01.idx");
  EXPECT_TRUE(index.starts_with("\xFF\xFE"));
  EXPECT_NE(index.find(testing::Utf16LeBytes(name + u" ")), std::string::npos);
}

// The sound server dies in the middle of a take: each press shows one box at most and returns at
// once, and Escape still ends the program promptly. Runs in its own process, as it kills the
// server.
TEST(RealEngineServerGone, NoPressPilesUpBoxesAndEscapeStillEndsTheProgram) {
  const char* pid = std::getenv("VOXTAR_PULSE_PID");
  if (pid == nullptr || std::getenv("VOXTAR_KILL_SERVER") == nullptr) {
    GTEST_SKIP() << "runs only in its own process under with-pulseaudio.sh";
  }
  const testing::DemoWorkingDirectory demo;
  FakeWindowServices services;
  audio::PulseAudioEngine engine;
  ui::CVoxtarDlg dialog(engine, services);
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  const auto press = [&](int id) {
    const auto before = std::chrono::steady_clock::now();
    Click(dialog, id);
    return std::chrono::steady_clock::now() - before;
  };
  testing::OpenThroughTheDialog(dialog, services, demo.dir / "Ini/unit01.idx");
  testing::KillTheServerDuringATake(dialog, pid);
  EXPECT_TRUE(services.boxes.empty());

  // Stop: the one box of the lost recording; what was captured is saved as the take.
  EXPECT_LT(press(ui::ids::kRecord), std::chrono::milliseconds(500));
  ASSERT_EQ(services.boxes.size(), 1u);
  EXPECT_EQ(services.boxes[0].caption, QStringLiteral("Wave Stop Error"));
  EXPECT_EQ(Text(dialog, ui::ids::kRecord), QStringLiteral("Record"));

  // Record again with no server: the device does not open (its box names the cause), and the
  // record request to the unopened device has its own box; nothing piles up beyond that.
  EXPECT_LT(press(ui::ids::kRecord), std::chrono::milliseconds(1000));
  ASSERT_EQ(services.boxes.size(), 3u);
  EXPECT_TRUE(services.boxes[1].caption.contains(QStringLiteral("No sound system")))
      << services.boxes[1].caption.toStdString();
  EXPECT_EQ(services.boxes[2].caption, QStringLiteral("Error"));
  // Stop of a recording that never started, then Play: nothing more to say.
  EXPECT_LT(press(ui::ids::kRecord), std::chrono::milliseconds(1000));
  EXPECT_LT(press(ui::ids::kPlay), std::chrono::milliseconds(1000));
  EXPECT_EQ(services.boxes.size(), 3u);

  const auto before = std::chrono::steady_clock::now();
  QTest::keyClick(dialog.GetDlgItem(ui::ids::kStatistics), Qt::Key_Escape);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
}

}  // namespace
}  // namespace voxtar::ui
