// SPDX-License-Identifier: GPL-3.0-or-later
// voxtar-lesson export beside sox once per take in a shell loop (bench/export/sox_per_file.sh,
// what a user would otherwise run), side by side in one run: lessons of 100 and 1,000 takes of
// 5 s (48 kHz mono 16-bit, like the demo's template) made into 22,050 Hz 16-bit files, trimmed to
// 0.2 s around the voice and normalized; and, with a gain alone, into 48 kHz files normalized.
// Both read the takes fresh in the page cache. The export runs with nothing measured (an empty
// measure cache of its own: it measures every take to judge it), with the takes measured before
// (as the window, takes or report leave them in the user's cache: each take is read once, to make
// its file) and up to date (every file made already). Reports the median wall and CPU time (user
// and system, which a machine busy with other work disturbs less) of each, the CPU time per take,
// export's wall time over sox's for the same work, and export's peak resident memory, which should
// not grow with the number of takes. Run a Release build: build/<dir>/bench/export/export_bench
// [--runs 3]; --course DIR COUNT only makes a course, to profile an export of it; the environment's
// VOXTAR_LESSON_TOOL names another build of voxtar-lesson to run.
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

// The wall and CPU times of the runs of one kind.
struct Samples {
  std::vector<double> wall;
  std::vector<double> cpu;

  void Add(const Outcome& outcome) {
    wall.push_back(outcome.seconds);
    cpu.push_back(outcome.cpuSeconds);
  }
};

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
    // Only the course, to profile an export of it: --course DIR COUNT.
    if (std::string(argv[i]) == "--course" && i + 2 < argc) {
      const fs::path index = MakeCourse(argv[i + 1], std::max(1, std::stoi(argv[i + 2])));
      std::printf("%s\n", index.c_str());
      return 0;
    }
  }
  // Another build of voxtar-lesson, to compare: VOXTAR_LESSON_TOOL=PATH.
  const char* const other = std::getenv("VOXTAR_LESSON_TOOL");
  const std::string tool = other != nullptr && *other != '\0' ? other : VOXTAR_LESSON_TOOL;
  if (std::system("command -v sox >/dev/null") != 0) {
    std::fprintf(stderr, "export_bench: needs sox (scripts/install-deps.sh bench)\n");
    return 1;
  }
  const fs::path scratch =
      fs::temp_directory_path() / ("voxtar-export-bench-" + std::to_string(::getpid()));
  // The programs it runs keep their measures there, not in the user's cache.
  ::setenv("XDG_CACHE_HOME", (scratch / "cache").c_str(), 1);
  // CPU time beside the wall time: on a machine shared with other work, wall times vary.
  std::printf("%6s  %-38s %9s %9s %9s %9s\n", "takes", "", "wall", "CPU", "CPU/take", "wall/sox");
  for (const int count : {100, 1000}) {
    const fs::path root = scratch / std::to_string(count);
    const fs::path index = MakeCourse(root, count);
    const std::string takes = (root / "Prompt/big").string();
    const auto exportTo = [&](const char* folder, std::vector<std::string> options) {
      options.insert(options.begin(), {tool, "export"});
      options.insert(options.end(), {"--to", (scratch / folder).string(), index.string()});
      return options;
    };
    const std::vector<std::string> trimmed =
        exportTo("out", {"--trim", "--rate", "22050", "--loudness", "-16"});
    const std::vector<std::string> gainOnly = exportTo("gain", {"--loudness", "-16"});
    Samples cold;
    Samples upToDate;
    Samples measured;
    Samples gain;
    Samples sox;
    Samples soxGain;
    long peakKiB = 0;
    for (int run = 0; run < runs; ++run) {
      for (const char* folder : {"out", "gain", "sox", "sox-gain", "cache"}) {
        fs::remove_all(scratch / folder);
      }
      // Nothing measured: export measures every take to judge it, as the first look at a
      // course does.
      const Outcome first = RunProcess(trimmed);
      cold.Add(first);
      peakKiB = std::max(peakKiB, first.peakKiB);
      upToDate.Add(RunProcess(trimmed));
      // Measured before (the window, takes or report did): the export judges from the user's
      // measure cache and reads each take once, to make its file.
      fs::remove_all(scratch / "out");
      measured.Add(RunProcess(trimmed));
      // A gain alone on a take whose loudness and peaks are known: nothing is measured.
      gain.Add(RunProcess(gainOnly));
      sox.Add(RunProcess(
          {"/bin/bash", VOXTAR_SOX_PER_FILE, takes, (scratch / "sox").string(), "22050"}));
      soxGain.Add(RunProcess(
          {"/bin/bash", VOXTAR_SOX_PER_FILE, takes, (scratch / "sox-gain").string(), "gain"}));
    }
    const auto row = [&](const char* what, const Samples& samples, const Samples* against) {
      std::printf("%6d  %-38s %7.2f s %7.2f s %6.1f ms", count, what, Median(samples.wall),
                  Median(samples.cpu), Median(samples.cpu) * 1000.0 / count);
      if (against != nullptr) {
        std::printf(" %9.2f", Median(samples.wall) / Median(against->wall));
      }
      std::printf("\n");
    };
    row("export --trim --rate, nothing measured", cold, &sox);
    row("export --trim --rate, measured before", measured, &sox);
    row("export --trim --rate, up to date", upToDate, nullptr);
    row("sox per file (trim, rate, gain)", sox, nullptr);
    row("export --loudness, measured before", gain, &soxGain);
    row("sox per file (gain)", soxGain, nullptr);
    std::printf("%6d  export peak RSS %.1f MiB\n", count, static_cast<double>(peakKiB) / 1024.0);
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
