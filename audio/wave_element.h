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

namespace voxtar::audio {

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
// earlier file at `path` byte-identical. False with *error when it could not.
bool WriteWaveFile(const WaveElement& element, std::u16string_view path, std::string* error);

}  // namespace voxtar::audio
