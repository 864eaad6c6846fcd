// SPDX-License-Identifier: GPL-3.0-or-later
#include "textcheck/reading_file.h"

#include <sndfile.h>

#include <algorithm>
#include <vector>

#include "audio/sound_file.h"
#include "platform/outcome.h"
#include "platform/utf8.h"

namespace voxtar::textcheck {

namespace {

constexpr std::size_t kChunkFrames = 8192;

sf_count_t FramesOf(std::uint32_t ms, int rate) {
  return static_cast<sf_count_t>(static_cast<std::uint64_t>(ms) * static_cast<std::uint64_t>(rate) /
                                 1000u);
}

bool Unreadable(std::u16string_view path, const audio::SoundFileReader& file, std::string* error) {
  *error =
      platform::FileText("The sound file cannot be read", platform::ToUtf8(path), file.LastError());
  return false;
}

}  // namespace

bool ReadReading(std::u16string_view path, std::uint32_t voiceStartMs, std::uint32_t voiceLengthMs,
                 Reading* reading, std::string* error) {
  audio::SoundFileReader file;
  if (!file.Open(path, error)) {
    return false;
  }
  const SF_INFO& info = file.info();
  Reading result;
  result.sampleRate = info.samplerate;
  if (voiceLengthMs > 0) {
    const std::uint32_t margin = std::min(voiceStartMs, kReadingMarginMs);
    const sf_count_t first = FramesOf(voiceStartMs - margin, info.samplerate);
    const sf_count_t wanted = FramesOf(
        std::min(voiceLengthMs + margin + kReadingMarginMs, kMaxReadingMs), info.samplerate);
    const sf_count_t end = std::min(first + wanted, info.frames);
    if (first < end && !file.Seek(first)) {
      return Unreadable(path, file, error);
    }
    const auto channels = static_cast<std::size_t>(info.channels);
    std::vector<float> chunk(kChunkFrames * channels);
    result.samples.reserve(static_cast<std::size_t>(std::max<sf_count_t>(end - first, 0)));
    for (sf_count_t at = first; at < end;) {
      const sf_count_t want = std::min<sf_count_t>(static_cast<sf_count_t>(kChunkFrames), end - at);
      const sf_count_t got = file.ReadFloat(chunk.data(), want);
      if (got <= 0) {
        if (sf_error(file.handle()) != SF_ERR_NO_ERROR) {
          return Unreadable(path, file, error);
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
