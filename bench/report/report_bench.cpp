// SPDX-License-Identifier: GPL-3.0-or-later
// `voxtar-lesson report` over 10,000 takes: one lesson of 10,000 prompts, and ten lessons of 1,000,
// with the measure cache warm (the goal: under 2 s) and, once, cold. The takes
// are 20 distinct files of 1.5 to 5.3 s (16 kHz mono 16-bit, some cut at the start, of many
// levels), each linked under 500 names: the course costs 20 files of disk, and the cache knows
// each name on its own. Run a Release build: build/<dir>/bench/report/report_bench
#include <benchmark/benchmark.h>
#include <sndfile.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/lesson_tool.h"
#include "platform/utf8.h"
#include "testing/synthetic_take.h"

namespace voxtar {
namespace {

namespace fs = std::filesystem;

constexpr int kTakes = 10'000;
constexpr int kVariants = 20;
constexpr int kLessons = 10;  // of the course in ten lessons
constexpr int kFormat = SF_FORMAT_WAV | SF_FORMAT_PCM_16;

void Save(const audio::WaveElement& take, const fs::path& path) {
  std::string why;
  if (!audio::WriteWaveFile(take, platform::FromUtf8(path.string()), &why)) {
    throw std::runtime_error(why);
  }
}

std::string Numbered(char letter, int number, int digits) {
  std::string text = std::to_string(number);
  return letter + std::string(static_cast<std::size_t>(digits) - text.size(), '0') + text;
}

// The course, made once and removed at exit.
class Course {
 public:
  Course()
      : root_(fs::temp_directory_path() / ("voxtar-report-bench-" + std::to_string(::getpid()))) {
    fs::create_directories(root_ / "ini");
    fs::create_directories(root_ / "takes");
    // A measure cache of its own, not the user's.
    ::setenv("XDG_CACHE_HOME", (root_ / "cache").c_str(), 1);
    Save(audio::SpokenTake(kFormat, 16000), root_ / "sample.wav");
    for (int v = 0; v < kVariants; ++v) {
      const double seconds = 1.5 + 0.2 * v;
      audio::WaveElement take = audio::SilentTake(kFormat, 16000, 1, seconds);
      audio::AddTone(&take, v % 5 == 0 ? 0.0 : 0.3, seconds - 0.5, 0.05 + 0.045 * v, 200 + 10 * v);
      Save(take, root_ / "takes" / (Numbered('v', v, 2) + ".wav"));
    }
    Lesson("one", 0, kTakes);
    for (int l = 0; l < kLessons; ++l) {
      Lesson(Numbered('l', l, 2), l * (kTakes / kLessons), kTakes / kLessons);
    }
  }
  ~Course() { fs::remove_all(root_); }
  Course(const Course&) = delete;
  Course& operator=(const Course&) = delete;

  std::vector<std::string> Args(bool oneLesson) const {
    std::vector<std::string> args = {"report", "--template", (root_ / "sample.wav").string(), "-o",
                                     report().string()};
    for (int l = 0; l < (oneLesson ? 1 : kLessons); ++l) {
      args.push_back(
          (root_ / "ini" / ((oneLesson ? "one" : Numbered('l', l, 2)) + ".idx")).string());
    }
    return args;
  }
  fs::path report() const { return root_ / "report.html"; }
  void DropCaches() const { fs::remove_all(root_ / "cache"); }

 private:
  // `count` prompts from prompt `first` of the course, each a link to one of the takes.
  void Lesson(const std::string& name, int first, int count) const {
    const fs::path prompts = root_ / "Prompt" / name;
    fs::create_directories(prompts);
    std::ofstream index(root_ / "ini" / (name + ".idx"), std::ios::binary);
    for (int n = first; n < first + count; ++n) {
      const std::string take = Numbered('p', n, 5) + ".wav";
      index << take << " Prompt number " << n << " of the course, said once.\r\n";
      fs::create_hard_link(root_ / "takes" / (Numbered('v', n % kVariants, 2) + ".wav"),
                           prompts / take);
    }
  }

  fs::path root_;
};

const Course& TheCourse() {
  static const Course kCourse;
  return kCourse;
}

bool Run(benchmark::State& state, const std::vector<std::string>& args) {
  std::ostringstream out;
  std::ostringstream err;
  const bool written = cli::RunLessonTool(args, out, err) == cli::kExitOk;
  if (!written) {
    state.SkipWithError((err.str() + out.str()).c_str());
  }
  return written;
}

void Figures(benchmark::State& state) {
  state.counters["takes"] = kTakes;
  state.counters["report_MB"] = static_cast<double>(fs::file_size(TheCourse().report())) / 1e6;
}

// With the measure caches of an earlier run.
void ReportOverTenThousandTakes(benchmark::State& state, bool oneLesson) {
  const std::vector<std::string> args = TheCourse().Args(oneLesson);
  if (!Run(state, args)) {
    return;
  }
  for (auto _ : state) {
    if (!Run(state, args)) {
      break;
    }
  }
  Figures(state);
}

// Every take measured from its file.
void ReportOverTenThousandTakesCold(benchmark::State& state) {
  const std::vector<std::string> args = TheCourse().Args(true);
  for (auto _ : state) {
    state.PauseTiming();
    TheCourse().DropCaches();
    state.ResumeTiming();
    if (!Run(state, args)) {
      break;
    }
  }
  Figures(state);
}
BENCHMARK_CAPTURE(ReportOverTenThousandTakes, one_lesson, true)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5)
    ->UseRealTime();
BENCHMARK_CAPTURE(ReportOverTenThousandTakes, ten_lessons, false)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5)
    ->UseRealTime();
BENCHMARK(ReportOverTenThousandTakesCold)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();

}  // namespace
}  // namespace voxtar

BENCHMARK_MAIN();
