// SPDX-License-Identifier: GPL-3.0-or-later
// Sound files in and out of memory: every template format comes back exactly as it was, a file
// is replaced only whole, and failures name their cause.
#include "audio/wave_element.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "audio/audio_errors.h"
#include "platform/file_system.h"
#include "platform/outcome.h"
#include "platform/utf8.h"
#include "testing/synthetic_take.h"
#include "tests/audio/audio_test_support.h"
#include "tests/support/temp_dir.h"

namespace voxtar::audio {
namespace {

using testing::ReadBytes;
using testing::TempDir;

using testing::Wide;

// All samples as libsndfile's ints: exact for every PCM width.
std::vector<int> Ints(const std::filesystem::path& path, SF_INFO* info) {
  *info = SF_INFO{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, info);
  EXPECT_NE(file, nullptr);
  std::vector<int> samples(static_cast<std::size_t>(info->frames * info->channels));
  sf_readf_int(file, samples.data(), info->frames);
  sf_close(file);
  return samples;
}

struct Format {
  const char* name;
  int format;
  int channels;
};

class RoundTrip : public ::testing::TestWithParam<Format> {};

TEST_P(RoundTrip, ReadAndWrittenBackTheFileKeepsItsFormatAndEverySample) {
  TempDir dir;
  const auto source = dir / "source.wav";
  const auto copy = dir / "copy.wav";
  testing::WriteTone(source, GetParam().format, 44100, GetParam().channels, 0.3, 997.0, 0.9);
  WaveElement element;
  std::string error;
  ASSERT_TRUE(ReadWaveFile(Wide(source), &element, &error)) << error;
  EXPECT_EQ(element.format, GetParam().format);
  EXPECT_EQ(element.frames(), 13230u);
  EXPECT_EQ(element.lengthMs(), 300u);
  ASSERT_TRUE(WriteWaveFile(element, Wide(copy), &error)) << error;

  SF_INFO before;
  SF_INFO after;
  const auto original = Ints(source, &before);
  const auto written = Ints(copy, &after);
  EXPECT_EQ(after.format, before.format);
  EXPECT_EQ(after.samplerate, before.samplerate);
  EXPECT_EQ(after.channels, before.channels);
  EXPECT_EQ(written, original);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, RoundTrip,
    ::testing::Values(Format{"U8Mono", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 1},
                      Format{"Pcm16Stereo", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2},
                      Format{"Pcm24Wavex", SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, 2},
                      Format{"Pcm24Wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 1},
                      Format{"Pcm32", SF_FORMAT_WAV | SF_FORMAT_PCM_32, 1},
                      Format{"Float", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2},
                      Format{"ULaw", SF_FORMAT_WAV | SF_FORMAT_ULAW, 1}),
    [](const ::testing::TestParamInfo<Format>& format) { return format.param.name; });

struct Layout {
  const char* name;
  int format;
  int channels;
};

class FileSize : public ::testing::TestWithParam<Layout> {};

// What a frame takes in the file is exact, the header and chunks libsndfile writes beside the
// sound fit in kHeaderRoom (so kWaveDataLimit of sound never wraps a 32-bit size), and a take one
// byte beyond its limit is refused without creating anything.
TEST_P(FileSize, TheSoundTakesWhatTheLimitCountsAndTheRestFitsTheHeaderRoom) {
  TempDir dir;
  WaveElement take = MakeElement(GetParam().format, 8000, GetParam().channels, 5);
  if (GetParam().channels == 6) {
    take.channelMap = {SF_CHANNEL_MAP_LEFT, SF_CHANNEL_MAP_RIGHT,     SF_CHANNEL_MAP_CENTER,
                       SF_CHANNEL_MAP_LFE,  SF_CHANNEL_MAP_REAR_LEFT, SF_CHANNEL_MAP_REAR_RIGHT};
  }
  const std::uint64_t sound = take.frames() * take.fileBytesPerFrame();
  std::string error;
  ASSERT_TRUE(WriteWaveFile(take, Wide(dir / "take.wav"), &error, {}, sound)) << error;
  const std::string bytes = ReadBytes(dir / "take.wav");
  const std::size_t data = bytes.rfind("data", bytes.size() - sound);
  ASSERT_NE(data, std::string::npos);
  std::uint32_t size = 0;
  std::memcpy(&size, bytes.data() + data + 4, 4);
  EXPECT_EQ(size, sound);
  EXPECT_LE(bytes.size() - sound, kHeaderRoom);

  EXPECT_FALSE(WriteWaveFile(take, Wide(dir / "long.wav"), &error, {}, sound - 1));
  EXPECT_NE(error.find("too long"), std::string::npos) << error;
  EXPECT_FALSE(std::filesystem::exists(dir / "long.wav"));
  EXPECT_EQ(take.MaxFrames(), kWaveDataLimit / take.fileBytesPerFrame());
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, FileSize,
    ::testing::Values(Layout{"U8Mono", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 1},
                      Layout{"Pcm16Stereo", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2},
                      Layout{"Pcm24WavexWithChannelMap", SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, 6},
                      Layout{"Pcm32", SF_FORMAT_WAV | SF_FORMAT_PCM_32, 3},
                      Layout{"FloatWithItsLargestPeakChunk", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1024},
                      Layout{"DoubleTwiceItsMemory", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 2},
                      Layout{"ULaw", SF_FORMAT_WAV | SF_FORMAT_ULAW, 1}),
    [](const ::testing::TestParamInfo<Layout>& layout) { return layout.param.name; });

TEST(WaveElement, AnEmptyTemplateIsNormal) {
  TempDir dir;
  const auto empty = dir / "sample.wav";
  testing::WriteTone(empty, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1, 0.0, 0.0, 0.0);
  WaveElement element;
  std::string error;
  ASSERT_TRUE(ReadWaveFile(Wide(empty), &element, &error));
  EXPECT_EQ(element.frames(), 0u);
  EXPECT_EQ(element.kind, SampleKind::Float);
  const auto copy = dir / "copy.wav";
  ASSERT_TRUE(WriteWaveFile(element, Wide(copy), &error));
  SF_INFO info;
  Ints(copy, &info);
  EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
  EXPECT_EQ(info.frames, 0);
}

TEST(WaveElement, UnreadableFilesNameTheirCause) {
  TempDir dir;
  WaveElement element;
  std::string error;
  bool notOpened = false;
  EXPECT_FALSE(ReadWaveFile(Wide(dir / "missing.wav"), &element, &error, &notOpened));
  EXPECT_TRUE(notOpened);
  EXPECT_NE(error.find("missing.wav"), std::string::npos) << error;
  EXPECT_NE(error.find("No such file"), std::string::npos) << error;

  testing::WriteBytes(dir / "text.wav", "RIFF but not really");
  EXPECT_FALSE(ReadWaveFile(Wide(dir / "text.wav"), &element, &error, &notOpened));
  EXPECT_FALSE(notOpened);
  EXPECT_NE(error.find("not a sound file"), std::string::npos) << error;

  EXPECT_FALSE(ReadWaveFile(Wide(dir.path()), &element, &error, &notOpened));  // a directory
  EXPECT_TRUE(notOpened);
}

TEST(WaveElement, AFailedWriteLeavesTheTargetAsItWas) {
  TempDir dir;
  const WaveElement element = MakeElement(SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, 800);
  std::string error;
  EXPECT_FALSE(WriteWaveFile(element, Wide(dir / "no" / "dir.wav"), &error));
  EXPECT_NE(error.find("dir.wav"), std::string::npos) << error;
  EXPECT_FALSE(std::filesystem::exists(dir / "no"));

  // A format libsndfile cannot write is refused before the target is touched.
  const auto take = dir / "take.wav";
  testing::WriteBytes(take, "old take");
  WaveElement odd = element;
  odd.format = SF_FORMAT_WAV | SF_FORMAT_VORBIS;
  EXPECT_FALSE(WriteWaveFile(odd, Wide(take), &error));
  EXPECT_EQ(ReadBytes(take), "old take");

  std::filesystem::permissions(take, std::filesystem::perms::owner_read);
  EXPECT_FALSE(WriteWaveFile(element, Wide(take), &error));
  EXPECT_EQ(ReadBytes(take), "old take");

  // Replacing a writable take works and leaves no temporary file.
  std::filesystem::permissions(take, std::filesystem::perms::owner_all);
  EXPECT_TRUE(WriteWaveFile(element, Wide(take), &error)) << error;
  EXPECT_NE(ReadBytes(take), "old take");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                          std::filesystem::directory_iterator()),
            1);
}

TEST(WaveElement, ErrorTextsNameNonAsciiPathsInUtf8) {
  TempDir dir;
  const auto lesson = dir / "Урок 1";
  std::filesystem::create_directory(lesson);
  WaveElement element;
  std::string error;
  EXPECT_FALSE(ReadWaveFile(Wide(lesson / "привет.wav"), &element, &error));
  EXPECT_EQ(error, "The sound file cannot be opened: " + dir.path().string() +
                       "/Урок 1/привет.wav (" + platform::SystemText(ENOENT) + ")");

  testing::WriteBytes(lesson / "текст.wav", "RIFF but not really");
  EXPECT_FALSE(ReadWaveFile(Wide(lesson / "текст.wav"), &element, &error));
  EXPECT_EQ(error.rfind("The file is not a sound file that can be read: " + dir.path().string() +
                            "/Урок 1/текст.wav (",
                        0),
            0u)
      << error;

  const WaveElement take = MakeElement(SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, 80);
  EXPECT_FALSE(WriteWaveFile(take, Wide(lesson / "нет" / "запись.wav"), &error));
  EXPECT_EQ(error.rfind("The sound file cannot be created: " + dir.path().string() +
                            "/Урок 1/нет/запись.wav (",
                        0),
            0u)
      << error;
  EXPECT_TRUE(platform::IsValidUtf8(error));
}

TEST(WaveElement, OverwriteKeepsWhatLiesBeyondAndExtendsThePastEnd) {
  WaveElement element = MakeElement(SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 1000, 2, 4);
  ASSERT_EQ(element.samples.bytes(), 8u);
  const std::byte two[4] = {std::byte{1}, std::byte{2}, std::byte{3}, std::byte{4}};
  element.Overwrite(1, two, 4);
  EXPECT_EQ(element.frames(), 4u);
  const std::vector<std::byte> bytes = Bytes(element);
  EXPECT_EQ(bytes[1], std::byte{0x80});  // untouched silence before
  EXPECT_EQ(bytes[2], std::byte{1});
  EXPECT_EQ(bytes[6], std::byte{0x80});  // and after
  element.Overwrite(3, two, 4);
  EXPECT_EQ(element.frames(), 5u);
  EXPECT_EQ(element.FramesAt(1500), 1500u);
  EXPECT_EQ(element.MsOf(1999), 1999u);
  EXPECT_EQ(element.lengthMs(), 5u);
}

TEST(ErrorBook, DetailsAreKeptPerCodeAndFallBackToTheCause) {
  ErrorBook book;
  const ErrorCode plain = book.Make(AudioError::NoInputDevice);
  const ErrorCode first = book.Make(AudioError::CannotWrite, QStringLiteral("first"));
  const ErrorCode second = book.Make(AudioError::CannotWrite, QStringLiteral("second"));
  EXPECT_NE(first, second);
  EXPECT_EQ(CauseOf(first), AudioError::CannotWrite);
  EXPECT_EQ(book.Text(plain), CauseText(AudioError::NoInputDevice));
  EXPECT_EQ(book.Text(first), QStringLiteral("first"));
  EXPECT_EQ(book.Text(second), QStringLiteral("second"));
  for (int i = 0; i < 100; ++i) {
    book.Make(AudioError::Busy, QStringLiteral("later"));
  }
  EXPECT_EQ(book.Text(first), CauseText(AudioError::CannotWrite));
  EXPECT_NE(plain, kNoError);
}

}  // namespace
}  // namespace voxtar::audio
