// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/audio_errors.h"

#include <QCoreApplication>
#include <algorithm>

namespace voxtar::audio {

QString CauseText(AudioError cause) {
  switch (cause) {
    case AudioError::None:
      return QCoreApplication::translate("AudioError", "The operation completed successfully.");
    case AudioError::InvalidDevice:
      return QCoreApplication::translate(
          "AudioError", "The sound device is not open: no sound file was opened for it.");
    case AudioError::FileNotReadable:
      return QCoreApplication::translate("AudioError",
                                         "The sound file cannot be opened for reading.");
    case AudioError::NotASoundFile:
      return QCoreApplication::translate("AudioError",
                                         "The file is not a sound file that can be read.");
    case AudioError::UnsupportedFormat:
      return QCoreApplication::translate(
          "AudioError", "The sound system cannot handle the audio format of this file.");
    case AudioError::NoSoundSystem:
      return QCoreApplication::translate(
          "AudioError",
          "No sound system is available: the sound server is not running or there is no audio "
          "device.");
    case AudioError::NoOutputDevice:
      return QCoreApplication::translate("AudioError",
                                         "There is no audio output device to play the sound on.");
    case AudioError::NoInputDevice:
      return QCoreApplication::translate("AudioError",
                                         "There is no audio input device to record from.");
    case AudioError::OutputFailed:
      return QCoreApplication::translate("AudioError",
                                         "The audio output device failed or was disconnected.");
    case AudioError::InputFailed:
      return QCoreApplication::translate("AudioError",
                                         "The audio input device failed or was disconnected.");
    case AudioError::OutOfRange:
      return QCoreApplication::translate("AudioError",
                                         "The position lies beyond the end of the sound.");
    case AudioError::Busy:
      return QCoreApplication::translate(
          "AudioError", "The sound device is busy recording; stop the recording first.");
    case AudioError::CannotWrite:
      return QCoreApplication::translate("AudioError", "The sound file could not be written.");
    case AudioError::OutOfMemory:
      return QCoreApplication::translate("AudioError", "There is not enough memory for the sound.");
    case AudioError::TooManyDevices:
      return QCoreApplication::translate("AudioError", "Too many sound devices are open.");
    case AudioError::Simulated:
      return QCoreApplication::translate("AudioError", "The sound device reported a failure.");
  }
  return QCoreApplication::translate("AudioError", "Unknown sound error %1.")
      .arg(static_cast<int>(cause));
}

QString OutOfMemoryCutText() {
  return QCoreApplication::translate(
      "AudioError",
      "The recording was cut short: there was no memory left for it. What was captured until then "
      "is kept.");
}

ErrorCode ErrorBook::Make(AudioError cause, const QString& detail) {
  ErrorCode code = static_cast<ErrorCode>(cause);
  if (detail.isEmpty()) {
    return code;
  }
  code |= (nextSerial_ & 0xFFFFFFu) << 8;
  nextSerial_ = nextSerial_ == 0xFFFFFFu ? 1 : nextSerial_ + 1;
  details_.emplace_back(code, detail);
  if (details_.size() > kKept) {
    details_.pop_front();
  }
  return code;
}

QString ErrorBook::Text(ErrorCode code) const {
  // The newest first: a serial number comes round again only after many codes.
  const auto found = std::find_if(details_.rbegin(), details_.rend(),
                                  [code](const auto& detail) { return detail.first == code; });
  return found != details_.rend() ? found->second : CauseText(CauseOf(code));
}

}  // namespace voxtar::audio
