// SPDX-License-Identifier: GPL-3.0-or-later
// The take's waveform: how long the overview of a long take takes (in memory and from its file,
// the file fresh in the page cache), until the view shows it, and what a paint costs while a
// recording is drawn live (10 ms blocks in real time, the view at display rate). Run a Release
// build on the offscreen platform:
//   QT_QPA_PLATFORM=offscreen build/<dir>/bench/ui/waveform_bench [--minutes 10] [--live 15]
#include <sndfile.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPaintEvent>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/utf8.h"
#include "testing/synthetic_take.h"
#include "ui/waveform_view.h"

namespace voxtar {
namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The median and the worst of `runs`.
void Report(const char* what, std::vector<double> runs) {
  std::sort(runs.begin(), runs.end());
  std::printf("  %-44s median %8.3f ms   worst %8.3f ms   (%zu)\n", what, runs[runs.size() / 2],
              runs.back(), runs.size());
}

// A view that times its own paints.
class TimedView : public ui::WaveformView {
 public:
  std::vector<double> paints;
  std::vector<int> widths;

 protected:
  void paintEvent(QPaintEvent* event) override {
    const Clock::time_point start = Clock::now();
    ui::WaveformView::paintEvent(event);
    paints.push_back(MsSince(start));
    widths.push_back(event->rect().width());
  }
};

// Speech-like bursts over a quiet hiss, `seconds` long, 48 kHz stereo 16-bit.
audio::WaveElement LongTake(double seconds) {
  audio::WaveElement take = audio::SilentTake(SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, seconds);
  audio::FillHiss(&take, 0.003);
  for (double at = 0.5; at + 2.0 < seconds; at += 3.0) {
    audio::AddTone(&take, at, at + 2.0, 0.4, 180.0 + 20.0 * std::fmod(at, 7.0));
  }
  return take;
}

int Run(int minutes, int liveSeconds) {
  const double seconds = minutes * 60.0;
  std::printf("%d-minute take, 48000 Hz, stereo, 16-bit\n", minutes);
  const auto take = std::make_shared<const audio::WaveElement>(LongTake(seconds));

  std::vector<double> inMemory;
  for (int run = 0; run < 5; ++run) {
    const Clock::time_point start = Clock::now();
    const auto overview = measures::OverviewOf(*take);
    inMemory.push_back(MsSince(start));
    if (!overview || overview->frames() != take->frames()) {
      std::fprintf(stderr, "the overview is not of the whole take\n");
      return 1;
    }
  }
  Report("overview of the take in memory", inMemory);

  const std::filesystem::path file = std::filesystem::temp_directory_path() / "waveform-bench.wav";
  const std::u16string path = platform::FromUtf8(file.string());
  std::string error;
  if (!audio::WriteWaveFile(*take, path, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  std::vector<double> fromFile;
  for (int run = 0; run < 5; ++run) {
    const Clock::time_point start = Clock::now();
    if (!measures::OverviewOfFile(path, &error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
    fromFile.push_back(MsSince(start));
  }
  Report("overview of the take file", fromFile);

  TimedView view;
  view.resize(1200, 96);
  view.show();
  QTest::qWait(50);
  std::vector<double> shown;
  std::vector<double> fullPaints;
  for (int run = 0; run < 5; ++run) {
    view.Clear();
    QTest::qWait(20);
    const Clock::time_point start = Clock::now();
    view.ShowTakeFile(path);
    while (view.mode() != ui::WaveformView::Mode::Take) {
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    }
    shown.push_back(MsSince(start));
    view.paints.clear();
    view.repaint();
    fullPaints.push_back(view.paints.back());
  }
  Report("ShowTakeFile until the view has it", shown);
  Report("whole paint of the take, 1200 x 96", fullPaints);
  std::filesystem::remove(file);

  // A recording: 10 ms blocks of the take's samples in real time, as the capture side posts them.
  view.StartLive({audio::SampleKind::Int16, 48000, 2});
  QTest::qWait(50);
  view.paints.clear();
  view.widths.clear();
  const std::uint64_t block = 480;
  std::vector<std::byte> bytes(block * take->bytesPerFrame());
  QElapsedTimer clock;
  clock.start();
  std::uint64_t fed = 0;
  while (clock.elapsed() < liveSeconds * qint64{1000}) {
    const auto due = static_cast<std::uint64_t>(clock.elapsed()) * 48;
    for (; fed + block <= due; fed += block) {
      take->samples.CopyOut(fed, bytes);
      view.AppendLive(std::span<const std::byte>(bytes));
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
  }
  std::vector<double> narrow;
  std::vector<double> whole;
  for (std::size_t i = 0; i < view.paints.size(); ++i) {
    (view.widths[i] >= view.width() ? whole : narrow).push_back(view.paints[i]);
  }
  std::printf("live, %d s, the view at %d x %d, %zu paints:\n", liveSeconds, view.width(),
              view.height(), view.paints.size());
  Report("paint of the new columns (each frame)", narrow);
  if (!whole.empty()) {
    Report("whole paint (the span doubled)", whole);
  }
  return 0;
}

}  // namespace
}  // namespace voxtar

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  int minutes = 10;
  int live = 15;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--minutes") {
      minutes = std::atoi(argv[i + 1]);
    } else if (option == "--live") {
      live = std::atoi(argv[i + 1]);
    }
  }
  if (minutes <= 0 || live <= 0) {
    std::fprintf(stderr, "--minutes and --live take positive numbers\n");
    return 2;
  }
  return voxtar::Run(minutes, live);
}
