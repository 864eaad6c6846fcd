// SPDX-License-Identifier: GPL-3.0-or-later
// Latency and completeness of the real audio engine on a sound server whose input hears its
// output (tests/audio/with-pulseaudio.sh). Figures, median and worst of --runs runs, the first
// one included:
//   record -> first captured data   Record called until the first captured bytes came in
//   record -> capture start         Record called until the instant the first captured frame was
//                                   sampled (first data time minus its duration): sound before
//                                   this instant is not in the take
//   cold / warm / kept open: ...    the same, and from the press (the dialog opens the template,
//                                   then records), each run the first take of a fresh engine:
//                                   cold, warmed (Warm, then the window's 150 ms to show), or with
//                                   the input kept open for a 500 ms lead-in (its frames are the
//                                   take's first ones at once; capture start is then negative)
//   play -> first frame played      Play called until the sink played the first frame
//   last frame -> notice            the last frame played (first frame + length) until the
//                                   PlaybackNotice reached the notify object
//   ... at monitor                  the same, from the tone as a recorder on the sink's monitor
//                                   captured it: end to end, independent of the sink's clock
//   sound at input -> level notice  the tone reached the input until the level of its first loud
//                                   block reached the GUI thread (the meter shows it at its next
//                                   refresh, at most 33 ms later)
// and a --long second recording of a steady tone: frames captured against the frames the
// capture time holds, breaks in the tone's phase (each one a gap or a repeat), what the capture
// callback took per fragment (mean and worst) and how far resident memory grew. The long take is
// 48 kHz mono 16-bit, or with --wide 1 eight channels of 192 kHz 32-bit float (6 MB a second).
#include <sndfile.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QProcess>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio/pulse_audio_engine.h"
#include "audio/wave_element.h"
#include "bench/audio/memory_use.h"
#include "platform/file_system.h"
#include "testing/tone_file.h"

namespace voxtar::audio {
namespace {

namespace fs = std::filesystem;

// Writes what the device holds, as a take is written.
void SaveContent(AudioEngine& engine, DeviceId id, const fs::path& path) {
  if (const std::shared_ptr<const WaveElement> content = engine.Content(id)) {
    std::string error;
    if (!WriteWaveFile(*content, platform::FromUtf8(path.string()), &error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
    }
  }
}

std::int64_t Now() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

class NoticeClock final : public QObject {
 public:
  bool event(QEvent* event) override {
    if (event->type() == PlaybackNotice::kType) {
      received = Now();
      code = static_cast<PlaybackNotice*>(event)->code();
      return true;
    }
    return QObject::event(event);
  }
  std::int64_t received = 0;
  NotifyCode code = NotifyCode::Failure;
};

// Notes when the first loud block's level reached the GUI thread, as the meter would get it.
class LevelClock final : public QObject {
 public:
  bool event(QEvent* event) override {
    if (event->type() == LevelNotice::kType) {
      if (firstLoud == 0 && static_cast<LevelNotice*>(event)->summary().peak > 0.2) {
        firstLoud = Now();
      }
      return true;
    }
    return QObject::event(event);
  }
  std::int64_t firstLoud = 0;
};

bool SpinUntil(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > timeoutMs) {
      return false;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
    QThread::usleep(200);
  }
  return true;
}

void Spin(int ms) {
  SpinUntil([] { return false; }, ms);
}

void WriteTone(const fs::path& path, int format, int rate, int channels, double seconds,
               double frequency, double amplitude) {
  if (!WriteToneFile(path, format, rate, channels, seconds, frequency, amplitude)) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    std::exit(1);
  }
}

// The first channel of a sound file (none when it cannot be read).
std::vector<double> ReadFirstChannel(const fs::path& path) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (file == nullptr) {
    return {};
  }
  const auto channels = static_cast<std::size_t>(info.channels);
  constexpr sf_count_t kChunk = 4096;
  std::vector<double> chunk(static_cast<std::size_t>(kChunk) * channels);
  std::vector<double> samples;
  samples.reserve(static_cast<std::size_t>(info.frames));
  for (sf_count_t got = 0; (got = sf_readf_double(file, chunk.data(), kChunk)) > 0;) {
    for (std::size_t n = 0; n < static_cast<std::size_t>(got); ++n) {
      samples.push_back(chunk[n * channels]);
    }
  }
  sf_close(file);
  return samples;
}

