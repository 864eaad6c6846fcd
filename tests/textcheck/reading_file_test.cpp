// SPDX-License-Identifier: GPL-3.0-or-later
#include "textcheck/reading_file.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <string>
#include <vector>

#include "platform/utf8.h"
#include "tests/support/temp_dir.h"

namespace voxtar::textcheck {
namespace {

constexpr int kRate = 8000;

// One second of stereo whose mono mix at frame n is n / 10000 (the channels differ).
std::u16string RampFile(const testing::TempDir& dir) {
  const std::string path = (dir / "take.wav").string();
  SF_INFO info{};
  info.samplerate = kRate;
  info.channels = 2;
  info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  EXPECT_NE(file, nullptr);
  std::vector<float> frames;
  for (int n = 0; n < kRate; ++n) {
    frames.push_back(static_cast<float>(n) / 10000.0F + 0.25F);
    frames.push_back(static_cast<float>(n) / 10000.0F - 0.25F);
  }
  sf_writef_float(file, frames.data(), kRate);
  sf_close(file);
  return platform::FromUtf8(path);
}

// The voice span the detector found, 100 ms of room either side where the take has it, mixed to
// mono.
TEST(ReadingFile, ReadsTheVoiceWithRoomEitherSideWithinTheTake) {
  struct Case {
    const char* what;
    std::uint32_t startMs, lengthMs;
    int firstFrame, frames;
  };
  const Case cases[] = {
      {"inside", 300, 200, 1600, 3200},
      {"at the start: less room before", 50, 200, 0, 2800},
      {"to the end: the take ends first", 800, 300, 5600, 2400},
      {"a silent take", 0, 0, 0, 0},
      {"beyond the end", 1500, 200, 0, 0},
  };
  const testing::TempDir dir;
  const std::u16string path = RampFile(dir);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Reading reading;
    std::string error;
    ASSERT_TRUE(ReadReading(path, c.startMs, c.lengthMs, &reading, &error)) << error;
    EXPECT_EQ(reading.sampleRate, kRate);
    ASSERT_EQ(reading.samples.size(), static_cast<std::size_t>(c.frames));
    if (c.frames > 0) {
      EXPECT_NEAR(reading.samples.front(), c.firstFrame / 10000.0, 1e-6);
      EXPECT_NEAR(reading.samples.back(), (c.firstFrame + c.frames - 1) / 10000.0, 1e-6);
    }
  }
  testing::WriteBytes(dir / "notes.wav", "not a sound");
  Reading reading;
  std::string error;
  EXPECT_FALSE(
      ReadReading(platform::FromUtf8((dir / "notes.wav").string()), 0, 500, &reading, &error));
  EXPECT_NE(error.find("not a sound file"), std::string::npos) << error;
  EXPECT_NE(error.find("notes.wav"), std::string::npos) << error;
}

}  // namespace
}  // namespace voxtar::textcheck
