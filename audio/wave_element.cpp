// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/wave_element.h"

#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

#include "audio/sound_file.h"
#include "platform/file_system.h"
#include "platform/utf8.h"

namespace voxtar::audio {

namespace {

constexpr sf_count_t kChunkFrames = 4096;

// A C library's message as UTF-8: bytes that are not become U+FFFD.
std::string Utf8Text(std::string_view bytes) {
  return platform::IsValidUtf8(bytes) ? std::string(bytes)
                                      : platform::ToUtf8(platform::FromUtf8(bytes));
}

std::string LibraryText(SNDFILE* file) {
  return Utf8Text(sf_strerror(file));
}

// "SENTENCE: PATH" and "SENTENCE: PATH (CAUSE)".
std::string FileText(std::string_view sentence, std::u16string_view path) {
  std::string text(sentence);
  text += ": ";
  text += platform::ToUtf8(path);
  return text;
}

std::string FileText(std::string_view sentence, std::u16string_view path, std::string_view cause) {
  std::string text = FileText(sentence, path);
  text += " (";
  text += cause;
  text += ')';
  return text;
}

// Reads all frames of an open file into element->samples, converting to the memory kind.
bool ReadFrames(SNDFILE* file, WaveElement* element, std::string* error) {
  const auto channels = static_cast<std::size_t>(element->channels);
  const std::size_t frameBytes = element->bytesPerFrame();
  std::vector<short> shorts;
  if (element->kind == SampleKind::UInt8) {
    shorts.resize(static_cast<std::size_t>(kChunkFrames) * channels);
  }
  element->samples = SampleBlocks(frameBytes);
  std::vector<std::byte> chunk(static_cast<std::size_t>(kChunkFrames) * frameBytes);
  for (;;) {
    std::byte* to = chunk.data();
    sf_count_t got = 0;
    switch (element->kind) {
      case SampleKind::UInt8:
        got = sf_readf_short(file, shorts.data(), kChunkFrames);
        for (std::size_t i = 0; i < static_cast<std::size_t>(got) * channels; ++i) {
          to[i] = static_cast<std::byte>((shorts[i] >> 8) + 128);
        }
        break;
      case SampleKind::Int16: {
        got = sf_readf_short(file, reinterpret_cast<short*>(to), kChunkFrames);
        break;
      }
      case SampleKind::Int32:
        got = sf_readf_int(file, reinterpret_cast<int*>(to), kChunkFrames);
        break;
      case SampleKind::Float:
        got = sf_readf_float(file, reinterpret_cast<float*>(to), kChunkFrames);
        break;
    }
    element->samples.Write(
        element->frames(),
        std::span(to, static_cast<std::size_t>(std::max<sf_count_t>(got, 0)) * frameBytes));
    if (got < kChunkFrames) {
      break;
    }
  }
  if (sf_error(file) != SF_ERR_NO_ERROR) {
    *error = "The sound file is damaged and cannot be read: " + LibraryText(file);
    return false;
  }
  return true;
}

// Writes the frames of one span of the element's blocks.
bool WriteSpan(SNDFILE* file, const WaveElement& element, std::span<const std::byte> span,
               std::vector<short>& shorts) {
  const auto channels = static_cast<std::size_t>(element.channels);
  const std::size_t frameBytes = element.bytesPerFrame();
  const std::uint64_t total = span.size() / frameBytes;
  for (std::uint64_t done = 0; done < total;) {
    const auto count = static_cast<sf_count_t>(
        std::min<std::uint64_t>(total - done, static_cast<std::uint64_t>(kChunkFrames)));
    const std::byte* from = span.data() + done * frameBytes;
    sf_count_t put = 0;
    switch (element.kind) {
      case SampleKind::UInt8:
        for (std::size_t i = 0; i < static_cast<std::size_t>(count) * channels; ++i) {
          shorts[i] = static_cast<short>((std::to_integer<int>(from[i]) - 128) * 256);
        }
        put = sf_writef_short(file, shorts.data(), count);
        break;
      case SampleKind::Int16:
        put = sf_writef_short(file, reinterpret_cast<const short*>(from), count);
        break;
      case SampleKind::Int32:
        put = sf_writef_int(file, reinterpret_cast<const int*>(from), count);
        break;
      case SampleKind::Float:
        put = sf_writef_float(file, reinterpret_cast<const float*>(from), count);
        break;
    }
    if (put != count) {
      return false;
    }
    done += static_cast<std::uint64_t>(count);
  }
  return true;
}

bool WriteFrames(SNDFILE* file, const WaveElement& element) {
  std::vector<short> shorts;
  if (element.kind == SampleKind::UInt8) {
    shorts.resize(static_cast<std::size_t>(kChunkFrames) *
                  static_cast<std::size_t>(element.channels));
  }
  return element.samples.ForEachSpan(0, element.frames(), [&](std::span<const std::byte> span) {
    return WriteSpan(file, element, span, shorts);
  });
}

}  // namespace

std::uint64_t MaxDataBytes(int format) {
  switch (format & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_RF64:
    case SF_FORMAT_W64:
    case SF_FORMAT_CAF:
      return UINT64_MAX;
    default:
      return kWaveDataLimit;
  }
}

std::size_t WaveElement::fileBytesPerFrame() const {
  std::size_t bytes = 2;  // 16 bits, or the compressed encodings (ADPCM, GSM) that take less
  switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_ULAW:
    case SF_FORMAT_ALAW:
      bytes = 1;
      break;
    case SF_FORMAT_PCM_24:
      bytes = 3;
      break;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
      bytes = 4;
      break;
    case SF_FORMAT_DOUBLE:
      bytes = 8;
      break;
    default:
      break;
  }
  return bytes * static_cast<std::size_t>(std::max(channels, 1));
}

