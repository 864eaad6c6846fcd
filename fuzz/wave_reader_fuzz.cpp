// SPDX-License-Identifier: GPL-3.0-or-later
// The WAV reader on any file content: it reads or refuses, never more.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "audio/wave_element.h"
#include "fuzz/fuzz_support.h"
#include "platform/utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace voxtar;
  const auto path = fuzz::ScratchDirectory() / "sample.wav";
  fuzz::WriteFile(path, std::string_view(reinterpret_cast<const char*>(data), size));
  audio::WaveElement element;
  std::string error;
  bool notOpened = false;
  if (audio::ReadWaveFile(platform::FromUtf8(path.string()), &element, &error, &notOpened)) {
    if (element.channels <= 0 || element.sampleRate <= 0 ||
        element.samples.frameBytes() != element.bytesPerFrame()) {
      fuzz::Fail("a read element is inconsistent");
    }
  } else if (notOpened || error.empty()) {
    fuzz::Fail("a readable file was refused without a reason");
  }
  return 0;
}
