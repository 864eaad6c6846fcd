// Opening a sound file on the caller's descriptor leaves that descriptor the caller's: a failed
// open must not close it behind the caller's back, where the caller's own close would then hit
// whatever file another thread opened under the same number.
#include "audio/sound_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "testing/tone_file.h"
#include "tests/support/temp_dir.h"

namespace voxtar::audio {
namespace {

TEST(OpenSoundFile, TheCallersDescriptorStaysOpenWhateverTheOutcome) {
  const testing::TempDir tmp;
  const std::filesystem::path good = tmp.path() / "good.wav";
  ASSERT_TRUE(WriteToneFile(good, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 16000, 1, 0.1, 440, 0.5));
  const struct {
    const char* name;
    const char* bytes;  // null: the good take
    bool opens;
  } cases[] = {
      {"a take", nullptr, true},
      {"an empty file", "", false},
      {"a header cut short", "RIFF", false},
      {"not a sound at all", "hello there, this is text", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::path path = good;
    if (c.bytes != nullptr) {
      path = tmp.path() / "bad.wav";
      std::ofstream(path, std::ios::binary | std::ios::trunc) << c.bytes;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    SF_INFO info{};
    std::string reason;
    SNDFILE* file = OpenSoundFile(fd, SFM_READ, &info, &reason);
    EXPECT_EQ(file != nullptr, c.opens) << reason;
    EXPECT_EQ(reason.empty(), c.opens);
    if (file != nullptr) {
      sf_close(file);
    }
    EXPECT_NE(::fcntl(fd, F_GETFD), -1) << "the caller's descriptor was closed";
    EXPECT_EQ(::close(fd), 0);
  }
}

}  // namespace
}  // namespace voxtar::audio
