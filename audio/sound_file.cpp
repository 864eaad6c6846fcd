#include "audio/sound_file.h"

#include <mutex>

namespace voxtar::audio {

SNDFILE* OpenSoundFile(int descriptor, int mode, SF_INFO* info, std::string* reason) {
  static std::mutex opening;
  const std::lock_guard<std::mutex> lock(opening);
  SNDFILE* file = sf_open_fd(descriptor, mode, info, SF_FALSE);
  if (file == nullptr) {
    *reason = sf_strerror(nullptr);
  }
  return file;
}

}  // namespace voxtar::audio
