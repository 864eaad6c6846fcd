// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated engine itself: other tests (the main dialog's too) rely on its clock, its
// captured tone, its injected failures and its notices behaving like the real engine's.
#include "testing/simulated_audio_engine.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <algorithm>
#include <cmath>
#include <numbers>

#include "platform/file_system.h"
#include "testing/synthetic_take.h"
#include "tests/audio/audio_test_support.h"
#include "tests/support/temp_dir.h"

namespace voxtar::audio {
namespace {

using Command = SimulatedAudioEngine::Command;

class SimulatedEngineTest : public ::testing::Test {
 protected:
  // Opens an in-memory element of 16-bit mono at 8000 Hz holding `frames` frames of silence.
  DeviceId OpenSilence(std::uint64_t frames) {
    engine_.AddElement(u"mem.wav", MakeElement(SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, frames));
    DeviceId id = 0;
    EXPECT_EQ(engine_.Open(u"mem.wav", &id), kNoError);
    return id;
  }

  std::vector<std::int16_t> Samples(DeviceId id) {
    const std::vector<std::byte> bytes = Bytes(*engine_.element(id));
    std::vector<std::int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), bytes.size());
    return samples;
  }

  void Deliver() { QCoreApplication::sendPostedEvents(&notify_); }

  SimulatedAudioEngine engine_;
  testing::NoticeCollector notify_;
};

TEST_F(SimulatedEngineTest, InjectedFailuresHitOnceOrUntilCleared) {
  const DeviceId id = OpenSilence(8000);
  engine_.FailNext(Command::Stop, 77, QStringLiteral("once"));
  EXPECT_EQ(engine_.Stop(id), 77u);
  EXPECT_EQ(engine_.ErrorText(77), QStringLiteral("once"));
  EXPECT_EQ(engine_.Stop(id), kNoError);

  engine_.FailAlways(Command::Play, 78, QStringLiteral("always"));
  EXPECT_EQ(engine_.Play(id, 0, std::nullopt, &notify_), 78u);
  EXPECT_EQ(engine_.Play(id, 0, std::nullopt, &notify_), 78u);
  EXPECT_FALSE(engine_.isPlaying(id));
  engine_.ClearFailures();
  EXPECT_EQ(engine_.Play(id, 0, std::nullopt, &notify_), kNoError);
  EXPECT_EQ(engine_.calls().back().result, kNoError);
  EXPECT_EQ(engine_.calls()[engine_.calls().size() - 2].result, 78u);
}

TEST_F(SimulatedEngineTest, RecordingOverwritesFromItsPositionKeepsTheRestAndExtends) {
  const DeviceId id = OpenSilence(8000);  // 1 s
  engine_.SetInputTone(1000.0, 0.5);
  ASSERT_EQ(engine_.Record(id, 200, &notify_), kNoError);
  engine_.Advance(300);
  ASSERT_EQ(engine_.Stop(id), kNoError);
  auto samples = Samples(id);
  ASSERT_EQ(samples.size(), 8000u);
  auto loud = [](std::int16_t s) { return std::abs(s) > 1000; };
  EXPECT_TRUE(std::none_of(samples.begin(), samples.begin() + 1600, loud));
  EXPECT_TRUE(std::any_of(samples.begin() + 1600, samples.begin() + 4000, loud));
  EXPECT_TRUE(std::none_of(samples.begin() + 4000, samples.end(), loud));

  ASSERT_EQ(engine_.Record(id, 800, &notify_), kNoError);
  engine_.Advance(500);
  engine_.Stop(id);
  std::uint32_t length = 0;
  engine_.QueryLength(id, &length);
  EXPECT_EQ(length, 1300u);

  EXPECT_NE(engine_.Record(id, 1301, &notify_), kNoError);  // beyond the end
  EXPECT_EQ(CauseOf(engine_.calls().back().result), AudioError::OutOfRange);
}

TEST_F(SimulatedEngineTest, NoticesTellHowAPlaybackEnded) {
  const DeviceId id = OpenSilence(8000);
  engine_.Play(id, 0, 500, &notify_);
  engine_.Play(id, 0, std::nullopt, &notify_);  // supersedes
  engine_.Advance(600);
  Deliver();
  ASSERT_EQ(notify_.notices.size(), 1u);
  EXPECT_EQ(notify_.notices[0].code, NotifyCode::Superseded);
  engine_.Advance(400);
  Deliver();
  ASSERT_EQ(notify_.notices.size(), 2u);
  EXPECT_EQ(notify_.notices[1].code, NotifyCode::Successful);
  EXPECT_EQ(notify_.notices[1].device, id);

  engine_.Play(id, 0, std::nullopt, &notify_);
  engine_.LoseDevice(id);
  engine_.Play(id, 100, std::nullopt, &notify_);
  engine_.Close(id);
  Deliver();
  ASSERT_EQ(notify_.notices.size(), 4u);
  EXPECT_EQ(notify_.notices[2].code, NotifyCode::Failure);
  EXPECT_EQ(notify_.notices[3].code, NotifyCode::Aborted);
  EXPECT_EQ(CauseOf(engine_.Stop(id)), AudioError::InvalidDevice);
}

