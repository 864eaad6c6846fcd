// SPDX-License-Identifier: GPL-3.0-or-later
// Lesson loading and the recorded-prompt scan at sizes well beyond a real course (100,000
// prompts; 30,000 recordings), next to a plain file copy of the same index as the reference, and
// voxtar-lesson normalize of that index as a whole process. Ends with the ratios to the copy.
// Run a Release build: build/<dir>/bench/lesson/lesson_bench
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "lesson/lesson.h"
#include "platform/file_system.h"

namespace voxtar {
namespace {

namespace fs = std::filesystem;

constexpr int kLessonPrompts = 100'000;
constexpr int kScanPrompts = 30'000;
constexpr int kRepetitions = 5;

// "p000042.wav". Built by appending: "literal" + string&& trips a false -Wrestrict in GCC 12
// at -O3.
std::string PromptName(char letter, int n) {
  const std::string digits = std::to_string(n);
  std::string name(1, letter);
  name.append(6 - digits.size(), '0');
  name += digits;
  name += ".wav";
  return name;
}

void WriteFile(const fs::path& file, const std::string& bytes) {
  fs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    throw std::runtime_error("cannot write " + file.string());
  }
}

// Puts the file back as it was and flushes it to disk, so that a timed run that follows does not
// wait for the set-up's own writes.
void RestoreFile(const fs::path& file, const std::string& bytes) {
  WriteFile(file, bytes);
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 || ::fsync(fd) != 0) {
    throw std::runtime_error("cannot sync " + file.string());
  }
  ::close(fd);
}

std::string Utf16Le(std::u16string_view text) {
  std::string bytes;
  platform::AppendUtf16Le(bytes, text);
  return bytes;
}

// The working files, made once and removed at exit.
class Workspace {
 public:
  Workspace() {
    std::string pattern = (fs::temp_directory_path() / "voxtar-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      throw std::runtime_error("mkdtemp failed");
    }
    root_ = pattern;

    std::u16string utf16 = u"\uFEFF";
    std::string eightBit;
    for (int i = 1; i <= kLessonPrompts; ++i) {
      const std::string name = PromptName('p', i) + ' ';
      utf16 += platform::FromUtf8(name) + u"Where is the station? It is near the old bridge.\r\n";
      // "Где вокзал? Он рядом со старым мостом." in Windows-1251.
      eightBit += name +
                  "\xC3\xE4\xE5 \xE2\xEE\xEA\xE7\xE0\xEB? \xCE\xED \xF0\xFF\xE4\xEE\xEC \xF1"
                  "\xEE \xF1\xF2\xE0\xF0\xFB\xEC \xEC\xEE\xF1\xF2\xEE\xEC.\r\n";
    }
    utf16Bytes_ = Utf16Le(utf16);
    eightBitBytes_ = eightBit;
    WriteFile(root_ / "w/ini/utf16.idx", utf16Bytes_);
    WriteFile(root_ / "w/ini/cp1251.idx", eightBitBytes_);
  }
  ~Workspace() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;

  std::u16string Wide(std::string_view relative) const {
    return platform::FromUtf8((root_ / relative).string());
  }
  fs::path Path(std::string_view relative) const { return root_ / relative; }
  const std::string& utf16Bytes() const { return utf16Bytes_; }
  const std::string& eightBitBytes() const { return eightBitBytes_; }

  // The 60,000 recordings of the scan benchmarks, made only when they run (after the load
  // benchmarks): creating them makes the file system slower to find room for new files for a
  // while, which would be charged to the index saves.
  void MakeScanFiles() {
    if (scanFilesMade_) {
      return;
    }
    scanFilesMade_ = true;
    std::string scan = "\xFF\xFE";
    std::vector<std::string> lines;
    for (int i = 1; i <= kScanPrompts; ++i) {
      lines.push_back(
          Utf16Le(platform::FromUtf8(PromptName('s', i)) + u" Good morning, how are you?\r\n"));
      scan += lines.back();
      WriteFile(root_ / "w/Prompt/scan" / PromptName('s', i), "");
    }
    std::string reversed;
    for (std::size_t i = lines.size(); i > 0; --i) {
      reversed += lines[i - 1];
    }
    WriteFile(root_ / "w/ini/scan.idx", scan);
    fs::create_directories(root_ / "w/Prompt/scanreversed");
    for (const auto& file : fs::directory_iterator(root_ / "w/Prompt/scan")) {
      fs::copy_file(file.path(), root_ / "w/Prompt/scanreversed" / file.path().filename());
    }
    WriteFile(root_ / "w/ini/scanreversed.idx", "\xFF\xFE" + reversed);
  }

 private:
  fs::path root_;
  std::string utf16Bytes_;
  std::string eightBitBytes_;
  bool scanFilesMade_ = false;
};

Workspace& Files() {
  static Workspace workspace;
  return workspace;
}

void LoadAndWriteBack(benchmark::State& state, const std::string& relative,
                      const std::string& original) {
  Workspace& files = Files();
  const std::u16string path = files.Wide(relative);
  for (auto _ : state) {
    state.PauseTiming();
    RestoreFile(files.Path(relative), original);  // each load starts from the original encoding
    state.ResumeTiming();
    lesson::Lesson lesson;
    const lesson::LoadOutcome outcome = lesson.LoadLesson(path);
    if (outcome.result != lesson::LoadResult::Loaded || !outcome.saved) {
      state.SkipWithError("load failed");
      break;
    }
    lesson.UnloadLesson();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(original.size()));
  state.counters["prompts"] = kLessonPrompts;
}

void BM_LoadAndWriteBackUtf16(benchmark::State& state) {
  LoadAndWriteBack(state, "w/ini/utf16.idx", Files().utf16Bytes());
}
BENCHMARK(BM_LoadAndWriteBackUtf16)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true);

