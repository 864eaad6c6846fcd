// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/sound_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <system_error>

#include "platform/file_system.h"
#include "platform/utf8.h"

namespace voxtar::audio {

namespace {

// Library texts come in the locale's encoding; the texts here are UTF-8.
std::string Utf8Text(std::string_view bytes) {
  return platform::IsValidUtf8(bytes) ? std::string(bytes)
                                      : platform::ToUtf8(platform::FromUtf8(bytes));
}

}  // namespace

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

platform::Outcome SoundFileReader::Open(std::u16string_view path, bool* notOpened) {
  Close();
  if (notOpened != nullptr) {
    *notOpened = false;
  }
  errno = 0;
  stream_ = platform::OpenFile(path, "rb");
  if (stream_ == nullptr) {
    if (notOpened != nullptr) {
      *notOpened = true;
    }
    return platform::Outcome::OfFile("The sound file cannot be opened", platform::ToUtf8(path),
                                     errno, "not a readable file");
  }
  std::string reason;
  file_ = OpenSoundFile(fileno(stream_), SFM_READ, &info_, &reason);
  if (file_ == nullptr) {
    Close();
    return {{},
            platform::FileText("The file is not a sound file that can be read",
                               platform::ToUtf8(path), Utf8Text(reason))};
  }
  if (info_.channels <= 0 || info_.samplerate <= 0) {
    Close();
    return {{},
            platform::FileText("The sound file has no channels or no sample rate",
                               platform::ToUtf8(path), {})};
  }
  return {};
}

bool SoundFileReader::Open(std::u16string_view path, std::string* error, bool* notOpened) {
  platform::Outcome opened = Open(path, notOpened);
  if (!opened.ok()) {
    *error = opened.message();
  }
  return opened.ok();
}

void SoundFileReader::Close() {
  if (file_ != nullptr) {
    sf_close(file_);
    file_ = nullptr;
  }
  if (stream_ != nullptr) {
    std::fclose(stream_);
    stream_ = nullptr;
  }
  info_ = {};
}

sf_count_t SoundFileReader::ReadFloat(float* to, sf_count_t frames) {
  return file_ != nullptr ? sf_readf_float(file_, to, frames) : 0;
}

bool SoundFileReader::Seek(sf_count_t frame) {
  return file_ != nullptr && sf_seek(file_, frame, SEEK_SET) >= 0;
}

std::string SoundFileReader::LastError() const {
  return Utf8Text(sf_strerror(file_));
}

}  // namespace voxtar::audio
