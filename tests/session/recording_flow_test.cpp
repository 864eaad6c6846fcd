// SPDX-License-Identifier: GPL-3.0-or-later
// The recording flow without widgets, on the simulated engine: a take from start to the check of
// what was saved, the level check and what ends it, and the device choice kept in the settings.
#include "session/recording_flow.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSettings>
#include <QTest>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <thread>

#include "audio/wave_element.h"
#include "measures/judgement.h"
#include "measures/text_check.h"
#include "testing/simulated_audio_engine.h"
#include "tests/session/session_test_support.h"
#include "tests/support/small_file_system.h"
#include "tests/support/temp_dir.h"

namespace voxtar::session {
namespace {

using Command = audio::SimulatedAudioEngine::Command;
using audio::Direction;

constexpr int kWav16 = 0x010002;  // WAV, 16-bit PCM

class RecordingFlowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    // One second of silence at 22050 Hz: a take recorded over its start keeps the rest.
    ASSERT_TRUE(audio::WriteWaveFile(audio::MakeElement(kWav16, 22050, 1, 22050),
                                     dir.wide() + u"/sample.wav", &error));
    testing::WriteBytes(dir / "Ini/unit.idx",
                        testing::IndexBytes({u"a001.wav Hello", u"a002.wav > Good day"}));
    ASSERT_EQ(lesson.LoadLesson(dir.wide() + u"/Ini/unit.idx").result, lesson::LoadResult::Loaded);
    std::string profileError;
    ASSERT_TRUE(flow->LessonLoaded(&profileError)) << profileError;
  }

  // Records `ms` of the input tone on the current prompt and stops.
  bool Take(std::uint32_t ms) {
    if (!flow->PrepareToRecord()) {
      return false;
    }
    flow->StartRecording();
    Advance(ms);
    return Finish();
  }

  // FinishRecording, and its save waited for: true when a take was saved.
  bool Finish() {
    std::optional<bool> saved;
    if (!flow->FinishRecording([&saved](bool ok) { saved = ok; })) {
      return false;
    }
    return Saved(saved);
  }
  // SaveUnsavedTake, waited for: true when the take is saved now (or none was left).
  bool SaveAgain() {
    std::optional<bool> saved;
    if (!flow->SaveUnsavedTake([&saved](bool ok) { saved = ok; })) {
      return true;
    }
    return Saved(saved);
  }
  bool Saved(const std::optional<bool>& saved) {
    EXPECT_TRUE(flow->saving());
    EXPECT_TRUE(QTest::qWaitFor([&] { return saved.has_value(); }, 10000))
        << "the save never ended";
    EXPECT_FALSE(flow->saving());
    return saved.value_or(false);
  }

  std::unique_ptr<RecordingFlow> MakeFlow(audio::AudioEngine& on) {
    auto made = std::make_unique<RecordingFlow>(lesson, on, &notify, failures, settingsFile);
    QObject::connect(made.get(), &RecordingFlow::meterStarted,
                     [this] { strip.emplace_back("meter"); });
    QObject::connect(made.get(), &RecordingFlow::stripCleared,
                     [this] { strip.emplace_back("clear"); });
    QObject::connect(made.get(), &RecordingFlow::takeJudged,
                     [this](const measures::Judgement& judgement) {
                       lastJudgement = judgement;
                       strip.push_back("judged: " + judgement.summary);
                     });
    QObject::connect(made.get(), &RecordingFlow::stripMessage,
                     [this](const QString& text, measures::Severity) {
                       strip.push_back("says: " + text.toStdString());
                     });
    QObject::connect(made.get(), &RecordingFlow::levelCaptured,
                     [this](const audio::LevelSummary& level) { levels.push_back(level); });
    return made;
  }

  void Advance(std::uint32_t ms) {
    engine.Advance(ms);
    QCoreApplication::sendPostedEvents();
  }

