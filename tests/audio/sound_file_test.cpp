// SPDX-License-Identifier: GPL-3.0-or-later
// The one reader of take files, and the opener under it, which leaves the caller's descriptor
// the caller's: a failed open must not close it behind the caller's back, where the caller's own
// close would then hit whatever file another thread opened under the same number.

#include "audio/sound_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/audio/audio_test_support.h"
#include "tests/support/temp_dir.h"

namespace voxtar::audio {
namespace {

using testing::TempDir;
using testing::Wide;

TEST(SoundFileReader, RefusesWhatItCannotReadInOneWordingAndSaysWhetherTheFileOpened) {
  TempDir dir;
  std::filesystem::create_directory(dir / "folder.wav");
  testing::WriteBytes(dir / "text.wav", "RIFF but not really");
  const struct {
    const char* name;
    std::string start;
    bool notOpened;
  } cases[] = {
      {"missing.wav", "The sound file cannot be opened: ", true},
      {"folder.wav", "The sound file cannot be opened: ", true},
      {"text.wav", "The file is not a sound file that can be read: ", false},
  };
  for (const auto& c : cases) {
    SoundFileReader reader;
    std::string error;
    bool notOpened = !c.notOpened;
    EXPECT_FALSE(reader.Open(Wide(dir / c.name), &error, &notOpened)) << c.name;
    EXPECT_EQ(error.rfind(c.start + (dir / c.name).string() + " (", 0), 0u) << error;
    EXPECT_EQ(error.back(), ')') << error;
    EXPECT_EQ(notOpened, c.notOpened) << c.name;
    EXPECT_FALSE(reader.isOpen());
    EXPECT_EQ(reader.ReadFloat(nullptr, 1), 0);
  }
}

TEST(SoundFileReader, ReadsEveryFrameInBlocksAndFromWhereItSeeks) {
  TempDir dir;
  const auto file = dir / "tone.wav";
  testing::WriteTone(file, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 2, 0.5, 440.0, 0.5);
  SoundFileReader reader;
  std::string error;
  ASSERT_TRUE(reader.Open(Wide(file), &error)) << error;
  ASSERT_EQ(reader.info().frames, 4000);
  ASSERT_EQ(reader.info().channels, 2);
  // Room for a whole block past the end: a short read may fill the rest of the block it asked for.
  std::vector<float> whole(std::size_t{4000 + 999} * 2);
  sf_count_t read = 0;
  for (sf_count_t got = 0; (got = reader.ReadFloat(whole.data() + read * 2, 999)) > 0;) {
    read += got;
  }
  EXPECT_EQ(read, 4000);
  for (const sf_count_t at : {sf_count_t{0}, sf_count_t{1234}, sf_count_t{3999}}) {
    ASSERT_TRUE(reader.Seek(at));
    float frame[2] = {};
    ASSERT_EQ(reader.ReadFloat(frame, 1), 1);
    EXPECT_EQ(frame[1], whole[static_cast<std::size_t>(at) * 2 + 1]) << at;
  }
  EXPECT_FALSE(reader.Seek(4001));
  reader.Close();
  EXPECT_FALSE(reader.isOpen());
}

TEST(OpenSoundFile, TheCallersDescriptorStaysOpenWhateverTheOutcome) {
  TempDir dir;
  testing::WriteTone(dir / "good.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 16000, 1, 0.1, 440.0, 0.5);
  testing::WriteBytes(dir / "empty.wav", "");
  testing::WriteBytes(dir / "short.wav", "RIFF");
  testing::WriteBytes(dir / "text.wav", "hello there, this is text");
  for (const auto& [name, opens] : {std::pair{"good.wav", true}, std::pair{"empty.wav", false},
                                    std::pair{"short.wav", false}, std::pair{"text.wav", false}}) {
    const int fd = ::open((dir / name).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    SF_INFO info{};
    std::string reason;
    SNDFILE* file = OpenSoundFile(fd, SFM_READ, &info, &reason);
    EXPECT_EQ(file != nullptr, opens) << name << ": " << reason;
    if (file != nullptr) {
      sf_close(file);
    }
    EXPECT_NE(::fcntl(fd, F_GETFD), -1) << name << ": the caller's descriptor was closed";
    EXPECT_EQ(::close(fd), 0) << name;
  }
}

}  // namespace
}  // namespace voxtar::audio
