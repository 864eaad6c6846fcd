// SPDX-License-Identifier: GPL-3.0-or-later
// Sound files read and written with libsndfile on a descriptor the program opened itself (the
// path was checked when it was opened). libsndfile keeps the reason an open failed in one global,
// and takes are opened on several threads at once (measuring, exporting, reading the history):
// opens are made one at a time, so each failure reads its own reason.
#pragma once

#include <sndfile.h>

#include <cstdio>
#include <string>
#include <string_view>

#include "platform/outcome.h"

namespace voxtar::audio {

// The open file (for sf_close), or null with *reason in libsndfile's words. The descriptor stays
// the caller's, open whatever the outcome; the file reads from its position on.
SNDFILE* OpenSoundFile(int descriptor, int mode, SF_INFO* info, std::string* reason);

// A sound file opened by path for reading, read in blocks of frames and closed with its owner.
// Every reader of takes opens them here, so a take that cannot be read is told in the same words
// wherever it is read.
class SoundFileReader {
 public:
  SoundFileReader() = default;
  ~SoundFileReader() { Close(); }
  SoundFileReader(const SoundFileReader&) = delete;
  SoundFileReader& operator=(const SoundFileReader&) = delete;

  // Opens `path`, closing a file opened before. Fails ("SENTENCE: PATH (CAUSE)") when the file
  // cannot be opened (*notOpened set; the code is the system's), is no sound file libsndfile
  // reads, or has no channels or no sample rate.
  platform::Outcome Open(std::u16string_view path, bool* notOpened = nullptr);
  // As Open, the failure's sentence in *error.
  bool Open(std::u16string_view path, std::string* error, bool* notOpened = nullptr);
  void Close();

  bool isOpen() const { return file_ != nullptr; }
  const SF_INFO& info() const { return info_; }
  // For reads in the file's other sample types, and for sf_command.
  SNDFILE* handle() const { return file_; }

  // Reads up to `frames` interleaved frames into `to`; how many came, 0 at the end or when the
  // read failed (LastError says why).
  sf_count_t ReadFloat(float* to, sf_count_t frames);
  // Moves to `frame` from the start; false when the file cannot go there.
  bool Seek(sf_count_t frame);
  // libsndfile's words for the last failure on this file, in UTF-8.
  std::string LastError() const;

 private:
  std::FILE* stream_ = nullptr;
  SNDFILE* file_ = nullptr;
  SF_INFO info_{};
};

}  // namespace voxtar::audio