  testing::TempDir dir;
  testing::ScopedWorkingDirectory cwd{dir.path()};
  testing::RecordedFailures failures;
  audio::SimulatedAudioEngine engine;
  lesson::Lesson lesson;
  QObject notify;
  QString settingsFile = QString::fromStdString((dir.path() / "voxtar.conf").string());
  std::vector<std::string> strip;
  std::vector<audio::LevelSummary> levels;
  measures::Judgement lastJudgement;
  std::unique_ptr<RecordingFlow> flow = MakeFlow(engine);
};

TEST_F(RecordingFlowTest, ATakeIsSavedMarkedAndChecked) {
  ASSERT_TRUE(flow->PrepareToRecord());
  ASSERT_NE(flow->device(), nullptr);
  EXPECT_EQ(flow->device()->fileName(), u"sample.wav");
  EXPECT_EQ(engine.mediaName(flow->device()->deviceId()), u"a001.wav");
  EXPECT_EQ(flow->mode(), AudioMode::Idle);  // nothing runs until the dialog says so
  flow->StartRecording();
  EXPECT_EQ(flow->mode(), AudioMode::Recording);
  EXPECT_EQ(strip, std::vector<std::string>{"meter"});

  // The input tone (half of full scale) reaches the meter block by block.
  Advance(200);
  Advance(200);
  ASSERT_EQ(levels.size(), 2u);
  EXPECT_NEAR(levels[0].peakDb, -6.0, 0.2);
  EXPECT_EQ(levels[0].frames, 4410u);
  EXPECT_FALSE(levels[0].clipped);

  EXPECT_TRUE(Finish());
  EXPECT_EQ(flow->mode(), AudioMode::Idle);
  EXPECT_EQ(lesson.current()->recorded, 1);
  EXPECT_EQ(lesson.state, lesson::LessonState::Modified);
  EXPECT_TRUE(std::filesystem::exists(dir / "Prompt/unit/a001.wav"));
  EXPECT_NE(flow->device(), nullptr);  // kept for the next Play

  // The tone starts with the take and stops 400 ms into the second of silence: judged by the
  // working directory's profile (none here: "course"), it is cut at the start.
  ASSERT_EQ(strip.size(), 2u);
  EXPECT_EQ(strip[1], "judged: " + lastJudgement.summary);
  EXPECT_EQ(lastJudgement.problems(), std::vector<measures::Problem>{measures::Problem::CutStart});
  EXPECT_EQ(lastJudgement.severity, measures::Severity::Warning);
  EXPECT_TRUE(failures.reports.empty());
}

// A judge that finds every take reads another text, slowly, and notes where it ran.
class SlowMismatchJudge final : public measures::TextJudge {
 public:
  bool KnowsVoice(std::string_view) const override { return true; }
  std::uint64_t Digest(const measures::TextRequest& request) const override {
    return request.text.size();
  }
  bool Check(std::u16string_view, const measures::TakeMeasures&,
             const measures::TextRequest& request, measures::TextCheck* check,
             std::string*) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ranOn = std::this_thread::get_id();
    *check = {Digest(request), true, 0.1, 1.0, true, false, false};
    return true;
  }
  std::atomic<std::thread::id> ranOn;
};

// The check of a new take against its text runs on a worker: the take check shows the other
// judgements at once, and "does not match its text" when the check comes in.
TEST_F(RecordingFlowTest, ATakeIsCheckedAgainstItsTextOffTheWindowsThread) {
  SlowMismatchJudge judge;
  measures::PlugTextJudge(&judge);
  EXPECT_TRUE(Take(1500));
  EXPECT_FALSE(lastJudgement.Has(measures::Problem::TextMismatch));  // not waited for
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return lastJudgement.Has(measures::Problem::TextMismatch); }, 10000));
  EXPECT_NE(judge.ranOn.load(), std::this_thread::get_id());
  EXPECT_EQ(strip.back(),
            "judged: cut at the start, cut at the end, does not match its text (match 0.10)");
  EXPECT_EQ(lastJudgement.severity, measures::Severity::Warning);
  measures::PlugTextJudge(nullptr);
}