TEST_F(SimulatedEngineTest, PlayRefusesRangesOutsideTheSoundAndWhileRecording) {
  const DeviceId id = OpenSilence(8000);
  EXPECT_EQ(CauseOf(engine_.Play(id, 600, 500, &notify_)), AudioError::OutOfRange);
  EXPECT_EQ(CauseOf(engine_.Play(id, 0, 1001, &notify_)), AudioError::OutOfRange);
  engine_.Record(id, 0, &notify_);
  EXPECT_EQ(CauseOf(engine_.Play(id, 0, std::nullopt, &notify_)), AudioError::Busy);
  EXPECT_TRUE(engine_.isRecording(id));
  Deliver();
  EXPECT_TRUE(notify_.notices.empty());
}

// What cuts a recording short after 100 ms, and the cause its Stop reports and a word of its text.
struct Cut {
  const char* name;
  void (*cut)(SimulatedAudioEngine& engine, DeviceId id);
  AudioError cause;
  const char* says;
};

class CutShort : public SimulatedEngineTest, public ::testing::WithParamInterface<Cut> {};

TEST_P(CutShort, TheRecordingEndsKeepingWhatCameBeforeAndItsStopSaysWhy) {
  const DeviceId id = OpenSilence(0);
  engine_.Record(id, 0, &notify_);
  engine_.Advance(100);
  GetParam().cut(engine_, id);
  engine_.Advance(100);
  EXPECT_FALSE(engine_.isRecording(id));
  engine_.Advance(100);
  const ErrorCode error = engine_.Stop(id);
  EXPECT_EQ(CauseOf(error), GetParam().cause);
  EXPECT_TRUE(engine_.ErrorText(error).contains(QLatin1String(GetParam().says)))
      << engine_.ErrorText(error).toStdString();
  EXPECT_EQ(engine_.element(id)->frames(), 800u);  // what came in before the loss
  EXPECT_EQ(engine_.Stop(id), kNoError);           // told once
  Deliver();
  EXPECT_TRUE(notify_.recordings.empty());  // no notice: the Stop tells
}

INSTANTIATE_TEST_SUITE_P(Causes, CutShort,
                         ::testing::Values(Cut{"LostInput",
                                               [](SimulatedAudioEngine& engine, DeviceId id) {
                                                 engine.LoseDevice(id);
                                               },
                                               AudioError::InputFailed, "input"},
                                           Cut{"NoMemory",
                                               [](SimulatedAudioEngine& engine, DeviceId) {
                                                 engine.FailNextCaptureAllocation();
                                               },
                                               AudioError::OutOfMemory, "no memory left"}),
                         [](const ::testing::TestParamInfo<Cut>& cut) { return cut.param.name; });

// A take's margins, frame exact: the lead-in the kept-open input holds for it and the frames it
// records after the stop.
struct Margins {
  const char* name;
  std::uint32_t keepMs;   // the lead-in asked for
  std::uint32_t openMs;   // how long the input was open before Record
  std::uint32_t afterMs;  // recorded after FinishRecording
};

class TakeMargins : public SimulatedEngineTest, public ::testing::WithParamInterface<Margins> {};

