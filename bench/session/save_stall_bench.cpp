// SPDX-License-Identifier: GPL-3.0-or-later
// The save of a long take as the window lives it: a take of 10 minutes at 48 kHz, stereo, 16-bit,
// recorded on the simulated engine (its clock advanced, no real waiting) over an earlier take of
// the same length, then timed from FinishRecording to the end of its save (the write with the
// earlier take kept, the measure and the judgement) while a 1 ms timer on the GUI thread records
// the longest gap between its ticks: the stall the window shows. Apart from that, what keeping
// the earlier take adds to the commit of a save. Times are wall-clock; the disk decides much of
// them. Run a Release build (it needs no display):
//   build/<dir>/bench/session/save_stall_bench [--minutes 10] [--runs 5]
#include <sndfile.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "audio/wave_element.h"
#include "history/take_history.h"
#include "lesson/lesson.h"
#include "platform/utf8.h"
#include "session/recording_flow.h"
#include "testing/simulated_audio_engine.h"
#include "testing/synthetic_take.h"

namespace voxtar {
namespace {

namespace fs = std::filesystem;
// Milliseconds on `clock`, to the microsecond.
double Ms(const QElapsedTimer& clock) {
  return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

// The median and the worst of `runs`.
void Report(const char* what, std::vector<double> runs) {
  std::sort(runs.begin(), runs.end());
  std::printf("  %-46s median %9.3f ms   worst %9.3f ms   (%zu)\n", what, runs[runs.size() / 2],
              runs.back(), runs.size());
}

// The box a failure would show; the step that failed then ends the run.
class PrintFailure final : public audio::FailureReporter {
 public:
  void ReportFailure(const QString& text, const QString& caption) override {
    std::fprintf(stderr, "%s: %s\n", qPrintable(caption), qPrintable(text));
  }
};

// The longest time the GUI thread went without turning its event loop, as a 1 ms timer sees it.
class TickGaps {
 public:
  TickGaps() {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(1);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      longest_ = std::max(longest_, Ms(sinceTick_));
      sinceTick_.start();
    });
    sinceTick_.start();
    timer_.start();
  }
  // The longest gap since the last call. The gap running now counts from its last tick, so a
  // stall that begins just after a call is measured whole.
  double TakeLongest() { return std::exchange(longest_, 0.0); }

 private:
  QTimer timer_;
  QElapsedTimer sinceTick_;
  double longest_ = 0.0;
};

// Any failure makes the figures meaningless; main reports it, the working directory removed.
[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error(what);
}

// A copy of the demo working directory whose template recording is 48 kHz stereo 16-bit, entered
// for the run and removed afterwards.
class WorkingDirectory {
 public:
  WorkingDirectory()
      : previous_(fs::current_path()),
        path_(fs::temp_directory_path() / ("voxtar-save-stall-" + std::to_string(::getpid()))) {
    fs::copy(VOXTAR_DEMO_DIR, path_, fs::copy_options::recursive);
    std::string error;
    if (!audio::WriteWaveFile(audio::SilentTake(SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, 1.0),
                              platform::FromUtf8((path_ / "sample.wav").string()), &error)) {
      fs::remove_all(path_);
      Fail(error);
    }
    fs::current_path(path_);
  }
  ~WorkingDirectory() {
    fs::current_path(previous_);
    fs::remove_all(path_);
  }
  WorkingDirectory(const WorkingDirectory&) = delete;
  WorkingDirectory& operator=(const WorkingDirectory&) = delete;

  const fs::path& path() const { return path_; }

