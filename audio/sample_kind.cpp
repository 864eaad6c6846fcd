#include "audio/sample_kind.h"

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

}  // namespace voxtar::audio