TEST_P(TakeMargins, TheTakeIsTheInputsToneFromTheLeadInToTheEndOfItsLastFrames) {
  const Margins& margins = GetParam();
  const DeviceId id = OpenSilence(0);  // 8000 Hz: 8 frames a millisecond
  engine_.SetInputTone(300.0, 0.5);
  ASSERT_EQ(engine_.StartPreRoll({SampleKind::Int16, 8000, 1}, margins.keepMs), kNoError);
  for (std::uint32_t ms = 0; ms < margins.openMs; ms += 10) {
    engine_.Advance(10);
    ASSERT_LE(engine_.preRollHeldFrames(), margins.keepMs * 8u);
  }
  ASSERT_EQ(engine_.Record(id, 0, &notify_), kNoError);
  const std::uint32_t lead = std::min(margins.keepMs, margins.openMs) * 8u;
  EXPECT_EQ(engine_.PressFrame(id), lead);
  engine_.Advance(250);
  ASSERT_EQ(engine_.FinishRecording(id, margins.afterMs), kNoError);
  engine_.Advance(margins.afterMs);
  Deliver();
  const std::vector<std::pair<RecordingCode, DeviceId>> finished{{RecordingCode::Finished, id}};
  EXPECT_EQ(notify_.recordings, finished);
  engine_.Advance(100);
  ASSERT_EQ(engine_.Stop(id), kNoError);
  Deliver();
  EXPECT_EQ(notify_.recordings, finished);

  // Every frame is the input's own at its place: none lost or repeated at either end.
  const std::vector<std::int16_t> samples = Samples(id);
  ASSERT_EQ(samples.size(), lead + 2000u + margins.afterMs * 8u);
  const std::uint64_t first = margins.openMs * 8u - lead;  // the input's frame the take begins with
  for (std::size_t n = 0; n < samples.size(); ++n) {
    std::int16_t expected = 0;
    const double t = static_cast<double>(first + n) / 8000.0;
    EncodeSample(SampleKind::Int16, 0.5 * std::sin(2.0 * std::numbers::pi * 300.0 * t),
                 reinterpret_cast<std::byte*>(&expected));
    ASSERT_EQ(samples[n], expected) << "frame " << n;
  }
  EXPECT_TRUE(engine_.preRollRunning());  // kept open for the next take
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TakeMargins,
    ::testing::Values(Margins{"None", 0, 300, 0}, Margins{"LeadIn", 500, 800, 0},
                      Margins{"LeadInOpenedLessThanItsLength", 500, 200, 0},
                      Margins{"LeadInShorterThanACaptureStep", 5, 300, 0},
                      Margins{"AfterTheStop", 0, 100, 300},
                      Margins{"BothWithARingThatWrapsMidStep", 255, 1000, 120}),
    [](const ::testing::TestParamInfo<Margins>& margins) { return margins.param.name; });

// What ends a finishing take fed by the kept-open input, the one notice it gives and its Stop's
// cause.
struct FinishEnd {
  const char* name;
  void (*end)(SimulatedAudioEngine& engine);
  RecordingCode code;
  AudioError cause;
};

class FinishingTake : public SimulatedEngineTest,
                      public ::testing::WithParamInterface<FinishEnd> {};

TEST_P(FinishingTake, EndsWithOneNoticeKeepingWhatItCaptured) {
  const DeviceId id = OpenSilence(0);
  engine_.SetTakeLimitBytes(2 * 8000 * 2 / 5);  // 400 ms
  ASSERT_EQ(engine_.StartPreRoll({SampleKind::Int16, 8000, 1}, 100), kNoError);
  engine_.Advance(200);
  ASSERT_EQ(engine_.Record(id, 0, &notify_), kNoError);
  engine_.Advance(200);
  ASSERT_EQ(engine_.FinishRecording(id, 500), kNoError);
  engine_.Advance(50);
  GetParam().end(engine_);
  engine_.Advance(1000);
  ASSERT_EQ(engine_.FinishRecording(id, 500), kNoError);  // said once: no second notice
  Deliver();
  ASSERT_EQ(notify_.recordings.size(), 1u);
  EXPECT_EQ(notify_.recordings[0].first, GetParam().code);
  EXPECT_EQ(CauseOf(engine_.Stop(id)), GetParam().cause);
  EXPECT_EQ(engine_.element(id)->frames(), GetParam().cause == AudioError::None ? 3200u : 2800u);
}

INSTANTIATE_TEST_SUITE_P(
    Ends, FinishingTake,
    ::testing::Values(FinishEnd{"TakeLimit", [](SimulatedAudioEngine&) {},
                                RecordingCode::LimitReached, AudioError::None},
                      FinishEnd{"InputLost",
                                [](SimulatedAudioEngine& engine) { engine.LoseInput(); },
                                RecordingCode::Finished, AudioError::InputFailed},
                      FinishEnd{"NoMemory",
                                [](SimulatedAudioEngine& engine) {
                                  engine.FailNextCaptureAllocation();
                                  engine.Advance(10);
                                },
                                RecordingCode::Finished, AudioError::OutOfMemory}),
    [](const ::testing::TestParamInfo<FinishEnd>& end) { return end.param.name; });

TEST_F(SimulatedEngineTest, ElementsOnDiskAreReadAndRecordedLikeTheRealEngineDoes) {
  testing::TempDir dir;
  const auto file = dir / "sample.wav";
  testing::WriteTone(file, SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 11025, 1, 0.5, 300.0, 0.5);
  DeviceId id = 0;
  ASSERT_EQ(engine_.Open(platform::FromUtf8(file.string()), &id), kNoError);
  std::uint32_t length = 0;
  engine_.QueryLength(id, &length);
  EXPECT_EQ(length, 500u);
  engine_.Record(id, 0, &notify_);
  engine_.Advance(1000);
  const auto take = dir / "take.wav";
  ASSERT_TRUE(testing::SaveContent(engine_, id, take));
  const auto sound = testing::ReadSound(take);
  EXPECT_EQ(sound.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_U8);
  EXPECT_EQ(sound.info.frames, 11025);
  EXPECT_NEAR(testing::ToneFrequency(sound.channels[0], 11025), 440.0, 1.0);
}

}  // namespace
}  // namespace voxtar::audio
