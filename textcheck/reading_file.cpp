// SPDX-License-Identifier: GPL-3.0-or-later
#include "textcheck/reading_file.h"

#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "audio/sound_file.h"
#include "platform/file_system.h"
#include "platform/outcome.h"
#include "platform/utf8.h"

namespace voxtar::textcheck {

namespace {

constexpr std::size_t kChunkFrames = 8192;

struct SndFileCloser {
  void operator()(SNDFILE* file) const { sf_close(file); }
};
struct StreamCloser {
  void operator()(std::FILE* stream) const { std::fclose(stream); }
};

// A C library's message as UTF-8.
std::string Utf8Text(const char* bytes) {
  const std::string_view text(bytes);
  return platform::IsValidUtf8(text) ? std::string(text)
                                     : platform::ToUtf8(platform::FromUtf8(text));
}

bool Fail(std::string_view sentence, std::u16string_view path, const std::string& cause,
          std::string* error) {
  *error = std::string(sentence) + ": " + platform::ToUtf8(path);
  if (!cause.empty()) {
    *error += " (" + cause + ")";
  }
  return false;
}

sf_count_t FramesOf(std::uint32_t ms, int rate) {
  return static_cast<sf_count_t>(static_cast<std::uint64_t>(ms) * static_cast<std::uint64_t>(rate) /
                                 1000u);
}

}  // namespace

bool ReadReading(std::u16string_view path, std::uint32_t voiceStartMs, std::uint32_t voiceLengthMs,
                 Reading* reading, std::string* error) {
  errno = 0;
  const std::unique_ptr<std::FILE, StreamCloser> stream(platform::OpenFile(path, "rb"));
  if (!stream) {
    const int cause = errno;
    return Fail("The sound file cannot be opened", path,
                cause != 0 ? platform::SystemText(cause) : "not a readable file", error);
  }
  SF_INFO info{};
  std::string reason;
  const std::unique_ptr<SNDFILE, SndFileCloser> file(
      audio::OpenSoundFile(fileno(stream.get()), SFM_READ, &info, &reason));
  if (!file) {
    return Fail("The file is not a sound file that can be read", path, Utf8Text(reason.c_str()),
                error);
  }
  if (info.channels <= 0 || info.samplerate <= 0) {
    return Fail("The sound file has no channels or no sample rate", path, {}, error);
  }
  Reading result;
  result.sampleRate = info.samplerate;
  if (voiceLengthMs > 0) {
    const std::uint32_t margin = std::min(voiceStartMs, kReadingMarginMs);
    const sf_count_t first = FramesOf(voiceStartMs - margin, info.samplerate);
    const sf_count_t wanted = FramesOf(
        std::min(voiceLengthMs + margin + kReadingMarginMs, kMaxReadingMs), info.samplerate);
    const sf_count_t end = std::min(first + wanted, info.frames);
    if (first < end && sf_seek(file.get(), first, SEEK_SET) < 0) {
      return Fail("The sound file cannot be read", path, Utf8Text(sf_strerror(file.get())), error);
    }
    const auto channels = static_cast<std::size_t>(info.channels);
    std::vector<float> chunk(kChunkFrames * channels);
    result.samples.reserve(static_cast<std::size_t>(std::max<sf_count_t>(end - first, 0)));
    for (sf_count_t at = first; at < end;) {
      const sf_count_t want = std::min<sf_count_t>(static_cast<sf_count_t>(kChunkFrames), end - at);
      const sf_count_t got = sf_readf_float(file.get(), chunk.data(), want);
      if (got <= 0) {
        if (sf_error(file.get()) != SF_ERR_NO_ERROR) {
          return Fail("The sound file cannot be read", path, Utf8Text(sf_strerror(file.get())),
                      error);
        }
        break;  // shorter than its header says
      }
      for (std::size_t frame = 0; frame < static_cast<std::size_t>(got); ++frame) {
        float sum = 0.0F;
        for (std::size_t channel = 0; channel < channels; ++channel) {
          sum += chunk[frame * channels + channel];
        }
        result.samples.push_back(sum / static_cast<float>(channels));
      }
      at += got;
    }
  }
  *reading = std::move(result);
  return true;
}

bool JudgeTakeFile(std::u16string_view path, std::uint32_t voiceStartMs,
                   std::uint32_t voiceLengthMs, const PromptTexts& texts, ReadingJudge& judge,
                   TextVerdict* verdict, std::string* error) {
  Reading reading;
  return ReadReading(path, voiceStartMs, voiceLengthMs, &reading, error) &&
         judge.Judge(reading, texts, verdict, error);
}

}  // namespace voxtar::textcheck
