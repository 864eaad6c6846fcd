// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/level_meter.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cstring>
#include <string>
#include <vector>

#include "testing/synthetic_take.h"

namespace voxtar::audio {
namespace {

using namespace std::chrono_literals;

struct Format {
  const char* name;
  int format;
};

constexpr Format kFormats[] = {
    {"8-bit", SF_FORMAT_WAV | SF_FORMAT_PCM_U8},  {"16-bit", SF_FORMAT_WAV | SF_FORMAT_PCM_16},
    {"24-bit", SF_FORMAT_WAV | SF_FORMAT_PCM_24}, {"32-bit", SF_FORMAT_WAV | SF_FORMAT_PCM_32},
    {"float", SF_FORMAT_WAV | SF_FORMAT_FLOAT},
};

LevelSummary Summarize(const WaveElement& take) {
  return SummarizeBlock(Bytes(take), take.channels, take.kind);
}

TEST(LevelSummary, SineLevelsInEveryFormatMonoAndStereo) {
  for (const Format& format : kFormats) {
    for (const int channels : {1, 2}) {
      SCOPED_TRACE(std::string(format.name) + " " + std::to_string(channels) + " ch");
      WaveElement take = SilentTake(format.format, 48000, channels, 0.1);
      AddTone(&take, 0.0, 0.1, 0.5, 1000.0);
      const LevelSummary half = Summarize(take);
      EXPECT_EQ(half.frames, 4800u);
      EXPECT_NEAR(half.peak, 0.5, 0.01);
      EXPECT_NEAR(half.peakDb, -6.02, 0.1);
      EXPECT_NEAR(half.rmsDb, -9.03, 0.1);  // a sine's RMS is 3 dB below its peak
      EXPECT_FALSE(half.clipped);

      AddTone(&take, 0.0, 0.1, 1.2, 1000.0);  // integer formats saturate, float goes beyond
      const LevelSummary over = Summarize(take);
      EXPECT_TRUE(over.clipped);
      EXPECT_NEAR(over.peakDb, take.kind == SampleKind::Float ? 1.58 : 0.0, 0.1);

      const LevelSummary silence = Summarize(SilentTake(format.format, 48000, channels, 0.1));
      EXPECT_EQ(silence.peakDb, kFloorDb);
      EXPECT_EQ(silence.rmsDb, kFloorDb);
      EXPECT_FALSE(silence.clipped);
    }
  }
}

template <typename T>
std::vector<std::byte> Bytes(std::initializer_list<T> samples) {
  std::vector<std::byte> bytes(samples.size() * sizeof(T));
  std::memcpy(bytes.data(), std::data(samples), bytes.size());
  return bytes;
}

bool Clips(const std::vector<std::byte>& block, SampleKind kind) {
  return SummarizeBlock(block, 1, kind).clipped;
}

TEST(LevelSummary, ClipsAtTheFormatsExtremesAndAt99Point9Percent) {
  // 8-bit: 255 is only 127/128 of full scale, yet it is the format's largest value.
  EXPECT_TRUE(Clips(Bytes<std::uint8_t>({128, 255}), SampleKind::UInt8));
  EXPECT_TRUE(Clips(Bytes<std::uint8_t>({0}), SampleKind::UInt8));
  EXPECT_FALSE(Clips(Bytes<std::uint8_t>({1, 254}), SampleKind::UInt8));
  // 16-bit: 0.999 * 32768 = 32735.2.
  EXPECT_FALSE(Clips(Bytes<std::int16_t>({32735, -32735}), SampleKind::Int16));
  EXPECT_TRUE(Clips(Bytes<std::int16_t>({32736}), SampleKind::Int16));
  EXPECT_TRUE(Clips(Bytes<std::int16_t>({-32768}), SampleKind::Int16));
  // 24-bit held left-justified: its largest value is 0x7FFFFF00; 0.999 of full scale is
  // 0x7FDF3B64.
  EXPECT_TRUE(Clips(Bytes<std::int32_t>({0x7FFFFF00}), SampleKind::Int32));
  EXPECT_FALSE(Clips(Bytes<std::int32_t>({0x7FD00000}), SampleKind::Int32));
  EXPECT_TRUE(Clips(Bytes<std::int32_t>({INT32_MIN}), SampleKind::Int32));
  // Float may go beyond full scale; the peak says by how much.
  EXPECT_FALSE(Clips(Bytes<float>({0.998f, -0.998f}), SampleKind::Float));
  EXPECT_TRUE(Clips(Bytes<float>({-0.9995f}), SampleKind::Float));
  const LevelSummary over = SummarizeBlock(Bytes<float>({0.0f, 2.0f}), 1, SampleKind::Float);
  EXPECT_TRUE(over.clipped);
  EXPECT_NEAR(over.peakDb, 6.02, 0.01);
}

TEST(LevelSummary, TakesWholeFramesOfAnyAlignment) {
  // A partial frame at the end is left out; a block need not be aligned for its kind.
  std::vector<std::byte> bytes(1 + 5 * sizeof(std::int16_t));
  const std::int16_t samples[] = {16384, -16384, 16384, -16384, 32767};
  std::memcpy(bytes.data() + 1, samples, sizeof samples);
  const LevelSummary stereo = SummarizeBlock(std::span(bytes).subspan(1), 2, SampleKind::Int16);
  EXPECT_EQ(stereo.frames, 2u);
  EXPECT_FALSE(stereo.clipped);  // the clipped sample was in the partial frame
  EXPECT_NEAR(stereo.peakDb, -6.02, 0.01);
  EXPECT_NEAR(stereo.rmsDb, -6.02, 0.01);

  EXPECT_EQ(SummarizeBlock(bytes, 0, SampleKind::Int16).frames, 0u);
  EXPECT_EQ(SummarizeBlock({}, 2, SampleKind::Float).peakDb, kFloorDb);
}

LevelSummary Level(double peakDb, bool clipped = false) {
  LevelSummary summary;
  summary.peakDb = peakDb;
  summary.rmsDb = peakDb - 10.0;
  summary.clipped = clipped;
  return summary;
}

TEST(LevelMeterState, RisesAtOnceFallsBackAndHoldsThePeakForASecond) {
  LevelMeterState meter;
  const auto t0 = LevelMeterState::Clock::time_point{} + 100s;
  EXPECT_EQ(meter.Display(t0).peakDb, kFloorDb);

  meter.Feed(Level(-6.0), t0);
  meter.Feed(Level(-30.0), t0 + 100ms);
  LevelDisplay shown = meter.Display(t0 + 100ms);
  EXPECT_NEAR(shown.peakDb, -6.0 - 2.4, 1e-9);  // 24 dB/s for 100 ms
  EXPECT_NEAR(shown.rmsDb, -16.0 - 2.4, 1e-9);
  EXPECT_EQ(shown.holdDb, -6.0);

  for (auto at = t0 + 200ms; at <= t0 + 900ms; at += 100ms) {
    meter.Feed(Level(-30.0), at);
  }
  EXPECT_EQ(meter.Display(t0 + 950ms).holdDb, -6.0);
  EXPECT_NEAR(meter.Display(t0 + 950ms).peakDb, -28.8, 1e-9);

  meter.Feed(Level(-30.0), t0 + 1100ms);  // the hold ran out
  shown = meter.Display(t0 + 1100ms);
  EXPECT_EQ(shown.peakDb, -30.0);
  EXPECT_EQ(shown.holdDb, -30.0);

  meter.Feed(Level(-3.0), t0 + 1200ms);  // a higher peak takes the hold at once
  EXPECT_EQ(meter.Display(t0 + 1300ms).holdDb, -3.0);
  // With nothing coming in, everything falls back to the floor.
  shown = meter.Display(t0 + 10s);
  EXPECT_EQ(shown.peakDb, kFloorDb);
  EXPECT_EQ(shown.rmsDb, kFloorDb);
  EXPECT_EQ(shown.holdDb, kFloorDb);
}

TEST(LevelMeterState, ClipStaysLitUntilReset) {
  LevelMeterState meter;
  const auto t0 = LevelMeterState::Clock::time_point{} + 100s;
  meter.Feed(Level(-1.0), t0);
  EXPECT_FALSE(meter.Display(t0).clipped);
  meter.Feed(Level(0.0, true), t0 + 10ms);
  meter.Feed(Level(-40.0), t0 + 20ms);
  EXPECT_TRUE(meter.Display(t0 + 60s).clipped);
  meter.Reset();
  const LevelDisplay shown = meter.Display(t0 + 60s);
  EXPECT_FALSE(shown.clipped);
  EXPECT_EQ(shown.holdDb, kFloorDb);
}

}  // namespace
}  // namespace voxtar::audio