void BM_LoadAndWriteBack8Bit(benchmark::State& state) {
  LoadAndWriteBack(state, "w/ini/cp1251.idx", Files().eightBitBytes());
}
BENCHMARK(BM_LoadAndWriteBack8Bit)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true);

// The load without its write-back: reading and parsing alone.
void BM_LoadDryRunUtf16(benchmark::State& state) {
  const std::u16string path = Files().Wide("w/ini/utf16.idx");
  WriteFile(Files().Path("w/ini/utf16.idx"), Files().utf16Bytes());
  for (auto _ : state) {
    lesson::Lesson lesson;
    benchmark::DoNotOptimize(lesson.LoadLesson(path, {.dryRun = true}));
  }
  state.SetBytesProcessed(state.iterations() *
                          static_cast<std::int64_t>(Files().utf16Bytes().size()));
}
BENCHMARK(BM_LoadDryRunUtf16)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true);

// voxtar-lesson normalize of the 100,000-prompt index: start, load, write-back and exit.
void BM_NormalizeProcessUtf16(benchmark::State& state) {
  Workspace& files = Files();
  const std::string index = files.Path("w/ini/utf16.idx").string();
  for (auto _ : state) {
    state.PauseTiming();
    RestoreFile(index, files.utf16Bytes());
    state.ResumeTiming();
    const char* argv[] = {VOXTAR_LESSON_TOOL, "normalize", index.c_str(), nullptr};
    pid_t child = 0;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const int spawned =
        ::posix_spawn(&child, argv[0], &actions, nullptr, const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (spawned != 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
      state.SkipWithError("voxtar-lesson normalize failed");
      break;
    }
  }
}
BENCHMARK(BM_NormalizeProcessUtf16)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true);

// Reference: the standard library copying the same UTF-16 index, without and with the flush to
// disk that a save makes.
void CopyReference(benchmark::State& state, bool sync) {
  Workspace& files = Files();
  RestoreFile(files.Path("w/ini/utf16.idx"), files.utf16Bytes());
  const fs::path from = files.Path("w/ini/utf16.idx");
  const fs::path to = files.Path("w/ini/copy.idx");
  for (auto _ : state) {
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    if (sync) {
      const int fd = ::open(to.c_str(), O_RDONLY | O_CLOEXEC);
      ::fsync(fd);
      ::close(fd);
    }
  }
  state.SetBytesProcessed(state.iterations() *
                          static_cast<std::int64_t>(files.utf16Bytes().size()));
}

void BM_CopyFileReference(benchmark::State& state) {
  CopyReference(state, false);
}
BENCHMARK(BM_CopyFileReference)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true);

void BM_CopyFileAndSyncReference(benchmark::State& state) {
  CopyReference(state, true);
}
BENCHMARK(BM_CopyFileAndSyncReference)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true);

// 30,000 entries against 30,000 files: entries in listing order (each matches the first remaining
// candidate) and in reverse order (each walks all remaining candidates: the worst case).
void Scan(benchmark::State& state, const std::string& relative) {
  Files().MakeScanFiles();
  lesson::Lesson lesson;
  if (lesson.LoadLesson(Files().Wide(relative), {.dryRun = true}).result !=
      lesson::LoadResult::Loaded) {
    state.SkipWithError("load failed");
    return;
  }
  for (auto _ : state) {
    for (auto& entry : lesson.prompts.entries) {
      entry->recorded = false;
    }
    lesson.ScanRecordedPrompts();
  }
  int recorded = 0;
  for (const auto& entry : lesson.prompts.entries) {
    recorded += entry->recorded;
  }
  if (recorded != kScanPrompts) {
    state.SkipWithError("not every prompt was found");
  }
  state.counters["recorded"] = recorded;
}

void BM_ScanRecordedPrompts(benchmark::State& state) {
  Scan(state, "w/ini/scan.idx");
}
BENCHMARK(BM_ScanRecordedPrompts)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true);

void BM_ScanRecordedPromptsReversed(benchmark::State& state) {
  Scan(state, "w/ini/scanreversed.idx");
}
BENCHMARK(BM_ScanRecordedPromptsReversed)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true);

// Reports as the console does and keeps each benchmark's time per iteration for the ratios: the
// median of the repetitions where there are several (a shared disk makes single runs noisy).
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred) {
        continue;
      }
      const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (single || median) {
        milliseconds_[run.run_name.function_name] = run.GetAdjustedRealTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  void PrintRatios() const {
    const auto time = [this](const std::string& name) {
      const auto it = milliseconds_.find(name);
      return it == milliseconds_.end() ? 0.0 : it->second;
    };
    const double copy = time("BM_CopyFileAndSyncReference");
    if (copy <= 0) {
      return;
    }
    std::printf("\nAgainst copy + fsync of the same index (%.2f ms):\n", copy);
    std::printf("  load + write-back, UTF-16LE:    %.2f times (goal: at most 2)\n",
                time("BM_LoadAndWriteBackUtf16") / copy);
    std::printf("  load + write-back, 8-bit:       %.2f times\n",
                time("BM_LoadAndWriteBack8Bit") / copy);
    std::printf("  voxtar-lesson normalize:        %.2f times (goal: at most 3)\n",
                time("BM_NormalizeProcessUtf16") / copy);
    std::printf("Scan of %d prompts in reverse order: %.2f ms (goal: under 50 ms)\n", kScanPrompts,
                time("BM_ScanRecordedPromptsReversed"));
  }

 private:
  std::map<std::string, double> milliseconds_;
};

}  // namespace
}  // namespace voxtar

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  voxtar::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}