TEST_F(RecordingFlowTest, AClippedTakeAndAFailedSave) {
  engine.SetInputTone(440.0, 1.0);
  ASSERT_TRUE(flow->PrepareToRecord());
  flow->StartRecording();
  Advance(300);
  EXPECT_TRUE(levels.back().clipped);
  ASSERT_TRUE(Finish());
  EXPECT_TRUE(lastJudgement.Has(measures::Problem::Clipped));
  EXPECT_EQ(lastJudgement.severity, measures::Severity::Bad);

  // A take that could not be saved is neither marked nor judged: it stays, unsaved, until it is
  // saved again (here, once the directory in the way is gone) or discarded.
  lesson.StepForward();
  flow->ReleaseDevice();
  strip.clear();
  ASSERT_TRUE(flow->PrepareToRecord());
  flow->StartRecording();
  Advance(300);
  std::filesystem::create_directory(dir / "Prompt/unit/a002.wav");
  EXPECT_FALSE(Finish());
  EXPECT_EQ(lesson.current()->recorded, 0);
  EXPECT_EQ(strip, (std::vector<std::string>{
                       "meter", "says: The take is not saved: Ctrl+S saves it again"}));
  ASSERT_EQ(failures.reports.size(), 1u);
  EXPECT_EQ(failures.reports[0].caption, QStringLiteral("Error"));
  EXPECT_NE(failures.reports[0].text.indexOf(QStringLiteral("a002.wav")), -1);
  ASSERT_TRUE(flow->unsavedTake());
  EXPECT_EQ(flow->unsavedTake()->name, u"a002.wav");
  EXPECT_EQ(flow->unsavedTake()->content->lengthMs(), 1000u);

  std::filesystem::remove(dir / "Prompt/unit/a002.wav");
  EXPECT_TRUE(SaveAgain());
  EXPECT_FALSE(flow->unsavedTake());
  EXPECT_EQ(lesson.current()->recorded, 1);
  audio::WaveElement saved;
  std::string error;
  ASSERT_TRUE(audio::ReadWaveFile(dir.wide() + u"/Prompt/unit/a002.wav", &saved, &error));
  EXPECT_EQ(saved.lengthMs(), 1000u);
}

// Every take replaces the earlier one only after keeping it; a take that captured nothing
// replaces nothing; Undo swaps back and forth.
TEST_F(RecordingFlowTest, EarlierTakesAreKeptAndANothingTakeIsNotSaved) {
  engine.SetInputTone(440.0, 0.5);
  ASSERT_TRUE(Take(300));
  const std::string good = testing::ReadBytes(dir / "Prompt/unit/a001.wav");
  EXPECT_EQ(flow->EarlierTakeCount(), 0);

  strip.clear();
  ASSERT_TRUE(flow->PrepareToRecord());
  flow->StartRecording();
  EXPECT_FALSE(Finish());  // Stop pressed at once: no frame
  EXPECT_EQ(strip.back(), "says: Nothing was recorded: the take is not saved");
  EXPECT_EQ(testing::ReadBytes(dir / "Prompt/unit/a001.wav"), good);
  EXPECT_FALSE(flow->unsavedTake());

  engine.SetInputTone(440.0, 0.01);  // a worse take, saved over the good one
  ASSERT_TRUE(Take(200));
  EXPECT_NE(testing::ReadBytes(dir / "Prompt/unit/a001.wav"), good);
  ASSERT_EQ(flow->EarlierTakeCount(), 1);
  const std::vector<RecordingFlow::EarlierTake> earlier = flow->EarlierTakes();
  ASSERT_EQ(earlier.size(), 1u);
  ASSERT_TRUE(earlier[0].judgement);
  EXPECT_TRUE(earlier[0].judgement->Has(measures::Problem::CutStart));
  const std::string worse = testing::ReadBytes(dir / "Prompt/unit/a001.wav");

  ASSERT_TRUE(flow->RestoreEarlierTake(1));
  EXPECT_EQ(testing::ReadBytes(dir / "Prompt/unit/a001.wav"), good);
  ASSERT_TRUE(flow->RestoreEarlierTake(1));  // and back
  EXPECT_EQ(testing::ReadBytes(dir / "Prompt/unit/a001.wav"), worse);
}

