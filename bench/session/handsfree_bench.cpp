// SPDX-License-Identifier: GPL-3.0-or-later
// The hands-free sitting on a corpus it makes: sittings of 40 prompts each in five rooms (digital
// silence, pink noise at -70, -60, -50 and -45 dBFS), read by a made-up speaker on the simulated
// engine, its clock advanced in 10 ms blocks as a real input delivers them (no real waiting).
// Each reading has 4 to 16 syllables, a pause of 0 to 1.2 s halfway, and ends on /s/, on a
// weaker, lower /f/, or on a plosive (a closure, then its burst). Reported, never asserted:
//   - the time from the end of the voice (the reading's last sample) to the end of its take,
//     against the end-silence + 150 ms; readings the sitting still took as incomplete (voice
//     short of the expected) wait longer by design, and are counted apart;
//   - false cuts: a take that ends before the reading's last phoneme, or a reading split in two;
//   - takes that never end (none 5 s after the reading), per room;
//   - the live detector's CPU: one core's share to follow a 48 kHz mono input in 10 ms blocks.
// Run a Release build (it needs no display):
//   build/<dir>/bench/session/handsfree_bench [--readings 40] [--end-silence 800]
#include <unistd.h>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "audio/failure_reporter.h"
#include "audio/wave_element.h"
#include "measures/voice_detector.h"
#include "platform/utf8.h"
#include "session/handsfree_policy.h"
#include "session/operator.h"
#include "session/session.h"
#include "testing/simulated_audio_engine.h"
#include "testing/synthetic_take.h"