struct Figure {
  const char* name;
  std::vector<double> ms;
};

void Report(const Figure& figure) {
  std::vector<double> sorted = figure.ms;
  std::sort(sorted.begin(), sorted.end());
  if (sorted.empty()) {
    std::printf("%-32s no data\n", figure.name);
    return;
  }
  const double median = sorted.size() % 2 == 1
                            ? sorted[sorted.size() / 2]
                            : (sorted[sorted.size() / 2 - 1] + sorted[sorted.size() / 2]) / 2;
  std::printf("%-32s median %7.2f ms   worst %7.2f ms   best %7.2f ms   (%zu runs)\n", figure.name,
              median, sorted.back(), sorted.front(), sorted.size());
}

double Ms(std::int64_t ns) {
  return static_cast<double>(ns) / 1e6;
}

// How long a take took to get its first frame: from Record, from the press, and from Record to
// the instant its first frame was sampled.
struct FirstFrame {
  double fromRecord;
  double fromPress;
  double captureStart;
};

// Opens the template and records into it as the dialog does at the press of Record, until the
// first frame is in; nothing when it fails.
std::optional<FirstFrame> MeasureFirstFrame(PulseAudioEngine& engine,
                                            const std::u16string& templatePath) {
  const std::int64_t pressed = Now();
  DeviceId id = 0;
  ErrorCode error = engine.Open(templatePath, &id);
  if (error == kNoError) {
    error = engine.Record(id, 0, nullptr);
  }
  if (error != kNoError) {
    std::fprintf(stderr, "recording failed: %s\n", qPrintable(engine.ErrorText(error)));
  }
  const bool in =
      error == kNoError && SpinUntil([&] { return engine.timings(id).firstCapture != 0; }, 3000);
  const auto t = engine.timings(id);
  engine.Stop(id);
  engine.Close(id);
  if (!in) {
    return std::nullopt;
  }
  const auto heldNs = static_cast<std::int64_t>(t.firstCaptureFrames * 1'000'000'000ull / 48000);
  return FirstFrame{Ms(t.firstCapture - t.recordCalled), Ms(t.firstCapture - pressed),
                    Ms(t.firstCapture - heldNs - t.recordCalled)};
}

enum class Start { Cold, Warm, KeptOpen };

// The first take of a fresh engine in each run; how many runs failed.
int FirstTakes(Start start, int runs, const std::u16string& templatePath) {
  static constexpr const char* kNames[][3] = {
      {"cold: record -> first data", "cold: press -> first data", "cold: record -> capture start"},
      {"warm: record -> first data", "warm: press -> first data", "warm: record -> capture start"},
      {"kept open: record -> frame", "kept open: press -> frame",
       "kept open: record -> capt. start"}};
  const auto names = kNames[static_cast<int>(start)];
  Figure fromRecord{names[0], {}};
  Figure fromPress{names[1], {}};
  Figure captureStart{names[2], {}};
  int failures = 0;
  for (int run = 0; run < runs; ++run) {
    std::optional<FirstFrame> first;
    {
      PulseAudioEngine engine;
      if (start == Start::Warm) {
        engine.Warm();
        Spin(150);
      } else if (start == Start::KeptOpen) {
        engine.StartPreRoll({SampleKind::Int16, 48000, 1}, 500);
        Spin(600);
      }
      first = MeasureFirstFrame(engine, templatePath);
    }
    if (first) {
      fromRecord.ms.push_back(first->fromRecord);
      fromPress.ms.push_back(first->fromPress);
      captureStart.ms.push_back(first->captureStart);
    } else {
      ++failures;
    }
    Spin(100);
  }
  Report(fromRecord);
  Report(fromPress);
  Report(captureStart);
  return failures;
}

int Run(int runs, int longSeconds, bool wide) {
  const fs::path dir = fs::temp_directory_path() /
                       ("voxtar-audio-bench-" + std::to_string(QCoreApplication::applicationPid()));
  fs::create_directories(dir);
  const fs::path templatePath = dir / "sample.wav";
  WriteTone(templatePath, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, 0.0, 0.0, 0.0);
  const fs::path prompt = dir / "prompt.wav";
  WriteTone(prompt, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, 0.5, 660.0, 0.4);
  const std::u16string templateWide = platform::FromUtf8(templatePath.string());
  const std::u16string promptWide = platform::FromUtf8(prompt.string());

  PulseAudioEngine engine;
  Figure recordData{"record -> first captured data", {}};
  Figure recordStart{"record -> capture start", {}};
  Figure playStart{"play -> first frame played", {}};
  Figure notice{"last frame -> notice", {}};
  Figure noticeNominal{"play + length -> notice", {}};
  Figure heardStart{"play -> first frame at monitor", {}};
  Figure heardNotice{"last frame at monitor -> notice", {}};
  Figure heardLevel{"sound at input -> level notice", {}};
  int failures = 0;

  for (int run = 0; run < runs; ++run) {
    if (const std::optional<FirstFrame> first = MeasureFirstFrame(engine, templateWide)) {
      recordData.ms.push_back(first->fromRecord);
      recordStart.ms.push_back(first->captureStart);
    } else {
      ++failures;
    }
    Spin(100);
  }

  for (int run = 0; run < runs; ++run) {
    // A recorder on the server's input hears the sink, so the tone's first and last loud frame
    // in the capture say when they were played.
    DeviceId listener = 0;
    LevelClock levels;
    engine.SetLevelListener(&levels);
    engine.Open(templateWide, &listener);
    engine.Record(listener, 0, nullptr);
    Spin(200);
    DeviceId id = 0;
    NoticeClock clock;
    ErrorCode error = engine.Open(promptWide, &id);
    if (error == kNoError) {
      error = engine.Play(id, 0, std::nullopt, &clock);
    }
    if (error != kNoError) {
      std::fprintf(stderr, "playback failed: %s\n", qPrintable(engine.ErrorText(error)));
      return 1;
    }
    const bool ended = SpinUntil([&] { return clock.received != 0; }, 5000);
    engine.Stop(listener);
    const auto heard = engine.timings(listener);
    const fs::path heardFile = dir / "heard.wav";
    SaveContent(engine, listener, heardFile);
    engine.Close(listener);
    if (!ended || clock.code != NotifyCode::Successful) {
      ++failures;
    } else {
      const auto t = engine.timings(id);
      const std::int64_t lengthNs =
          static_cast<std::int64_t>(t.playedFrames * 1'000'000'000ull / 44100);
      playStart.ms.push_back(Ms(t.soundStarted - t.playCalled));
      notice.ms.push_back(Ms(clock.received - (t.soundStarted + lengthNs)));
      noticeNominal.ms.push_back(Ms(clock.received - (t.playCalled + lengthNs)));

      const std::vector<double> samples = ReadFirstChannel(heardFile);
      std::size_t first = samples.size();
      std::size_t last = 0;
      for (std::size_t i = 0; i < samples.size(); ++i) {
        if (std::abs(samples[i]) > 0.2) {
          first = std::min(first, i);
          last = i + 1;
        }
      }
      const std::int64_t captureStart =
          heard.firstCapture -
          static_cast<std::int64_t>(heard.firstCaptureFrames * 1'000'000'000ull / 48000);
      if (first < last) {
        const auto at = [&](std::size_t frame) {
          return captureStart + static_cast<std::int64_t>(frame * 1'000'000'000ull / 48000);
        };
        heardStart.ms.push_back(Ms(at(first) - t.playCalled));
        heardNotice.ms.push_back(Ms(clock.received - at(last)));
        if (levels.firstLoud != 0) {
          heardLevel.ms.push_back(Ms(levels.firstLoud - at(first)));
        }
      }
    }
    engine.Stop(id);
    engine.Close(id);
    Spin(100);
  }

  std::printf("Latency over %d runs (%d failed):\n", runs, failures);
  Report(recordData);
  Report(recordStart);
  Report(playStart);
  Report(notice);
  Report(noticeNominal);
  Report(heardStart);
  Report(heardNotice);
  Report(heardLevel);
  std::printf("\nThe first take of a fresh engine, over %d runs:\n", runs);
  for (const Start start : {Start::Cold, Start::Warm, Start::KeptOpen}) {
    if (const int failed = FirstTakes(start, runs, templateWide); failed > 0) {
      std::printf("  (%d failed)\n", failed);
    }
  }

  if (longSeconds > 0) {
    // A steady 1 kHz tone from another process, recorded for longSeconds.
    const fs::path tone = dir / "tone.wav";
    WriteTone(tone, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 2, longSeconds + 3.0, 1000.0, 0.5);
    const int longRate = wide ? 192000 : 48000;
    const fs::path longTemplate = dir / "long-sample.wav";
    WriteTone(longTemplate, SF_FORMAT_WAV | (wide ? SF_FORMAT_FLOAT : SF_FORMAT_PCM_16), longRate,
              wide ? 8 : 1, 0.0, 0.0, 0.0);
    QProcess player;
    player.start(QStringLiteral("paplay"), {QString::fromStdString(tone.string())});
    player.waitForStarted(5000);
    Spin(500);
    DeviceId id = 0;
    engine.Open(platform::FromUtf8(longTemplate.string()), &id);
    ResetPeakMemory();
    const MemoryUse before = ReadMemoryUse();
    engine.Record(id, 0, nullptr);
    Spin(longSeconds * 1000);
    const std::int64_t stopCalled = Now();
    const ErrorCode stopped = engine.Stop(id);
    const auto t = engine.timings(id);
    const MemoryUse after = ReadMemoryUse();
    const fs::path take = dir / "long.wav";
    SaveContent(engine, id, take);
    engine.Close(id);
    player.kill();
    player.waitForFinished(5000);

    const auto rate = static_cast<std::uint64_t>(longRate);
    const std::int64_t heldNs =
        static_cast<std::int64_t>(t.firstCaptureFrames * 1'000'000'000ull / rate);
    const std::int64_t captureStart = t.firstCapture - heldNs;
    const double expected = static_cast<double>(stopCalled - captureStart) * longRate / 1e9;

    const std::vector<double> samples = ReadFirstChannel(take);
    // Rising zero crossings of a 1 kHz tone come every rate / 1000 frames; any other spacing
    // (past the first 100 ms) is a break: frames lost or repeated.
    const double period = longRate / 1000.0;
    int breaks = 0;
    double previous = -1.0;
    for (std::size_t i = rate / 10; i + 1 < samples.size(); ++i) {
      if (samples[i] < 0.0 && samples[i + 1] >= 0.0) {
        const double at = static_cast<double>(i) + samples[i] / (samples[i] - samples[i + 1]);
        if (previous >= 0.0 && std::abs(at - previous - period) > 0.5) {
          ++breaks;
        }
        previous = at;
      }
    }
    std::printf("\n%d s recording, %d Hz, %s (stop %s):\n", longSeconds, longRate,
                wide ? "8 channels 32-bit float" : "mono 16-bit",
                stopped == kNoError ? "ok" : qPrintable(engine.ErrorText(stopped)));
    std::printf("  frames captured   %llu\n", static_cast<unsigned long long>(t.capturedFrames));
    std::printf("  frames expected   %.0f (capture start to Stop)\n", expected);
    std::printf("  difference        %+.0f frames (%+.2f ms)\n",
                static_cast<double>(t.capturedFrames) - expected,
                (static_cast<double>(t.capturedFrames) - expected) * 1000.0 / longRate);
    std::printf("  frames in file    %zu\n", samples.size());
    std::printf("  breaks in tone    %d\n", breaks);
    std::printf("  capture callback  %llu calls, mean %.3f ms, worst %.3f ms\n",
                static_cast<unsigned long long>(t.captureCalls),
                t.captureCalls == 0 ? 0.0 : Ms(t.captureNs) / static_cast<double>(t.captureCalls),
                Ms(t.worstCaptureNs));
    std::printf("  resident memory   %.1f MiB more at Stop, %.1f MiB more at its peak\n",
                static_cast<double>(after.residentKiB - before.residentKiB) / 1024.0,
                static_cast<double>(after.peakKiB - before.residentKiB) / 1024.0);
  }
  fs::remove_all(dir);
  return 0;
}

}  // namespace
}  // namespace voxtar::audio

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  int runs = 20;
  int longSeconds = 60;
  bool wide = false;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--runs") {
      runs = std::atoi(argv[i + 1]);
    } else if (option == "--long") {
      longSeconds = std::atoi(argv[i + 1]);
    } else if (option == "--wide") {
      wide = std::atoi(argv[i + 1]) != 0;
    }
  }
  if (std::getenv("PULSE_SERVER") == nullptr) {
    std::fprintf(stderr, "run under tests/audio/with-pulseaudio.sh\n");
  }
  return voxtar::audio::Run(runs, longSeconds, wide);
}