std::uint64_t WaveElement::MaxFrames(std::uint64_t limitBytes) const {
  return std::min(limitBytes, MaxDataBytes(format)) / fileBytesPerFrame();
}

std::uint64_t WaveElement::FramesAt(std::uint32_t ms) const {
  return static_cast<std::uint64_t>(ms) * static_cast<std::uint64_t>(sampleRate) / 1000u;
}

std::uint32_t WaveElement::MsOf(std::uint64_t count) const {
  if (sampleRate <= 0) {
    return 0;
  }
  const std::uint64_t ms = count * 1000u / static_cast<std::uint64_t>(sampleRate);
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(ms, UINT32_MAX));
}

void WaveElement::Overwrite(std::uint64_t at, const std::byte* bytes, std::size_t size) {
  samples.Write(at, std::span(bytes, size));
}

WaveElement MakeElement(int format, int sampleRate, int channels, std::uint64_t frames) {
  WaveElement element;
  element.format = format;
  element.sampleRate = sampleRate;
  element.channels = channels;
  element.kind = SampleKindFor(format);
  element.samples = SampleBlocks(element.bytesPerFrame());
  element.samples.Append(frames,
                         element.kind == SampleKind::UInt8 ? std::byte{0x80} : std::byte{0});
  return element;
}

bool ReadWaveFile(std::u16string_view path, WaveElement* element, std::string* error,
                  bool* notOpened) {
  SoundFileReader file;
  if (!file.Open(path, error, notOpened)) {
    return false;
  }
  const SF_INFO& info = file.info();
  WaveElement read;
  read.format = info.format;
  read.sampleRate = info.samplerate;
  read.channels = info.channels;
  read.kind = SampleKindFor(info.format);
  std::vector<int> map(static_cast<std::size_t>(info.channels));
  if (sf_command(file.handle(), SFC_GET_CHANNEL_MAP_INFO, map.data(),
                 static_cast<int>(map.size() * sizeof(int))) == SF_TRUE) {
    read.channelMap = std::move(map);
  }
  try {
    if (!ReadFrames(file.handle(), &read, error)) {
      return false;
    }
  } catch (const std::bad_alloc&) {
    *error = FileText("There is not enough memory to hold the sound file", path);
    return false;
  }
  *element = std::move(read);
  return true;
}

bool CanWriteFormat(const WaveElement& element) {
  SF_INFO info{};
  info.samplerate = element.sampleRate;
  info.channels = element.channels;
  info.format = element.format;
  return sf_format_check(&info) == SF_TRUE;
}

bool WriteWave(const WaveElement& element, platform::SaveFile& target, std::string* error,
               std::uint64_t limitBytes) {
  const std::u16string path = platform::FromUtf8(target.target().native());
  if (!CanWriteFormat(element)) {
    *error = FileText("The sound format cannot be written to a file", path);
    return false;
  }
  SF_INFO info{};
  info.samplerate = element.sampleRate;
  info.channels = element.channels;
  info.format = element.format;
  // libsndfile would wrap the sizes in the header and report success.
  if (const std::uint64_t most = element.MaxFrames(limitBytes); element.frames() > most) {
    *error =
        FileText("The sound is too long for one file of its format", path,
                 std::to_string(element.frames()) + " frames, at most " + std::to_string(most));
    return false;
  }
  if (!target.Open()) {
    *error = FileText("The sound file cannot be created", path, Utf8Text(target.error()));
    return false;
  }
  std::string reason;
  SNDFILE* file = OpenSoundFile(target.descriptor(), SFM_WRITE, &info, &reason);
  if (file == nullptr) {
    *error = FileText("The sound file cannot be written", path, Utf8Text(reason.c_str()));
    target.Cancel();
    return false;
  }
  if (!element.channelMap.empty()) {
    std::vector<int> map = element.channelMap;
    sf_command(file, SFC_SET_CHANNEL_MAP_INFO, map.data(),
               static_cast<int>(map.size() * sizeof(int)));
  }
  bool written = WriteFrames(file, element);
  if (written) {
    // sf_close does not report a failed header write on a descriptor it does not own, so the
    // header is written now, where a failing write shows in sf_error.
    sf_command(file, SFC_UPDATE_HEADER_NOW, nullptr, 0);
    written = sf_error(file) == SF_ERR_NO_ERROR;
  }
  const std::string libraryText = LibraryText(file);
  const bool closed = sf_close(file) == 0;
  if (!written || !closed) {
    *error = FileText("The sound file could not be written whole", path,
                      written ? "closing failed" : libraryText);
    target.Cancel();
    return false;
  }
  return true;
}

bool WriteWaveFile(const WaveElement& element, std::u16string_view path, std::string* error,
                   std::u16string_view confinedTo, std::uint64_t limitBytes) {
  platform::SaveFile target(path, confinedTo);
  if (!WriteWave(element, target, error, limitBytes)) {
    return false;
  }
  if (!target.Commit()) {
    *error = FileText("The sound file could not be saved", path, Utf8Text(target.error()));
    return false;
  }
  return true;
}

}  // namespace voxtar::audio
