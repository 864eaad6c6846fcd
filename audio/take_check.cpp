#include "audio/take_check.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <span>

namespace voxtar::audio {

namespace {

std::string Fixed1(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

std::string_view SubFormatName(int subFormat) {
  switch (subFormat) {
    case SF_FORMAT_PCM_U8:
      return "8-bit";
    case SF_FORMAT_PCM_S8:
      return "8-bit signed";
    case SF_FORMAT_PCM_16:
      return "16-bit";
    case SF_FORMAT_PCM_24:
      return "24-bit";
    case SF_FORMAT_PCM_32:
      return "32-bit";
    case SF_FORMAT_FLOAT:
      return "32-bit float";
    case SF_FORMAT_DOUBLE:
      return "64-bit float";
    case SF_FORMAT_ULAW:
      return "u-law";
    case SF_FORMAT_ALAW:
      return "A-law";
    case SF_FORMAT_IMA_ADPCM:
    case SF_FORMAT_MS_ADPCM:
      return "ADPCM";
    case SF_FORMAT_GSM610:
      return "GSM";
    default:
      return "other encoding";
  }
}

}  // namespace

TakeCheck CheckTake(const WaveElement& take) {
  TakeCheck check;
  if (take.channels <= 0 || take.sampleRate <= 0) {
    check.silent = true;
    return check;
  }
  check.frames = take.frames();
  check.durationMs = take.MsOf(check.frames);

  const std::uint64_t window =
      std::max<std::uint64_t>(1, static_cast<std::uint64_t>(take.sampleRate) * kWindowMs / 1000);
  const double threshold = std::pow(10.0, kSilenceThresholdDb / 20.0);
  const double thresholdSquared = threshold * threshold;
  LevelSums all;
  LevelSums voiced;
  std::uint64_t firstVoiced = check.frames;
  std::uint64_t endVoiced = 0;
  // The current run of voiced windows, counted as voice once it is long enough.
  LevelSums run;
  std::uint64_t runStart = 0;
  std::uint64_t runEnd = 0;
  int runWindows = 0;
  const auto endRun = [&] {
    if (runWindows >= kMinVoicedWindows) {
      voiced.Add(run);
      firstVoiced = std::min(firstVoiced, runStart);
      endVoiced = runEnd;
    }
    run = {};
    runWindows = 0;
  };
  for (std::uint64_t start = 0; start < check.frames; start += window) {
    const std::uint64_t count = std::min(window, check.frames - start);
    // A window that straddles two blocks of the take is measured in two parts.
    LevelSums sums;
    take.samples.ForEachSpan(start, count, [&](std::span<const std::byte> part) {
      sums.Add(MeasureBlock(part, take.channels, take.kind));
      return true;
    });
    all.Add(sums);
    if (sums.sumSquares >= thresholdSquared * static_cast<double>(sums.samples)) {
      if (runWindows == 0) {
        runStart = start;
      }
      run.Add(sums);
      runEnd = start + count;
      ++runWindows;
    } else {
      endRun();
    }
  }
  endRun();
  check.peakDb = ToDbfs(all.peak);
  check.voicedPeakDb = ToDbfs(voiced.peak);
  check.voicedRmsDb = ToDbfs(voiced.rms());
  check.clippedSamples = all.clippedSamples;
  check.clipped = all.clippedSamples > 0;
  if (voiced.samples == 0) {
    check.silent = true;
    check.leadingSilenceMs = check.durationMs;
    check.trailingSilenceMs = check.durationMs;
    return check;
  }
  check.leadingSilenceMs = take.MsOf(firstVoiced);
  check.trailingSilenceMs = take.MsOf(check.frames - endVoiced);
  check.tooQuiet = check.voicedPeakDb < kTooQuietPeakDb;
  check.cutAtStart = check.leadingSilenceMs < kMinEdgeSilenceMs;
  check.cutAtEnd = check.trailingSilenceMs < kMinEdgeSilenceMs;
  return check;
}

bool CheckTakeFile(std::u16string_view path, TakeCheck* check, TakeFormat* format,
                   std::string* error) {
  WaveElement take;
  if (!ReadWaveFile(path, &take, error)) {
    return false;
  }
  *check = CheckTake(take);
  if (format != nullptr) {
    *format = FormatOf(take);
  }
  return true;
}

TakeSeverity SeverityOf(const TakeCheck& check) {
  if (check.clipped || check.silent || check.formatMismatch) {
    return TakeSeverity::Bad;
  }
  if (check.tooQuiet || check.cutAtStart || check.cutAtEnd) {
    return TakeSeverity::Warning;
  }
  return TakeSeverity::Ok;
}

std::vector<std::string_view> VerdictWords(const TakeCheck& check) {
  std::vector<std::string_view> words;
  const std::pair<bool, std::string_view> verdicts[] = {
      {check.clipped, "clipped"},         {check.tooQuiet, "too quiet"},
      {check.silent, "silent"},           {check.cutAtStart, "cut at the start"},
      {check.cutAtEnd, "cut at the end"}, {check.formatMismatch, "format mismatch"},
  };
  for (const auto& [applies, word] : verdicts) {
    if (applies) {
      words.push_back(word);
    }
  }
  if (words.empty()) {
    words.emplace_back("ok");
  }
  return words;
}

std::string SummaryLine(const TakeCheck& check) {
  if (check.ok()) {
    return "ok, peak " + Fixed1(check.peakDb) + " dB, " + Fixed1(check.durationMs / 1000.0) + " s";
  }
  std::string line;
  for (const std::string_view word : VerdictWords(check)) {
    if (!line.empty()) {
      line += ", ";
    }
    line += word;
    if (word == "clipped") {
      line += " (" + std::to_string(check.clippedSamples) +
              (check.clippedSamples == 1 ? " sample)" : " samples)");
    } else if (word == "too quiet") {
      line += " (peak " + Fixed1(check.voicedPeakDb) + " dB)";
    }
  }
  return line;
}

TakeFormat FormatOf(const WaveElement& element) {
  return {element.sampleRate, element.channels, element.format & SF_FORMAT_SUBMASK};
}

std::string DescribeFormat(const TakeFormat& format) {
  std::string channels;
  if (format.channels == 1) {
    channels = "mono";
  } else if (format.channels == 2) {
    channels = "stereo";
  } else {
    channels = std::to_string(format.channels) + " channels";
  }
  return std::to_string(format.sampleRate) + " Hz, " + channels + ", " +
         std::string(SubFormatName(format.subFormat));
}

}  // namespace voxtar::audio
