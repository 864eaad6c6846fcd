// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/sample_kind.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include <sndfile.h>

namespace voxtar::audio {

std::size_t BytesPerSample(SampleKind kind) {
  switch (kind) {
    case SampleKind::UInt8:
      return 1;
    case SampleKind::Int16:
      return 2;
    case SampleKind::Int32:
    case SampleKind::Float:
      return 4;
  }
  return 2;
}

SampleKind SampleKindFor(int sndfileFormat) {
  switch (sndfileFormat & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_PCM_S8:
      return SampleKind::UInt8;
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_PCM_32:
      return SampleKind::Int32;
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE:
      return SampleKind::Float;
    default:
      // 16-bit and the compressed encodings (A-law, u-law, ADPCM, GSM) go through 16 bits.
      return SampleKind::Int16;
  }
}

void EncodeSample(SampleKind kind, double value, std::byte* to) {
  switch (kind) {
    case SampleKind::UInt8: {
      const auto raw =
          static_cast<std::uint8_t>(std::clamp(std::lround(value * 128.0) + 128, 0L, 255L));
      std::memcpy(to, &raw, 1);
      break;
    }
    case SampleKind::Int16: {
      const auto raw =
          static_cast<std::int16_t>(std::clamp(std::lround(value * 32768.0), -32768L, 32767L));
      std::memcpy(to, &raw, 2);
      break;
    }
    case SampleKind::Int32: {
      const auto raw = static_cast<std::int32_t>(
          std::clamp(std::llround(value * 2147483648.0), -2147483648LL, 2147483647LL));
      std::memcpy(to, &raw, 4);
      break;
    }
    case SampleKind::Float: {
      const auto raw = static_cast<float>(value);
      std::memcpy(to, &raw, 4);
      break;
    }
  }
}

void DecodeSamples(SampleKind kind, std::span<const std::byte> bytes, std::vector<float>* out) {
  const std::size_t size = BytesPerSample(kind);
  out->resize(bytes.size() / size);
  const std::byte* at = bytes.data();
  for (float& sample : *out) {
    switch (kind) {
      case SampleKind::UInt8:
        sample = static_cast<float>(std::to_integer<int>(*at) - 128) / 128.0f;
        break;
      case SampleKind::Int16: {
        std::int16_t value = 0;
        std::memcpy(&value, at, sizeof value);
        sample = static_cast<float>(value) / 32768.0f;
        break;
      }
      case SampleKind::Int32: {
        std::int32_t value = 0;
        std::memcpy(&value, at, sizeof value);
        sample = static_cast<float>(static_cast<double>(value) / 2147483648.0);
        break;
      }
      case SampleKind::Float:
        std::memcpy(&sample, at, sizeof sample);
        break;
    }
    at += size;
  }
}

}  // namespace voxtar::audio
