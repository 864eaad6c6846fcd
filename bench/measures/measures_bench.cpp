// SPDX-License-Identifier: GPL-3.0-or-later
// Measuring takes: one 10-s take file in the template formats, and `voxtar-lesson takes` over a
// lesson of 1,000 takes of 5 s (48 kHz mono 16-bit, like the demo template; files fresh in the
// page cache), first without the measure cache, then with it. The voice detector alone: its cost
// per second of 48 kHz mono sound as a file is analysed (chunks of 32K samples, primed from the
// take's frames) and live, per block of 10 ms, with the share of a core that is.
// Run a Release build: build/<dir>/bench/measures/measures_bench
#include <benchmark/benchmark.h>
#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <span>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/lesson_tool.h"
#include "measures/take_measures.h"
#include "measures/voice_detector.h"
#include "platform/utf8.h"
#include "testing/synthetic_take.h"

namespace voxtar {
namespace {

namespace fs = std::filesystem;

// `seconds` of something like speech: syllables of a fifth of a second that swell and fade, each
// at its own level and pitch, with a few harmonics; room at both ends and a pause now and then.
audio::WaveElement Speech(int format, int rate, int channels, double seconds) {
  audio::WaveElement take = audio::SilentTake(format, rate, channels, seconds);
  std::uint32_t random = 2024;
  const auto next = [&random] {
    random = random * 1664525u + 1013904223u;
    return static_cast<double>(random >> 8) / static_cast<double>(1u << 24);
  };
  for (double at = 0.3; at + 0.2 < seconds - 0.4; at += next() < 0.2 ? 0.45 : 0.22) {
    const double level = 0.05 + 0.4 * next();
    const double pitch = 120.0 + 120.0 * next();
    const auto first = static_cast<std::size_t>(at * rate);
    const auto length = static_cast<std::size_t>(0.2 * rate);
    for (std::size_t n = 0; n < length; ++n) {
      const double t = static_cast<double>(n) / rate;
      const double swell =
          std::sin(std::numbers::pi * static_cast<double>(n) / static_cast<double>(length));
      const double wave = std::sin(2 * std::numbers::pi * pitch * t) +
                          0.5 * std::sin(4 * std::numbers::pi * pitch * t) +
                          0.25 * std::sin(6 * std::numbers::pi * pitch * t);
      for (int c = 0; c < channels; ++c) {
        audio::PutSample(
            &take, (first + n) * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c),
            level * swell * wave / 1.75);
      }
    }
  }
  return take;
}

void Save(const audio::WaveElement& take, const fs::path& path) {
  std::string why;
  if (!audio::WriteWaveFile(take, platform::FromUtf8(path.string()), &why)) {
    throw std::runtime_error(why);
  }
}

class ScratchDir {
 public:
  ScratchDir()
      : path_(fs::temp_directory_path() / ("voxtar-measures-bench-" + std::to_string(::getpid()))) {
    fs::create_directories(path_);
  }
  ~ScratchDir() { fs::remove_all(path_); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

void MeasureTenSecondFile(benchmark::State& state, int format, int rate, int channels) {
  const ScratchDir dir;
  const fs::path file = dir.path() / "take.wav";
  Save(Speech(format, rate, channels, 10.0), file);
  measures::TakeMeasures take;
  std::string error;
  for (auto _ : state) {
    if (!measures::MeasureTakeFile(platform::FromUtf8(file.string()), &take, &error)) {
      state.SkipWithError(error.c_str());
      break;
    }
  }
}
BENCHMARK_CAPTURE(MeasureTenSecondFile, 16bit_48k_mono, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(MeasureTenSecondFile, 8bit_22k_mono, SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 22050, 1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(MeasureTenSecondFile, 24bit_48k_stereo, SF_FORMAT_WAV | SF_FORMAT_PCM_24, 48000,
                  2)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(MeasureTenSecondFile, float_96k_stereo, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 96000, 2)
    ->Unit(benchmark::kMillisecond);

// The samples of `seconds` of speech in a room at -60 dBFS, 48 kHz mono.
std::vector<float> SpeechSamples(double seconds) {
  const audio::WaveElement take = Speech(SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1, seconds);
  std::vector<float> samples(static_cast<std::size_t>(take.frames()));
  take.samples.CopyOut(0, std::as_writable_bytes(std::span(samples)));
  const std::vector<double> room = audio::PinkRoom(samples.size(), -60.0);
  for (std::size_t n = 0; n < samples.size(); ++n) {
    samples[n] += static_cast<float>(room[n]);
  }
  return samples;
}

void VoiceDetectorOnAFile(benchmark::State& state) {
  constexpr double kSeconds = 10.0;
  const std::vector<float> samples = SpeechSamples(kSeconds);
  constexpr std::size_t kChunk = 32640;  // whole frames, as the take measures read
  std::vector<measures::VoiceFrameLevels> frames;
  for (auto _ : state) {
    measures::VoiceFrameAnalyzer analyzer(48000, 1);
    frames.clear();
    for (std::size_t at = 0; at < samples.size(); at += kChunk) {
      analyzer.Feed(std::span(samples).subspan(at, std::min(kChunk, samples.size() - at)), &frames);
    }
    measures::VoiceDetector detector(48000, 1);
    detector.PrimeFloor(frames);
    for (const measures::VoiceFrameLevels& frame : frames) {
      detector.Push(frame);
    }
    detector.Finish();
    benchmark::DoNotOptimize(detector.spans().data());
  }
  // Shown as the time per second of sound.
  state.counters["per_s_of_sound"] = benchmark::Counter(
      kSeconds, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(VoiceDetectorOnAFile)->Unit(benchmark::kMillisecond);

void VoiceDetectorLivePer10msBlock(benchmark::State& state) {
  const std::vector<float> samples = SpeechSamples(10.0);
  constexpr std::size_t kBlock = 480;
  measures::VoiceDetector detector(48000, 1);
  detector.Prime(std::span(samples).first(24000));
  std::size_t at = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(detector.Feed(std::span(samples).subspan(at, kBlock)).data());
    benchmark::DoNotOptimize(detector.silenceMs());
    at = at + 2 * kBlock > samples.size() ? 0 : at + kBlock;
  }
  // The share of a core, in percent: the time per block over the 10 ms it lasts.
  state.counters["core_percent"] = benchmark::Counter(
      1e-4, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(VoiceDetectorLivePer10msBlock)->Unit(benchmark::kMicrosecond);

// `cached`: the measure cache of an earlier run is there.
void TakesOverAThousandTakes(benchmark::State& state, bool cached) {
  constexpr int kTakes = 1000;
  const ScratchDir dir;
  const fs::path prompts = dir.path() / "Prompt" / "big";
  fs::create_directories(prompts);
  fs::create_directories(dir.path() / "ini");
  Save(Speech(SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, 1.0), dir.path() / "sample.wav");
  Save(Speech(SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, 5.0), prompts / "p0000.wav");
  std::ofstream index(dir.path() / "ini" / "big.idx", std::ios::binary);
  for (int n = 0; n < kTakes; ++n) {
    const std::string name =
        "p" + std::string(4 - std::to_string(n).size(), '0') + std::to_string(n) + ".wav";
    if (n > 0) {
      fs::copy_file(prompts / "p0000.wav", prompts / name);
    }
    index << name << " Prompt number " << n << "\r\n";
  }
  index.close();

  // A measure cache of its own, not the user's.
  ::setenv("XDG_CACHE_HOME", (dir.path() / "cache").c_str(), 1);
  const std::vector<std::string> args = {"takes", "--template",
                                         (dir.path() / "sample.wav").string(),
                                         (dir.path() / "ini" / "big.idx").string()};
  const auto run = [&] {
    std::ostringstream out;
    std::ostringstream err;
    if (cli::RunLessonTool(args, out, err) != cli::kExitOk) {
      state.SkipWithError((err.str() + out.str().substr(0, 400)).c_str());
      return false;
    }
    return true;
  };
  if (cached && !run()) {
    return;
  }
  for (auto _ : state) {
    if (!cached) {
      state.PauseTiming();
      fs::remove_all(dir.path() / "cache");
      state.ResumeTiming();
    }
    if (!run()) {
      break;
    }
  }
  state.counters["takes"] = kTakes;
}
// CPU: of the whole process, its measuring threads included.
BENCHMARK_CAPTURE(TakesOverAThousandTakes, cold, false)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->MeasureProcessCPUTime()
    ->UseRealTime();
BENCHMARK_CAPTURE(TakesOverAThousandTakes, warm, true)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

}  // namespace
}  // namespace voxtar

BENCHMARK_MAIN();
