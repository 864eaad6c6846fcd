// The take check: of one 10-s take in memory (what the dialog does after Stop) in the template
// formats, of the same take read from its file, and `voxtar-lesson takes` over a lesson of 1,000
// takes of 5 s (48 kHz mono 16-bit, like the demo template; files fresh in the page cache).
// Run a Release build: build/<dir>/bench/audio/take_check_bench
#include <benchmark/benchmark.h>
#include <sndfile.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "audio/take_check.h"
#include "cli/lesson_tool.h"
#include "platform/file_system.h"
#include "testing/synthetic_take.h"

namespace voxtar {
namespace {

namespace fs = std::filesystem;

// `seconds` of speech: bursts of half a second with pauses of a fifth, room at both ends.
audio::WaveElement Speech(int format, int rate, int channels, double seconds) {
  audio::WaveElement take = audio::SilentTake(format, rate, channels, seconds);
  for (double at = 0.3; at + 0.5 < seconds - 0.3; at += 0.7) {
    audio::AddTone(&take, at, at + 0.5, 0.4, 220.0);
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
      : path_(fs::temp_directory_path() / ("voxtar-take-bench-" + std::to_string(::getpid()))) {
    fs::create_directories(path_);
  }
  ~ScratchDir() { fs::remove_all(path_); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

void CheckTenSeconds(benchmark::State& state, int format, int rate, int channels) {
  const audio::WaveElement take = Speech(format, rate, channels, 10.0);
  for (auto _ : state) {
    audio::TakeCheck check = audio::CheckTake(take);
    benchmark::DoNotOptimize(check);
  }
}
BENCHMARK_CAPTURE(CheckTenSeconds, 16bit_48k_mono, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(CheckTenSeconds, 8bit_22k_mono, SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 22050, 1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(CheckTenSeconds, 24bit_48k_stereo, SF_FORMAT_WAV | SF_FORMAT_PCM_24, 48000, 2)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(CheckTenSeconds, float_96k_stereo, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 96000, 2)
    ->Unit(benchmark::kMillisecond);

void CheckTenSecondFile(benchmark::State& state) {
  const ScratchDir dir;
  const fs::path file = dir.path() / "take.wav";
  Save(Speech(SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, 10.0), file);
  audio::TakeCheck check;
  std::string error;
  for (auto _ : state) {
    if (!audio::CheckTakeFile(platform::FromUtf8(file.string()), &check, nullptr, &error)) {
      state.SkipWithError(error.c_str());
      break;
    }
  }
}
BENCHMARK(CheckTenSecondFile)->Unit(benchmark::kMillisecond);

void TakesOverAThousandTakes(benchmark::State& state) {
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

  const std::vector<std::string> args = {"takes", "--template",
                                         (dir.path() / "sample.wav").string(),
                                         (dir.path() / "ini" / "big.idx").string()};
  for (auto _ : state) {
    std::ostringstream out;
    std::ostringstream err;
    if (cli::RunLessonTool(args, out, err) != cli::kExitOk) {
      state.SkipWithError((err.str() + out.str().substr(0, 400)).c_str());
      break;
    }
  }
  state.counters["takes"] = kTakes;
}
BENCHMARK(TakesOverAThousandTakes)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace voxtar

BENCHMARK_MAIN();
