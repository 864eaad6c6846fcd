// SPDX-License-Identifier: GPL-3.0-or-later
// Error codes of the audio layer and their texts. A code carries its cause (the low byte) and,
// when the failure had details worth telling (a file name, a library's message), a serial number
// in the upper bits under which the full text is kept until it has been asked for a while.
//
// Threads: GUI thread only, like the engines that own an ErrorBook.
#pragma once

#include <QString>
#include <cstdint>
#include <deque>
#include <utility>

#include "audio/audio_engine.h"

namespace voxtar::audio {

enum class AudioError : std::uint8_t {
  None = 0,
  InvalidDevice = 1,      // the device is not open
  FileNotReadable = 2,    // the element's file cannot be opened or read
  NotASoundFile = 3,      // the file is not a sound file the layer can read
  UnsupportedFormat = 4,  // the sound system cannot play or record the element's format
  NoSoundSystem = 5,      // no sound server or no audio device at all
  NoOutputDevice = 6,
  NoInputDevice = 7,
  OutputFailed = 8,  // the output device failed or went away
  InputFailed = 9,   // the input device failed or went away
  OutOfRange = 10,   // a position lies beyond the end of the sound
  Busy = 11,         // the device is doing something that excludes the request
  CannotWrite = 12,  // the file could not be written whole
  OutOfMemory = 13,
  TooManyDevices = 14,
  Simulated = 15,  // a failure a test asked for
};

// The cause of a code made by an ErrorBook.
inline AudioError CauseOf(ErrorCode code) {
  return static_cast<AudioError>(code & 0xFFu);
}

// The plain text of a cause, without details.
QString CauseText(AudioError cause);

// What the Stop of a recording that found no memory for what it captured reports.
QString OutOfMemoryCutText();

class ErrorBook {
 public:
  // A code for `cause`; `detail`, when given, is the full text shown for it.
  ErrorCode Make(AudioError cause, const QString& detail = {});
  // The full text of a code made here, or the text of its cause.
  QString Text(ErrorCode code) const;

 private:
  static constexpr std::size_t kKept = 64;
  std::uint32_t nextSerial_ = 1;
  std::deque<std::pair<ErrorCode, QString>> details_;
};

}  // namespace voxtar::audio
