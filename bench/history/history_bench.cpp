// SPDX-License-Identifier: GPL-3.0-or-later
// What keeping the earlier take adds to a save, for a take of 10 minutes at 48 kHz, stereo, 16-bit
// (about 110 MiB): the hard link into the history folder with the sync of that folder, and a
// whole save over an earlier take with and without the history. Times are wall-clock: a save
// waits for the disk. Run a Release build: build/<dir>/bench/history/history_bench
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sndfile.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "audio/wave_element.h"
#include "history/take_history.h"
#include "platform/file_system.h"

namespace voxtar {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kFrames = 10ull * 60 * 48000;

const audio::WaveElement& TenMinutes() {
  static const audio::WaveElement kTake =
      audio::MakeElement(SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, kFrames);
  return kTake;
}

// A prompt directory with one take in it, removed afterwards.
class Prompts {
 public:
  Prompts()
      : root_(fs::temp_directory_path() / ("voxtar-history-bench-" + std::to_string(::getpid()))) {
    fs::create_directories(root_ / "Prompt/l/.history");
    Save(TenMinutes());
  }
  ~Prompts() { fs::remove_all(root_); }
  Prompts(const Prompts&) = delete;
  Prompts& operator=(const Prompts&) = delete;

  fs::path directory() const { return root_ / "Prompt/l"; }
  std::u16string take() const { return platform::FromUtf8((directory() / "a.wav").string()); }
  history::TakeHistory History() const {
    return history::TakeHistory(platform::FromUtf8(directory().string()),
                                platform::FromUtf8(root_.string()));
  }
  void Save(const audio::WaveElement& element) const {
    std::string error;
    if (!audio::WriteWaveFile(element, take(), &error)) {
      throw std::runtime_error(error);
    }
  }

 private:
  fs::path root_;
};

// The keeping itself: a hard link of the take into the history folder, alone (argument 0) and, as
// a save does it, with the sync that makes the link durable before the new take replaces the old
// one (argument 1).
void LinkIntoHistory(benchmark::State& state) {
  const Prompts prompts;
  const bool sync = state.range(0) != 0;
  const int directory = ::open(prompts.directory().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const int history = ::openat(directory, ".history", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (auto _ : state) {
    if (::linkat(directory, "a.wav", history, "a.wav.take", 0) != 0 ||
        (sync && ::fsync(history) != 0)) {
      state.SkipWithError("link failed");
      break;
    }
    state.PauseTiming();
    ::unlinkat(history, "a.wav.take", 0);
    state.ResumeTiming();
  }
  ::close(history);
  ::close(directory);
}
BENCHMARK(LinkIntoHistory)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(20);

void SaveWithoutHistory(benchmark::State& state) {
  const Prompts prompts;
  for (auto _ : state) {
    prompts.Save(TenMinutes());
  }
}
BENCHMARK(SaveWithoutHistory)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void SaveWithHistory(benchmark::State& state) {
  const Prompts prompts;
  const history::TakeHistory history = prompts.History();
  for (auto _ : state) {
    const history::Result result = history.Save(u"a.wav", TenMinutes());
    if (!result.ok()) {
      state.SkipWithError(result.error.c_str());
      break;
    }
    state.PauseTiming();
    history::Freed freed;
    history.Prune(0, &freed);  // the disk holds one earlier take at a time
    state.ResumeTiming();
  }
}
BENCHMARK(SaveWithHistory)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace
}  // namespace voxtar

BENCHMARK_MAIN();
