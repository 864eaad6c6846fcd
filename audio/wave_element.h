// SPDX-License-Identifier: GPL-3.0-or-later
// A sound file held in memory: its exact libsndfile format and its frames, stored in the sample
// format the sound system plays and records it in (so playback and recording move bytes without
// converting), in blocks that a long take adds to without moving what it holds. Reading and
// writing go through libsndfile; writing goes through platform::SaveFile, so a file is replaced
// only when it was written whole.
//
// Plain data: owned by whoever holds it (an engine's open device). A copy is cheap and shares the
// frames until either side writes them (see SampleBlocks). No threads of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "audio/sample_blocks.h"
#include "audio/sample_kind.h"

namespace voxtar::platform {
class SaveFile;
}

namespace voxtar::audio {

// What a file's header and chunks may take beside the sound: a RIFF header, the format chunk
// (WAVEX's with its channel mask), the fact and PEAK chunks of float files (the latter 8 bytes a
// channel, at most 1024 channels) and the data chunk's header come to a few KiB.
inline constexpr std::uint64_t kHeaderRoom = std::uint64_t{64} << 10;
// The most sound data a WAV file holds: its RIFF and data sizes are 32-bit.
inline constexpr std::uint64_t kWaveDataLimit = 0xFFFF'FFFFull - kHeaderRoom;

// The most bytes of sound a file of the libsndfile `format` holds: kWaveDataLimit for WAV and
// every other container with 32-bit sizes, no bound for RF64, Wave64 and CAF.
std::uint64_t MaxDataBytes(int format);

struct WaveElement {
  int format = 0;  // SF_INFO.format: major | sub format, kept exactly for writing
  int sampleRate = 0;
  int channels = 0;
  SampleKind kind = SampleKind::Int16;
  std::vector<int> channelMap;  // libsndfile's channel map when the file has one
  // Interleaved frames of `kind`, bytesPerFrame() each: MakeElement and ReadWaveFile make the
  // store to fit.
  SampleBlocks samples;

  std::size_t bytesPerFrame() const {
    return BytesPerSample(kind) * static_cast<std::size_t>(channels);
  }
  std::uint64_t frames() const { return samples.frames(); }
  // What a frame takes in the file (for the compressed encodings, more than it takes).
  std::size_t fileBytesPerFrame() const;
  // The most frames a file of the element's format holds in no more than `limitBytes` of sound.
  std::uint64_t MaxFrames(std::uint64_t limitBytes = UINT64_MAX) const;
  // Milliseconds -> frames and back (rounded down).
  std::uint64_t FramesAt(std::uint32_t ms) const;
  std::uint32_t MsOf(std::uint64_t count) const;
  std::uint32_t lengthMs() const { return MsOf(frames()); }

  // Writes `bytes` (whole frames of `kind`) over the content from frame `at` on, extending it
  // past its end; what lies after the written part stays. Throws std::bad_alloc, having changed
  // nothing, when there is no memory for it.
  void Overwrite(std::uint64_t at, const std::byte* bytes, std::size_t size);
};

// A new element of the given format with `frames` frames of silence.
WaveElement MakeElement(int format, int sampleRate, int channels, std::uint64_t frames = 0);

// Error texts are UTF-8, paths in them included.
//
// Reads the whole file. False with *error (plain English naming the cause) when it cannot;
// *notOpened tells a file that could not be opened at all from one that holds no readable sound.
bool ReadWaveFile(std::u16string_view path, WaveElement* element, std::string* error,
                  bool* notOpened = nullptr);

// Writes the element to `path` in exactly its format, whole or not at all: a failure leaves any
// earlier file at `path` byte-identical. False with *error when it could not, or when the sound
// is more than its format's file holds or more than `limitBytes` of file data. `confinedTo`: the
// working directory the file must stay in (see platform::SaveFile); a take that is a symbolic link
// leading outside it is refused.
bool WriteWaveFile(const WaveElement& element, std::u16string_view path, std::string* error,
                   std::u16string_view confinedTo = {}, std::uint64_t limitBytes = UINT64_MAX);

// Whether a file of the element's exact format (major and sub format, rate, channels) can be
// written at all.
bool CanWriteFormat(const WaveElement& element);

// The first half of WriteWaveFile, for a save that does more before the file replaces the target
// (the take history keeps the earlier take): writes the element in exactly its format into
// `target`, opening it first, and leaves the commit to the caller. False with *error, and the
// temporary file dropped, when it could not.
bool WriteWave(const WaveElement& element, platform::SaveFile& target, std::string* error,
               std::uint64_t limitBytes = UINT64_MAX);

}  // namespace voxtar::audio
