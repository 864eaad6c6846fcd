// SPDX-License-Identifier: GPL-3.0-or-later
// How samples are held in memory, without Qt: shared by the element, the engines' capture path
// and the level and take analysis.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace voxtar::audio {

// How samples are held in memory: unsigned 8-bit, signed 16-bit, signed 32-bit (24- and 32-bit
// files, the 24-bit ones left-justified), 32-bit float. The sound system takes each of them.
enum class SampleKind { UInt8, Int16, Int32, Float };

std::size_t BytesPerSample(SampleKind kind);
// The memory kind for a libsndfile format (its sub format decides).
SampleKind SampleKindFor(int sndfileFormat);

// Writes `value` (-1..1 of full scale; beyond it an integer kind saturates) as one sample of
// `kind` at `to`.
void EncodeSample(SampleKind kind, double value, std::byte* to);

// The interleaved samples of `kind` in `bytes` as floats (1.0 = full scale), into `out`, resized
// to the whole samples there are.
void DecodeSamples(SampleKind kind, std::span<const std::byte> bytes, std::vector<float>* out);

}  // namespace voxtar::audio