// Nobody speaks a take that cannot be saved: the recording does not start, and the box says why.
// A disk that fills up while a take is spoken: the take stays until there is room again.
TEST_F(RecordingFlowTest, ATakeThatFindsTheDiskFullIsKeptUntilThereIsRoom) {
  const testing::SmallFileSystem small(dir / "Prompt");
  if (!small.mounted()) {
    GTEST_SKIP() << "needs root to mount a small file system";
  }
  ASSERT_TRUE(Take(300));
  const std::string first = testing::ReadBytes(dir / "Prompt/unit/a001.wav");
  small.Fill();
  EXPECT_FALSE(Take(3000));
  ASSERT_TRUE(flow->unsavedTake());
  EXPECT_NE(flow->unsavedTake()->cause.find("No space left on device"), std::string::npos)
      << flow->unsavedTake()->cause;
  EXPECT_EQ(testing::ReadBytes(dir / "Prompt/unit/a001.wav"), first);

  small.Empty();
  EXPECT_TRUE(SaveAgain());
  EXPECT_FALSE(flow->unsavedTake());
  audio::WaveElement saved;
  std::string error;
  ASSERT_TRUE(audio::ReadWaveFile(dir.wide() + u"/Prompt/unit/a001.wav", &saved, &error)) << error;
  EXPECT_EQ(saved.frames(), 22050u * 3);
}

TEST_F(RecordingFlowTest, ARecordingThatCouldNotBeSavedDoesNotStart) {
  std::filesystem::create_directories(dir /
                                      "Prompt/unit/a001.wav");  // a folder where the take goes
  EXPECT_FALSE(flow->PrepareToRecord());
  ASSERT_EQ(failures.reports.size(), 1u);
  EXPECT_EQ(failures.reports[0].caption, QStringLiteral("Cannot record"));
  EXPECT_NE(failures.reports[0].text.indexOf(QStringLiteral("directory")), -1);
  EXPECT_EQ(engine.openDevices(), 0u);
}

TEST_F(RecordingFlowTest, TheLevelCheckMeasuresInTheTemplateFormatUntilSomethingEndsIt) {
  ASSERT_TRUE(flow->StartLevelCheck());
  EXPECT_TRUE(flow->levelCheckRunning());
  EXPECT_EQ(strip, std::vector<std::string>{"meter"});
  Advance(100);
  ASSERT_EQ(levels.size(), 1u);
  EXPECT_EQ(levels[0].frames, 2205u);   // 100 ms at the template's 22050 Hz
  EXPECT_EQ(engine.openDevices(), 0u);  // nothing is recorded into a file

  // Moving to another prompt does not end it; a playback does, and empties the strip.
  flow->ReleaseDevice();
  EXPECT_TRUE(flow->levelCheckRunning());
  ASSERT_TRUE(flow->PrepareToPlay());
  flow->StartPlaying();
  EXPECT_FALSE(flow->levelCheckRunning());
  EXPECT_EQ(strip, (std::vector<std::string>{"meter", "clear"}));
  flow->StopPlaying();

  // A recording ends it and starts its own meter.
  ASSERT_TRUE(flow->StartLevelCheck());
  ASSERT_TRUE(flow->PrepareToRecord());
  flow->StartRecording();
  EXPECT_FALSE(flow->levelCheckRunning());
  EXPECT_EQ(strip.back(), "meter");
  flow->ReleaseDevice();

  // Stopping it by hand empties the strip; so does the flow's end stop it.
  ASSERT_TRUE(flow->StartLevelCheck());
  flow->StopLevelCheck();
  EXPECT_FALSE(engine.levelCheckRunning());
  EXPECT_EQ(strip.back(), "clear");
  ASSERT_TRUE(flow->StartLevelCheck());
  flow.reset();
  EXPECT_FALSE(engine.levelCheckRunning());
}