namespace voxtar {
namespace {

namespace fs = std::filesystem;

constexpr int kRate = 48000;

class PrintFailure final : public audio::FailureReporter {
 public:
  void ReportFailure(const QString& text, const QString& caption) override {
    std::fprintf(stderr, "%s: %s\n", qPrintable(caption), qPrintable(text));
  }
};

// Answers nothing; the prompt's own text is what it "has typed".
class Reader final : public session::Operator {
 public:
  std::u16string TypedText() const override {
    const lesson::PromptEntry* entry = lesson != nullptr ? lesson->current() : nullptr;
    return entry != nullptr ? std::u16string(entry->text) : std::u16string();
  }
  HeldLesson AskAboutHeldLesson(const std::u16string&, const platform::LockFile::Holder&,
                                bool) override {
    return HeldLesson::Cancel;
  }
  bool ConfirmTakeOver(const std::string&) override { return false; }
  void TellViewingOnly(const fs::path&, const fs::path&) override {}
  void TellLinesBeyondLimits(const std::u16string&, const lesson::OverlongLine&, int) override {}
  bool AskToOverwriteChangedIndex(const std::u16string&, const std::string&) override {
    return false;
  }
  FailedWrite AskAfterFailedWrite(const std::u16string&, const std::string&, bool) override {
    return FailedWrite::Cancel;
  }
  void TellNotLoaded(lesson::LoadResult, std::u16string_view, const std::u16string&) override {}
  void TellIndexNotWritten(const std::u16string&) override {}
  void TellProfileUnreadable(const std::string&) override {}
  UnsavedTake AskAboutUnsavedTake(const std::u16string&, const std::string&) override {
    return UnsavedTake::Discard;
  }
  void TellTakeFilledItsFile(const std::u16string&) override {}
  void TellNoCurrentPrompt() override {}
  const lesson::Lesson* lesson = nullptr;
};

enum class Ending { S, F, Plosive };

// A reading of `syllables` ending as asked, peak `gain`.
std::vector<double> MakeReading(std::uint32_t seed, int syllables, double pauseS, Ending ending,
                                double gain) {
  std::vector<double> voice = audio::SpokenSentence(kRate, seed, pauseS, syllables);
  std::uint32_t state = seed;
  const auto white = [&state] {
    state = state * 1664525u + 1013904223u;
    return static_cast<double>(state >> 8) / static_cast<double>(1u << 23) - 1.0;
  };
  if (ending == Ending::F) {
    // A weak broadband fricative, 30 dB below the peak, that fades out.
    const auto count = static_cast<std::size_t>(0.15 * kRate);
    double last = 0.0;
    for (std::size_t n = 0; n < count; ++n) {
      const double fade = 1.0 - static_cast<double>(n) / static_cast<double>(count);
      const double noise = white();
      voice.push_back(0.03 * fade * (noise - 0.5 * last));
      last = noise;
    }
  } else if (ending == Ending::Plosive) {
    voice.resize(voice.size() + static_cast<std::size_t>(0.08 * kRate), 0.0);  // the closure
    const auto count = static_cast<std::size_t>(0.015 * kRate);
    for (std::size_t n = 0; n < count; ++n) {
      voice.push_back(0.3 * (1.0 - static_cast<double>(n) / static_cast<double>(count)) * white());
    }
  }
  for (double& sample : voice) {
    sample *= gain;
  }
  return voice;
}

struct Figures {
  // From the end of the voice to the end of its take: within the end-silence + 150 ms, waited
  // out as a reading still short of its expected length, or neither.
  std::vector<double> endLatencyMs;
  std::vector<double> incompleteLatencyMs;
  std::vector<double> lateMs;
  int falseCuts = 0;
  int neverEnded = 0;
  int readings = 0;
};

// One sitting of `count` readings in a room of `roomDb` (none: digital silence).
void Sit(std::optional<double> roomDb, int count, std::uint32_t endSilenceMs, Figures* figures) {
  const fs::path dir =
      fs::temp_directory_path() / ("voxtar-handsfree-bench-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir / "Prompt/unit");
  fs::create_directories(dir / "Ini");
  fs::current_path(dir);
  std::string error;
  audio::WriteWaveFile(audio::MakeElement(0x010002, kRate, 1, kRate),
                       platform::FromUtf8((dir / "sample.wav").string()), &error);

  // The corpus of this sitting.
  struct Planned {
    std::vector<double> voice;
    std::u16string text;
  };
  std::vector<Planned> planned;
  std::u16string index;
  for (int n = 0; n < count; ++n) {
    const int syllables = 4 + (n * 7) % 13;
    const double pause = 0.3 * ((n * 3) % 5);
    const auto ending = static_cast<Ending>(n % 3);
    const double gain = std::pow(10.0, -(6.0 + (n * 5) % 15) / 20.0);
    Planned reading{MakeReading(static_cast<std::uint32_t>(n + 1), syllables, pause, ending, gain),
                    {}};
    for (int s = 0; s < syllables; ++s) {
      reading.text += s == 0 ? u"La" : (s == syllables / 2 ? u", la" : u" la");
    }
    char16_t name[16];
    for (int i = 0; i < 8; ++i) {
      name[i] = u"a000.wav"[i];
    }
    name[1] = static_cast<char16_t>(u'0' + (n + 1) / 100);
    name[2] = static_cast<char16_t>(u'0' + (n + 1) / 10 % 10);
    name[3] = static_cast<char16_t>(u'0' + (n + 1) % 10);
    index += std::u16string(name, 8) + u" " + reading.text + u"\r\n";
    planned.push_back(std::move(reading));
  }
  {
    std::string bytes = "\xFF\xFE";  // UTF-16LE, as an index is written
    for (const char16_t c : index) {
      bytes += static_cast<char>(c & 0xff);
      bytes += static_cast<char>(c >> 8);
    }
    std::FILE* file = std::fopen((dir / "Ini/unit.idx").c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
  }

  const std::vector<double> room =
      roomDb ? audio::PinkRoom(static_cast<std::size_t>(kRate) * 30, *roomDb)
             : std::vector<double>(static_cast<std::size_t>(kRate), 0.0);
  const std::vector<double>* voice = nullptr;
  std::int64_t voiceAt = 0;  // frame of the clock
  audio::SimulatedAudioEngine engine;
  engine.SetInputSignal([&](double seconds) {
    const auto n = static_cast<std::int64_t>(std::floor(seconds * kRate));
    double value = room[static_cast<std::size_t>(n) % room.size()];
    if (voice != nullptr && n >= voiceAt &&
        n - voiceAt < static_cast<std::int64_t>(voice->size())) {
      value += (*voice)[static_cast<std::size_t>(n - voiceAt)];
    }
    return value;
  });
  PrintFailure failures;
  Reader reader;
  session::Session session(engine, failures, reader, {},
                           std::make_unique<session::HandsFreePolicy>());
  reader.lesson = &session.lesson();
  session::SessionSettings settings = session.settings();
  settings.endSilenceMs = endSilenceMs;
  session.SetSettings(settings);
  std::vector<std::uint64_t> takeEnds;  // clock ms
  QObject::connect(&session, &session::Session::takeEnded,
                   [&] { takeEnds.push_back(engine.nowMs()); });
  const auto settle = [&] {
    QCoreApplication::sendPostedEvents();
    if (!QTest::qWaitFor([&] { return !session.saving(); }, 10000)) {
      std::fprintf(stderr, "a take's save never ended\n");
    }
  };
  const auto run = [&](int ms) {
    for (; ms > 0; ms -= 10) {
      engine.Advance(10);
      settle();
    }
  };
  session.Submit(session::CommandKind::Lesson,
                 [&] { session.Load(platform::FromUtf8((dir / "Ini/unit.idx").string())); });
  session.Submit(session::CommandKind::Record, [&] { session.Record(); });
  run(2000);  // the room is heard first

  for (int n = 0; n < count && session.sitting().phase == session::SittingState::Phase::Listening;
       ++n) {
    const Planned& reading = planned[static_cast<std::size_t>(n)];
    ++figures->readings;
    const std::size_t before = takeEnds.size();
    voice = &reading.voice;
    voiceAt = static_cast<std::int64_t>(engine.nowMs() + 500) * kRate / 1000;
    const double voiceEndMs =
        static_cast<double>(voiceAt + static_cast<std::int64_t>(reading.voice.size())) * 1000.0 /
        kRate;
    // Until its take ended and the sitting listens again, or 5 s after the reading.
    while (static_cast<double>(engine.nowMs()) < voiceEndMs + 5000.0 &&
           !(takeEnds.size() > before &&
             session.sitting().phase != session::SittingState::Phase::Recording &&
             session.sitting().phase != session::SittingState::Phase::Ending)) {
      run(10);
    }
    voice = nullptr;
    if (takeEnds.size() == before) {
      ++figures->neverEnded;
      session.Submit(session::CommandKind::Record, [&] { session.Record(); });  // ends the sitting
      break;
    }
    const double endMs = static_cast<double>(takeEnds[before]);
    if (takeEnds.size() > before + 1 || endMs < voiceEndMs) {
      ++figures->falseCuts;
    }
    // The sitting waits either the end-silence or, for a reading short of its expected length,
    // kIncompleteWaitMs: the time tells which it took.
    const double latency = endMs - voiceEndMs;
    const double longWait = std::max(endSilenceMs, session::HandsFreePolicy::kIncompleteWaitMs);
    if (latency <= endSilenceMs + 150.0) {
      figures->endLatencyMs.push_back(latency);
    } else if (latency >= longWait - 150.0 && latency <= longWait + 150.0) {
      figures->incompleteLatencyMs.push_back(latency);
    } else {
      figures->lateMs.push_back(latency);
    }
    run(300);
  }
  fs::current_path(fs::temp_directory_path());
  fs::remove_all(dir);
}

void Percentiles(const char* what, std::vector<double> values) {
  if (values.empty()) {
    std::printf("  %-44s none\n", what);
    return;
  }
  std::sort(values.begin(), values.end());
  const auto at = [&](double share) {
    return values[std::min(values.size() - 1,
                           static_cast<std::size_t>(share * static_cast<double>(values.size())))];
  };
  std::printf("  %-44s median %6.0f ms   p95 %6.0f ms   max %6.0f ms   (%zu)\n", what, at(0.5),
              at(0.95), values.back(), values.size());
}

// The detector's CPU over `seconds` of a room with readings in it, fed in 10 ms blocks of 16-bit
// samples as a 48 kHz mono input delivers them.
double DetectorCpuShare(double seconds) {
  const auto frames = static_cast<std::size_t>(seconds * kRate);
  std::vector<double> signal = audio::PinkRoom(frames, -55.0);
  for (std::size_t at = kRate, n = 0; at < frames; ++n) {
    const std::vector<double> voice =
        MakeReading(static_cast<std::uint32_t>(n + 100), 10, 0.5, Ending::S, 0.3);
    for (std::size_t i = 0; i < voice.size() && at + i < frames; ++i) {
      signal[at + i] += voice[i];
    }
    at += voice.size() + kRate;
  }
  std::vector<std::byte> bytes(frames * 2);
  for (std::size_t n = 0; n < frames; ++n) {
    audio::EncodeSample(audio::SampleKind::Int16, signal[n], &bytes[n * 2]);
  }
  measures::VoiceDetector detector(kRate, 1);
  const std::clock_t start = std::clock();
  constexpr std::size_t kBlock = std::size_t{480} * 2;
  for (std::size_t at = 0; at < bytes.size(); at += kBlock) {
    detector.Feed(std::span(bytes).subspan(at, std::min(kBlock, bytes.size() - at)),
                  audio::SampleKind::Int16);
  }
  const double cpu = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
  return cpu / seconds;
}

}  // namespace
}  // namespace voxtar

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCommandLineParser parser;
  parser.addOption({QStringLiteral("readings"), QStringLiteral("Readings per room."),
                    QStringLiteral("n"), QStringLiteral("40")});
  parser.addOption({QStringLiteral("end-silence"), QStringLiteral("End-silence in ms."),
                    QStringLiteral("ms"), QStringLiteral("800")});
  parser.process(app);
  const int readings = parser.value(QStringLiteral("readings")).toInt();
  const auto endSilence = parser.value(QStringLiteral("end-silence")).toUInt();

