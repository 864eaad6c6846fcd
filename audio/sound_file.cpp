#include "audio/sound_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <system_error>

namespace voxtar::audio {

SNDFILE* OpenSoundFile(int descriptor, int mode, SF_INFO* info, std::string* reason) {
  static std::mutex opening;
  const std::lock_guard<std::mutex> lock(opening);
  // libsndfile closes the descriptor when an open fails, whatever it was told: handed the
  // caller's own, that close and the caller's later one would close twice, and the second could
  // close a file another thread has just opened under the same number. It gets a duplicate it
  // owns either way.
  const int owned = ::fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
  if (owned < 0) {
    *reason = std::system_category().message(errno);
    return nullptr;
  }
  SNDFILE* file = sf_open_fd(owned, mode, info, SF_TRUE);
  if (file == nullptr) {
    *reason = sf_strerror(nullptr);
  }
  return file;
}

}  // namespace voxtar::audio
