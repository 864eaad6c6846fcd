// SPDX-License-Identifier: GPL-3.0-or-later
#include "measures/waveform_overview.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "tests/measures/measures_test_support.h"

namespace voxtar::measures {
namespace {

using audio::WaveElement;

constexpr int kRate = 32000;
constexpr std::size_t kColumns = 300;  // 10 ms each over the 3 s take
const int kSubFormats[] = {SF_FORMAT_PCM_U8, SF_FORMAT_PCM_16, SF_FORMAT_PCM_24, SF_FORMAT_PCM_32,
                           SF_FORMAT_FLOAT};

// 3 s: a tone at half scale from 0.5 to 1.5 s, a click on the last channel only at 2 s, an
// overdriven burst from 2.5 to 2.6 s, silence elsewhere.
WaveElement Take(int subFormat, int channels) {
  WaveElement take = audio::SilentTake(SF_FORMAT_WAV | subFormat, kRate, channels, 3.0);
  audio::AddTone(&take, 0.5, 1.5, 0.5, 400.0);
  audio::PutSample(&take, static_cast<std::size_t>(2 * kRate * channels + channels - 1), 0.9);
  audio::AddTone(&take, 2.5, 2.6, 1.5, 400.0);
  return take;
}

WaveColumn ColumnOf(const WaveformOverview& overview, std::size_t index, std::size_t columns) {
  const auto [from, to] = ColumnFrames(index, columns, overview.frames());
  return overview.Column(from, to).value_or(WaveColumn{-9.0f, -9.0f, false});
}

class Overview : public TakeFiles {};

TEST_F(Overview, ColumnsShowTheTakeAliveFromItsFileAndFromItsBlocksInEveryFormat) {
  for (const int sub : kSubFormats) {
    for (const int channels : {1, 2}) {
      SCOPED_TRACE(DescribeFormat({kRate, channels, sub}));
      const WaveElement take = Take(sub, channels);
      const WaveformOverview overview = *OverviewOf(take);
      EXPECT_EQ(overview.frames(), take.frames());
      EXPECT_EQ(overview.lengthMs(), 3000u);
      EXPECT_GE(overview.peak(), 0.999f);  // a float take goes beyond full scale
      EXPECT_TRUE(overview.clipped());
      for (std::size_t c = 0; c < kColumns; ++c) {
        SCOPED_TRACE(c);
        const WaveColumn column = ColumnOf(overview, c, kColumns);
        const bool tone = c >= 50 && c < 150;
        const bool burst = c >= 250 && c < 260;
        EXPECT_EQ(column.clipped, burst);
        if (tone) {
          EXPECT_NEAR(column.max, 0.5, 0.01);
          EXPECT_NEAR(column.min, -0.5, 0.01);
        } else if (c == 200) {
          EXPECT_NEAR(column.max, 0.9, 0.01);  // one channel's click shows in the one trace
          EXPECT_EQ(column.min, 0.0f);
        } else if (!burst) {
          EXPECT_EQ(column, (WaveColumn{0.0f, 0.0f, false}));
        }
      }

      std::string error;
      ASSERT_TRUE(audio::WriteWaveFile(take, Wide("take.wav"), &error)) << error;
      EXPECT_EQ(OverviewOfFile(Wide("take.wav"), &error), overview) << error;

      // As captured: blocks of every size, the bins growing as the take does.
      WaveformOverview live(kRate, channels, take.kind);
      const std::uint64_t sizes[] = {1, 479, 480, 4097, 13};
      std::vector<std::byte> block;
      for (std::uint64_t at = 0, n = 0; at < take.frames(); ++n) {
        block.resize(static_cast<std::size_t>(sizes[n % 5]) * take.bytesPerFrame());
        const std::uint64_t got = take.samples.CopyOut(at, block);
        live.Append(std::span<const std::byte>(block).first(static_cast<std::size_t>(got) *
                                                            take.bytesPerFrame()));
        at += got;
      }
      EXPECT_EQ(live, overview);
    }
  }
}

TEST_F(Overview, ClipsWhereTheTakeCheckCountsClippedSamples) {
  const double values[] = {0.98, 0.9985, 0.9995, 1.0, -0.9985, -0.9995, -1.0};
  for (const int sub : kSubFormats) {
    for (const double value : values) {
      SCOPED_TRACE(DescribeFormat({kRate, 1, sub}) + ", " + std::to_string(value));
      WaveElement take = audio::SilentTake(SF_FORMAT_WAV | sub, kRate, 1, 0.1);
      audio::PutSample(&take, 1000, value);
      const bool clipped = OverviewOf(take)->clipped();
      EXPECT_EQ(clipped, Measure(take).clippedSamples > 0);
      if (std::fabs(value) == 1.0 || value == 0.98) {
        EXPECT_EQ(clipped, value != 0.98);
      }
    }
  }
}

TEST_F(Overview, LevelSummariesShowEachBlocksPeakBothWays) {
  const WaveElement take = audio::SpokenTake(SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2);
  const WaveformOverview whole = *OverviewOf(take);
  WaveformOverview summaries(48000, 2, take.kind);
  std::vector<std::byte> block(480 * take.bytesPerFrame());
  for (std::uint64_t at = 0; at < take.frames(); at += 480) {
    take.samples.CopyOut(at, block);
    summaries.Append(audio::SummarizeBlock(block, 2, take.kind));
  }
  ASSERT_EQ(summaries.frames(), take.frames());
  const std::size_t blocks = take.frames() / 480;
  for (std::size_t c = 0; c < blocks; ++c) {
    const WaveColumn exact = ColumnOf(whole, c, blocks);
    const float peak = std::max(-exact.min, exact.max);
    EXPECT_EQ(ColumnOf(summaries, c, blocks), (WaveColumn{-peak, peak, exact.clipped})) << c;
  }
}

TEST_F(Overview, AnUnreadableFileOrAStopGivesNoOverview) {
  testing::WriteBytes(tmp / "notes.wav", "not a sound file");
  std::string error;
  for (const char* name : {"missing.wav", "notes.wav"}) {
    EXPECT_FALSE(OverviewOfFile(Wide(name), &error));
    EXPECT_NE(error.find(name), std::string::npos) << error;
  }
  const WaveElement take = Take(SF_FORMAT_PCM_16, 1);
  ASSERT_TRUE(audio::WriteWaveFile(take, Wide("take.wav"), &error));
  std::stop_source stop;
  stop.request_stop();
  EXPECT_FALSE(OverviewOfFile(Wide("take.wav"), &error, stop.get_token()));
  EXPECT_EQ(error, "");
  EXPECT_FALSE(OverviewOf(take, stop.get_token()));
}

}  // namespace
}  // namespace voxtar::measures
