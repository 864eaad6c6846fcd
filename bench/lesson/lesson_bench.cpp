// Lesson loading and the recorded-prompt scan at sizes well beyond a real course (100,000
// prompts; 5,000 recordings), next to a plain file copy of the same index as the reference.
// Run a Release build: build/<dir>/bench/lesson/lesson_bench
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "lesson/lesson.h"
#include "platform/file_system.h"

namespace voxtar {
namespace {

namespace fs = std::filesystem;

constexpr int kLessonPrompts = 100'000;
constexpr int kScanPrompts = 5'000;

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

std::string Utf16Le(std::u16string_view text) {
  std::string bytes;
  for (const char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
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

    std::string scan = "\xFF\xFE";
    std::string reversed;
    for (int i = 1; i <= kScanPrompts; ++i) {
      const std::string line =
          Utf16Le(platform::FromUtf8(PromptName('s', i)) + u" Good morning, how are you?\r\n");
      scan += line;
      reversed.insert(0, line);
      WriteFile(root_ / "w/Prompt/scan" / PromptName('s', i), "");
    }
    WriteFile(root_ / "w/ini/scan.idx", scan);
    fs::create_directories(root_ / "w/Prompt/scanreversed");
    for (const auto& file : fs::directory_iterator(root_ / "w/Prompt/scan")) {
      fs::copy_file(file.path(), root_ / "w/Prompt/scanreversed" / file.path().filename());
    }
    WriteFile(root_ / "w/ini/scanreversed.idx", "\xFF\xFE" + reversed);
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

 private:
  fs::path root_;
  std::string utf16Bytes_;
  std::string eightBitBytes_;
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
    WriteFile(files.Path(relative), original);  // each load starts from the original encoding
    state.ResumeTiming();
    Lesson lesson;
    const LoadOutcome outcome = lesson.LoadLesson(path);
    if (outcome.result != LoadResult::Loaded || !outcome.saved) {
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
BENCHMARK(BM_LoadAndWriteBackUtf16)->Unit(benchmark::kMillisecond);

void BM_LoadAndWriteBack8Bit(benchmark::State& state) {
  LoadAndWriteBack(state, "w/ini/cp1251.idx", Files().eightBitBytes());
}
BENCHMARK(BM_LoadAndWriteBack8Bit)->Unit(benchmark::kMillisecond);

// The load without its write-back: reading and parsing alone.
void BM_LoadDryRunUtf16(benchmark::State& state) {
  const std::u16string path = Files().Wide("w/ini/utf16.idx");
  WriteFile(Files().Path("w/ini/utf16.idx"), Files().utf16Bytes());
  for (auto _ : state) {
    Lesson lesson;
    benchmark::DoNotOptimize(lesson.LoadLesson(path, {.dryRun = true}));
  }
  state.SetBytesProcessed(state.iterations() *
                          static_cast<std::int64_t>(Files().utf16Bytes().size()));
}
BENCHMARK(BM_LoadDryRunUtf16)->Unit(benchmark::kMillisecond);

// Reference: the standard library copying the same UTF-16 index, without and with the flush to
// disk that a save makes.
void CopyReference(benchmark::State& state, bool sync) {
  Workspace& files = Files();
  WriteFile(files.Path("w/ini/utf16.idx"), files.utf16Bytes());
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
BENCHMARK(BM_CopyFileReference)->Unit(benchmark::kMillisecond);

void BM_CopyFileAndSyncReference(benchmark::State& state) {
  CopyReference(state, true);
}
BENCHMARK(BM_CopyFileAndSyncReference)->Unit(benchmark::kMillisecond);

// 5,000 entries against 5,000 files: entries in listing order (each matches the first remaining
// candidate) and in reverse order (each walks all remaining candidates: the worst case).
void Scan(benchmark::State& state, const std::string& relative) {
  Lesson lesson;
  if (lesson.LoadLesson(Files().Wide(relative), {.dryRun = true}).result != LoadResult::Loaded) {
    state.SkipWithError("load failed");
    return;
  }
  for (auto _ : state) {
    for (auto& entry : lesson.prompts.entries) {
      entry->recorded = 0;
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
BENCHMARK(BM_ScanRecordedPrompts)->Unit(benchmark::kMillisecond);

void BM_ScanRecordedPromptsReversed(benchmark::State& state) {
  Scan(state, "w/ini/scanreversed.idx");
}
BENCHMARK(BM_ScanRecordedPromptsReversed)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace voxtar

BENCHMARK_MAIN();