  using voxtar::Figures;
  Figures all;
  std::printf("hands-free sitting, end-silence %u ms, %d readings per room\n", endSilence,
              readings);
  const std::optional<double> rooms[] = {std::nullopt, -70.0, -60.0, -50.0, -45.0};
  for (const std::optional<double>& room : rooms) {
    Figures figures;
    voxtar::Sit(room, readings, endSilence, &figures);
    std::printf(" room %s: %d readings, %d false cuts, %d never ended\n",
                room ? qPrintable(QStringLiteral("%1 dBFS").arg(*room)) : "silent",
                figures.readings, figures.falseCuts, figures.neverEnded);
    voxtar::Percentiles("  end of voice -> end of take", figures.endLatencyMs);
    voxtar::Percentiles("  the same, readings still short of expected",
                        figures.incompleteLatencyMs);
    voxtar::Percentiles("  the same, neither (over target)", figures.lateMs);
    all.readings += figures.readings;
    all.falseCuts += figures.falseCuts;
    all.neverEnded += figures.neverEnded;
    all.endLatencyMs.insert(all.endLatencyMs.end(), figures.endLatencyMs.begin(),
                            figures.endLatencyMs.end());
    all.incompleteLatencyMs.insert(all.incompleteLatencyMs.end(),
                                   figures.incompleteLatencyMs.begin(),
                                   figures.incompleteLatencyMs.end());
    all.lateMs.insert(all.lateMs.end(), figures.lateMs.begin(), figures.lateMs.end());
  }
  std::printf("all rooms: %d readings, %d false cuts, %d never ended\n", all.readings,
              all.falseCuts, all.neverEnded);
  voxtar::Percentiles("end of voice -> end of take (target <= end-silence + 150)",
                      all.endLatencyMs);
  voxtar::Percentiles("readings still short of expected (wait longer)", all.incompleteLatencyMs);
  voxtar::Percentiles("neither (over target)", all.lateMs);
  std::printf("live detector CPU: %.3f %% of a core (48 kHz mono, 10 ms blocks)\n",
              100.0 * voxtar::DetectorCpuShare(120.0));
  return 0;
}
