#include "audio/sound_file.h"

#include <cerrno>
#include <mutex>
#include <system_error>

#include "platform/file_system.h"
#include "platform/utf8.h"

namespace voxtar::audio {

namespace {

// Library and system texts come in the locale's encoding; the texts here are UTF-8.
std::string Utf8Text(std::string_view bytes) {
  return platform::IsValidUtf8(bytes) ? std::string(bytes)
                                      : platform::ToUtf8(platform::FromUtf8(bytes));
}

std::string FileText(std::string_view sentence, std::u16string_view path, std::string_view cause) {
  std::string text(sentence);
  text += ": ";
  text += platform::ToUtf8(path);
  if (!cause.empty()) {
    text += " (";
    text += cause;
    text += ')';
  }
  return text;
}

}  // namespace

SNDFILE* OpenSoundFile(int descriptor, int mode, SF_INFO* info, std::string* reason) {
  static std::mutex opening;
  const std::lock_guard<std::mutex> lock(opening);
  SNDFILE* file = sf_open_fd(descriptor, mode, info, SF_FALSE);
  if (file == nullptr) {
    *reason = sf_strerror(nullptr);
  }
  return file;
}

bool SoundFileReader::Open(std::u16string_view path, std::string* error, bool* notOpened) {
  Close();
  if (notOpened != nullptr) {
    *notOpened = false;
  }
  errno = 0;
  stream_ = platform::OpenFile(path, "rb");
  if (stream_ == nullptr) {
    const int cause = errno;
    if (notOpened != nullptr) {
      *notOpened = true;
    }
    *error = FileText("The sound file cannot be opened", path,
                      cause != 0 ? Utf8Text(std::system_category().message(cause))
                                 : "not a readable file");
    return false;
  }
  std::string reason;
  file_ = OpenSoundFile(fileno(stream_), SFM_READ, &info_, &reason);
  if (file_ == nullptr) {
    *error = FileText("The file is not a sound file that can be read", path, Utf8Text(reason));
    Close();
    return false;
  }
  if (info_.channels <= 0 || info_.samplerate <= 0) {
    *error = FileText("The sound file has no channels or no sample rate", path, {});
    Close();
    return false;
  }
  return true;
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
