// voxtar-lesson export beside sox once per take in a shell loop (bench/export/sox_per_file.sh,
// what a user would otherwise run), side by side in one run: lessons of 100 and 1,000 takes of
// 5 s (48 kHz mono 16-bit, like the demo's template) made into 22,050 Hz 16-bit files, trimmed to
// 0.2 s around the voice and normalized. Both read the takes fresh in the page cache; export
// finds no measure cache (its own, emptied before each run) and measures every take itself. Reports
// the median wall time of each and their ratio, with the CPU time each took, the time of a second
// export (every file up to date), and export's peak resident memory, which should not grow with the
// number of takes. Run a Release build: build/<dir>/bench/export/export_bench [--runs 3]
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/utf8.h"
#include "testing/synthetic_take.h"

extern char** environ;  // NOLINT(readability-identifier-naming): the C library's own name

namespace voxtar {
namespace {

namespace fs = std::filesystem;

struct Outcome {
  double seconds = 0.0;
  double cpuSeconds = 0.0;  // user and system, with the children it waited for
  long peakKiB = 0;         // of the process and the children it waited for
};

// Runs the program to its end, its output thrown away; throws when it fails.
Outcome RunProcess(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const std::string& arg : args) {
    argv.push_back(const_cast<char*>(arg.c_str()));
  }
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  const auto start = std::chrono::steady_clock::now();
  pid_t child = 0;
  const int spawned = ::posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  rusage usage{};
  if (spawned != 0 || ::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    throw std::runtime_error(args.front() + " " + args[1] + " failed");
  }
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  const auto cpu = [](const timeval& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
  };
  return {took.count(), cpu(usage.ru_utime) + cpu(usage.ru_stime), usage.ru_maxrss};
}

// "p0042.wav".
std::string TakeName(int n) {
  char name[16];
  std::snprintf(name, sizeof name, "p%04d.wav", n);
  return name;
}

// A working directory with one lesson of `count` takes of 5 s that sound like speech to the
// measures: 0.4 s of room, then syllables of 0.15 to 0.3 s that rise and fall, each at its own
// level and pitch with two overtones, a pause now and then, and 0.6 s of room at the end. Every
// take is read once, so that both sides find them in the page cache.
fs::path MakeCourse(const fs::path& root, int count) {
  constexpr int kRate = 48000;
  audio::WaveElement take = audio::SilentTake(SF_FORMAT_WAV | SF_FORMAT_PCM_16, kRate, 1, 5.0);
  std::uint32_t seed = 7;
  const auto random = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return static_cast<double>((seed >> 9) & 0xFFFF) / 65536.0;
  };
  for (double at = 0.4; at < 4.1;) {
    const double length = 0.15 + 0.15 * random();
    const double level = 0.06 + 0.34 * random();
    const double pitch = 2.0 * std::numbers::pi * (110.0 + 140.0 * random());
    const auto first = static_cast<std::size_t>(at * kRate);
    const auto frames = static_cast<std::size_t>(length * kRate);
    for (std::size_t n = 0; n < frames; ++n) {
      const double t = static_cast<double>(n) / kRate;
      const double rise = std::sin(std::numbers::pi * t / length);
      audio::PutSample(&take, first + n,
                       level * rise * rise *
                           (0.6 * std::sin(pitch * t) + 0.3 * std::sin(2 * pitch * t) +
                            0.1 * std::sin(3 * pitch * t)));
    }
    at += length + (random() < 0.25 ? 0.25 : 0.03);
  }
  const fs::path takes = root / "Prompt" / "big";
  fs::create_directories(takes);
  fs::create_directories(root / "ini");
  std::string why;
  if (!audio::WriteWaveFile(take, platform::FromUtf8((takes / TakeName(0)).string()), &why)) {
    throw std::runtime_error(why);
  }
  std::ofstream index(root / "ini" / "big.idx", std::ios::binary);
  for (int n = 0; n < count; ++n) {
    if (n > 0) {
      fs::copy_file(takes / TakeName(0), takes / TakeName(n));
    }
    index << TakeName(n) << " Prompt number " << n << "\r\n";
  }
  std::vector<char> buffer(std::size_t{1} << 16);
  for (const auto& file : fs::directory_iterator(takes)) {
    const int fd = ::open(file.path().c_str(), O_RDONLY | O_CLOEXEC);
    while (fd >= 0 && ::read(fd, buffer.data(), buffer.size()) > 0) {
    }
    ::close(fd);
  }
  return root / "ini" / "big.idx";
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

int Main(int argc, char** argv) {
  int runs = 3;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::string(argv[i]) == "--runs") {
      runs = std::max(1, std::stoi(argv[i + 1]));
    }
  }
  const fs::path scratch =
      fs::temp_directory_path() / ("voxtar-export-bench-" + std::to_string(::getpid()));
  // The programs it runs keep their measures there, not in the user's cache.
  ::setenv("XDG_CACHE_HOME", (scratch / "cache").c_str(), 1);
  // CPU time beside the wall time: on a machine shared with other work, wall times vary.
  std::printf("%6s %16s %11s %16s %11s %17s\n", "takes", "export (CPU)", "up to date",
              "sox loop (CPU)", "export/sox", "export peak RSS");
  for (const int count : {100, 1000}) {
    const fs::path root = scratch / std::to_string(count);
    const fs::path index = MakeCourse(root, count);
    std::vector<double> exports;
    std::vector<double> exportCpu;
    std::vector<double> upToDate;
    std::vector<double> sox;
    std::vector<double> soxCpu;
    long peakKiB = 0;
    for (int run = 0; run < runs; ++run) {
      fs::remove_all(scratch / "out");
      fs::remove_all(scratch / "sox");
      fs::remove_all(scratch / "cache");
      const std::vector<std::string> exportArgs = {VOXTAR_LESSON_TOOL,
                                                   "export",
                                                   "--trim",
                                                   "--rate",
                                                   "22050",
                                                   "--loudness",
                                                   "-16",
                                                   "--to",
                                                   (scratch / "out").string(),
                                                   index.string()};
      const Outcome first = RunProcess(exportArgs);
      exports.push_back(first.seconds);
      exportCpu.push_back(first.cpuSeconds);
      peakKiB = std::max(peakKiB, first.peakKiB);
      upToDate.push_back(RunProcess(exportArgs).seconds);
      const Outcome loop =
          RunProcess({"/bin/bash", VOXTAR_SOX_PER_FILE, (root / "Prompt/big").string(),
                      (scratch / "sox").string(), "22050"});
      sox.push_back(loop.seconds);
      soxCpu.push_back(loop.cpuSeconds);
    }
    std::printf("%6d %7.2f s (%4.1f) %9.2f s %7.2f s (%4.1f) %11.2f %13.1f MiB\n", count,
                Median(exports), Median(exportCpu), Median(upToDate), Median(sox), Median(soxCpu),
                Median(exports) / Median(sox), static_cast<double>(peakKiB) / 1024.0);
    std::fflush(stdout);
    fs::remove_all(root);
  }
  fs::remove_all(scratch);
  return 0;
}

}  // namespace
}  // namespace voxtar

int main(int argc, char** argv) {
  try {
    return voxtar::Main(argc, argv);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "export_bench: %s\n", failure.what());
    return 1;
  }
}