TEST_F(RecordingFlowTest, ALevelCheckWithoutATemplateSaysWhyAndDoesNotStart) {
  std::filesystem::remove(dir / "sample.wav");
  EXPECT_FALSE(flow->StartLevelCheck());
  EXPECT_FALSE(engine.levelCheckRunning());
  ASSERT_EQ(failures.reports.size(), 1u);
  EXPECT_EQ(failures.reports[0].caption, QStringLiteral("Level Check Error"));
  EXPECT_TRUE(strip.empty());
}

TEST_F(RecordingFlowTest, ADeviceChoiceIsKeptAndAVanishedOneFallsBackQuietly) {
  const std::vector<audio::SoundDevice> inputs{{"builtin", QStringLiteral("Built-in Audio")},
                                               {"usb", QStringLiteral("USB Microphone")}};
  engine.SetDevices(Direction::Input, inputs);
  EXPECT_EQ(flow->DeviceInUse(Direction::Input, flow->Devices(Direction::Input)), "");
  flow->ChooseDevice(Direction::Input, "usb");
  EXPECT_EQ(engine.ChosenDevice(Direction::Input), "usb");
  EXPECT_EQ(flow->DeviceInUse(Direction::Input, inputs), "usb");
  EXPECT_EQ(QSettings(settingsFile, QSettings::IniFormat).value("sound/inputDevice").toString(),
            QStringLiteral("usb"));

  // The next run gives the remembered choice to its engine, and records from it.
  audio::SimulatedAudioEngine nextRun;
  nextRun.SetDevices(Direction::Input, inputs);
  flow = MakeFlow(nextRun);
  EXPECT_EQ(nextRun.ChosenDevice(Direction::Input), "usb");
  EXPECT_EQ(nextRun.ChosenDevice(Direction::Output), "");
  ASSERT_TRUE(flow->PrepareToRecord());
  flow->StartRecording();
  EXPECT_EQ(nextRun.streamDevice(flow->device()->deviceId()), "usb");
  flow->ReleaseDevice();
  flow.reset();

  // A run in which the microphone is unplugged: the default is in use and shown, no box.
  audio::SimulatedAudioEngine unplugged;
  unplugged.SetDevices(Direction::Input, {inputs[0]});
  flow = MakeFlow(unplugged);
  EXPECT_EQ(flow->DeviceInUse(Direction::Input, flow->Devices(Direction::Input)), "");
  ASSERT_TRUE(flow->PrepareToRecord());
  flow->StartRecording();
  EXPECT_EQ(unplugged.streamDevice(flow->device()->deviceId()), "");
  EXPECT_TRUE(failures.reports.empty());
  flow->ReleaseDevice();
  flow.reset();

  // Choosing the system default again is remembered as such.
  audio::SimulatedAudioEngine later;
  flow = MakeFlow(later);
  flow->ChooseDevice(Direction::Input, "");
  EXPECT_EQ(QSettings(settingsFile, QSettings::IniFormat).value("sound/inputDevice").toString(),
            QString());
  flow.reset();  // before its engine goes
}

TEST_F(RecordingFlowTest, WithoutASettingsFileTheChoiceLastsForTheRun) {
  settingsFile.clear();
  flow.reset();
  flow = MakeFlow(engine);
  flow->ChooseDevice(Direction::Output, "hdmi");
  EXPECT_EQ(engine.ChosenDevice(Direction::Output), "hdmi");
  EXPECT_FALSE(std::filesystem::exists(dir / "voxtar.conf"));
}

}  // namespace
}  // namespace voxtar::session