 private:
  fs::path previous_;
  fs::path path_;
};

// Records `minutes` of the input tone on the current prompt, the clock advanced a second at a
// time with the level notices delivered as the window would take them.
void Record(session::RecordingFlow& flow, audio::SimulatedAudioEngine& engine, int minutes) {
  if (!flow.PrepareToRecord()) {
    Fail("the recording could not start");
  }
  flow.StartRecording();
  for (int second = 0; second < minutes * 60; ++second) {
    engine.Advance(1000);
    QCoreApplication::sendPostedEvents();
  }
}

struct Finish {
  double wholeMs = 0.0;
  double stallMs = 0.0;
  double idleMs = 0.0;  // the longest gap with nothing running: the timer's own jitter
  bool saved = false;
};

// FinishRecording called from the event loop, as a click calls it, 50 ms into a ticking timer;
// the loop goes on 50 ms after the save's end comes back, so work after it counts too.
Finish TimedFinish(session::RecordingFlow& flow) {
  Finish finish;
  TickGaps ticks;
  QEventLoop loop;
  QElapsedTimer clock;
  QTimer::singleShot(50, [&] {
    finish.idleMs = ticks.TakeLongest();
    clock.start();
    const bool started = flow.FinishRecording([&](bool saved) {
      finish.saved = saved;
      finish.wholeMs = Ms(clock);
      QTimer::singleShot(50, &loop, &QEventLoop::quit);
    });
    if (!started) {
      loop.quit();
    }
  });
  loop.exec();
  finish.stallMs = ticks.TakeLongest();
  if (!finish.saved) {
    Fail("the take was not saved");
  }
  return finish;
}

// Leaves the prompt directory's history empty, so the next save keeps exactly one take.
void EmptyHistory(const history::TakeHistory& history) {
  history::Freed freed;
  if (const history::Result result = history.Prune(0, &freed); !result.ok()) {
    Fail(result.error);
  }
}

// The commit of a save whose take is written and already on disk: the keeping of the take it
// replaces (a hard link and the sync of the history folder) and the rename. `over`: there is an
// earlier take to keep; else the target is removed first and nothing is kept.
std::vector<double> Commits(const fs::path& workingDirectory, int minutes, int runs, bool over) {
  const fs::path directory = workingDirectory / "Prompt/keep";
  fs::create_directories(directory);
  const history::TakeHistory history(platform::FromUtf8(directory.string()),
                                     platform::FromUtf8(workingDirectory.string()));
  const audio::WaveElement take =
      audio::SilentTake(SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, minutes * 60.0);
  std::string error;
  if (over &&
      !audio::WriteWaveFile(take, platform::FromUtf8((directory / "k001.wav").string()), &error)) {
    Fail(error);
  }
  std::vector<double> times;
  for (int run = 0; run < runs; ++run) {
    if (!over) {
      fs::remove(directory / "k001.wav");
    }
    const std::unique_ptr<platform::SaveFile> file = history.NewTakeFile(u"k001.wav");
    if (!audio::WriteWave(take, *file, &error)) {
      Fail(error);
    }
    ::fsync(file->descriptor());
    QElapsedTimer clock;
    clock.start();
    if (const history::Result result = history.Commit(*file); !result.ok()) {
      Fail(result.error);
    }
    times.push_back(Ms(clock));
    if (history.CountEarlier(u"k001.wav") != (over ? 1 : 0)) {
      Fail("the history does not hold the earlier take as it should");
    }
    EmptyHistory(history);
  }
  return times;
}

int Run(int minutes, int runs) {
  const WorkingDirectory dir;
  std::printf("%d-minute takes, 48000 Hz, stereo, 16-bit, in %s\n", minutes,
              dir.path().string().c_str());

  audio::SimulatedAudioEngine engine;
  engine.SetInputTone(220.0, 0.3);
  PrintFailure reporter;
  QObject notify;
  lesson::Lesson lesson;
  if (lesson.LoadLesson(platform::FromUtf8((dir.path() / "Ini/unit01.idx").string())).result !=
      lesson::LoadResult::Loaded) {
    Fail("the demo lesson did not load");
  }
  session::RecordingFlow flow(lesson, engine, &notify, reporter, {});
  std::string profileError;
  if (!flow.LessonLoaded(&profileError)) {
    Fail(profileError);
  }
  const history::TakeHistory history(lesson.paths.promptDirectory, lesson.paths.workingDirectory);
  const std::u16string name(lesson.current()->name);
  const auto takeBytes = static_cast<std::uintmax_t>(minutes) * 60u * 48000u * 4u;

  // The prompt's first take, which every timed save replaces.
  Record(flow, engine, minutes);
  TimedFinish(flow);
  while (flow.judge().measuring()) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
  }

  std::vector<double> whole;
  std::vector<double> stalls;
  std::vector<double> idle;
  for (int run = 0; run < runs; ++run) {
    EmptyHistory(history);
    Record(flow, engine, minutes);
    const Finish finish = TimedFinish(flow);
    if (history.CountEarlier(name) != 1) {
      Fail("the save did not keep the earlier take");
    }
    if (fs::file_size(fs::path(platform::ToUtf8(lesson.PromptFilePath()))) < takeBytes) {
      Fail("the saved take is shorter than the recording");
    }
    whole.push_back(finish.wholeMs);
    stalls.push_back(finish.stallMs);
    idle.push_back(finish.idleMs);
  }
  std::printf("FinishRecording over an earlier take (saved, kept, measured, judged):\n");
  Report("the whole save and check", whole);
  Report("longest gap between 1 ms ticks meanwhile", stalls);
  Report("longest gap before it (the timer's own)", idle);

  std::printf("the commit of a save, the take already written and synced:\n");
  const std::vector<double> keeping = Commits(dir.path(), minutes, runs, true);
  const std::vector<double> fresh = Commits(dir.path(), minutes, runs, false);
  Report("over an earlier take, which is kept", keeping);
  Report("with no earlier take", fresh);
  return 0;
}

}  // namespace
}  // namespace voxtar

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCommandLineParser parser;
  const QCommandLineOption minutesOption(QStringLiteral("minutes"), QStringLiteral("take length"),
                                         QStringLiteral("minutes"), QStringLiteral("10"));
  const QCommandLineOption runsOption(QStringLiteral("runs"), QStringLiteral("timed saves"),
                                      QStringLiteral("count"), QStringLiteral("5"));
  parser.addOptions({minutesOption, runsOption});
  parser.process(app);
  const int minutes = parser.value(minutesOption).toInt();
  const int runs = parser.value(runsOption).toInt();
  if (minutes <= 0 || runs <= 0) {
    std::fprintf(stderr, "--minutes and --runs take positive numbers\n");
    return 2;
  }
  try {
    return voxtar::Run(minutes, runs);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "%s\n", failure.what());
    return 1;
  }
}
