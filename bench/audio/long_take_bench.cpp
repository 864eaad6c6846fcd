// SPDX-License-Identifier: GPL-3.0-or-later
// A long take on the simulated engine: what one 10 ms step of capture costs (median and worst,
// the worst being where a take's memory grows) and how far the process's resident memory grows
// beyond the take's own size. Run a Release build:
//   build/<dir>/bench/audio/long_take_bench [--seconds 60] [--rate 192000] [--channels 8]
// The take is 32-bit float; the defaults make about 6 MB a second.
#include <sndfile.h>

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/audio/memory_use.h"
#include "testing/simulated_audio_engine.h"

namespace voxtar::audio {
namespace {

int Run(int seconds, int rate, int channels) {
  SimulatedAudioEngine engine;
  engine.AddElement(u"template.wav", MakeElement(SF_FORMAT_WAV | SF_FORMAT_FLOAT, rate, channels));
  DeviceId id = 0;
  if (engine.Open(u"template.wav", &id) != kNoError || engine.Record(id, 0, nullptr) != kNoError) {
    std::fprintf(stderr, "the simulated recording did not start\n");
    return 1;
  }
  ResetPeakMemory();
  const MemoryUse before = ReadMemoryUse();
  std::vector<double> stepsMs;
  stepsMs.reserve(static_cast<std::size_t>(seconds) * 100);
  for (int step = 0; step < seconds * 100; ++step) {
    const auto started = std::chrono::steady_clock::now();
    engine.Advance(10);
    stepsMs.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started)
            .count());
  }
  engine.Stop(id);
  const MemoryUse after = ReadMemoryUse();
  const double takeMiB = static_cast<double>(engine.element(id)->frames()) *
                         static_cast<double>(engine.element(id)->bytesPerFrame()) / 1048576.0;
  std::sort(stepsMs.begin(), stepsMs.end());
  std::printf("%d s take, %d Hz, %d channel(s), 32-bit float: %.1f MiB\n", seconds, rate, channels,
              takeMiB);
  std::printf("  10 ms capture step   median %.3f ms   99.9%% %.3f ms   worst %.3f ms\n",
              stepsMs[stepsMs.size() / 2], stepsMs[stepsMs.size() * 999 / 1000], stepsMs.back());
  std::printf("  resident memory      %.1f MiB more at the end, %.1f MiB more at its peak\n",
              static_cast<double>(after.residentKiB - before.residentKiB) / 1024.0,
              static_cast<double>(after.peakKiB - before.residentKiB) / 1024.0);
  engine.Close(id);
  return 0;
}

}  // namespace
}  // namespace voxtar::audio

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  int seconds = 60;
  int rate = 192000;
  int channels = 8;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    const int value = std::atoi(argv[i + 1]);
    if (option == "--seconds") {
      seconds = value;
    } else if (option == "--rate") {
      rate = value;
    } else if (option == "--channels") {
      channels = value;
    }
  }
  if (seconds <= 0 || rate <= 0 || channels <= 0) {
    std::fprintf(stderr, "--seconds, --rate and --channels take positive numbers\n");
    return 2;
  }
  return voxtar::audio::Run(seconds, rate, channels);
}
