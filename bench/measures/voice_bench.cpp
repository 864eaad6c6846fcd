// SPDX-License-Identifier: GPL-3.0-or-later
// How well the take measures find real speech in a room. espeak-ng speaks English and Russian
// sentences (with comma pauses, endings on /s/, /f/ and plosives); each is cut to where its
// waveform first and last reaches 1 % of its peak (the truth), brought to 48 kHz, given a peak of
// -3 to -40 dBFS and laid into pink room noise of -40 dBFS RMS down to digital silence, with
// 0.8 s of room before the voice and 1.0 s after, whenever the peak is at least 30 dB above the
// room. Each take is written as a 48 kHz mono 16-bit WAV, measured and judged, and checked:
//   floor   the noise floor within 3 dB of the room (in digital silence: below -90 dBFS);
//   head    within 0.1 s of 0.8 s;      tail  within 0.2 s of 1.0 s;
//   silent  not called silent;          cut   neither cut-start nor cut-end ("course");
//   noisy   "acx" calls it noisy exactly when the room is above its -60 dBFS limit.
// The same sentences cut 150 ms into the voice at the start, and at the end, must be called
// cut-start and cut-end. Prints the takes with a wrong check, the errors as figures and how many
// checks were right (--all: every take). --trace NAME PEAK ROOM (say "en-six -20 -50") prints the
// detector's decision on each frame of one take instead. Needs espeak-ng; reports figures,
// asserts nothing.
// Run: build/<dir>/bench/measures/voice_bench [--all | --trace NAME PEAK ROOM]
#include <sndfile.h>
#include <soxr.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "measures/delivery_profile.h"
#include "measures/judgement.h"
#include "measures/take_measures.h"
#include "measures/voice_detector.h"
#include "platform/utf8.h"
#include "testing/synthetic_take.h"

extern char** environ;  // NOLINT(readability-identifier-naming): the C library's own name

namespace voxtar {
namespace {

namespace fs = std::filesystem;

constexpr int kRate = 48000;
constexpr double kHeadS = 0.8;
constexpr double kTailS = 1.0;
constexpr double kCutS = 0.15;
constexpr double kSilence = -std::numeric_limits<double>::infinity();

struct Sentence {
  const char* voice;
  const char* name;
  const char* text;
};
constexpr Sentence kSentences[] = {
    {"en-us", "en-salt", "Please pass the salt, and the glass."},
    {"en-us", "en-six", "The bus leaves at five, not at six."},
    {"en-us", "en-stop", "Turn left at the bridge, then stop."},
    {"en-us", "en-safe", "I think it is safe enough."},
    {"ru", "ru-sol", "Пожалуйста, передайте мне соль."},
    {"ru", "ru-gorod", "Мы поедем в город, если будет хорошая погода."},
    {"ru", "ru-kvas", "Он купил хлеб, молоко и квас."},
    {"ru", "ru-opasno", "Здесь нельзя курить, это опасно."},
};
constexpr double kRoomsDb[] = {kSilence, -75, -65, -55, -50, -45, -42, -40};
constexpr double kPeaksDb[] = {-3, -10, -20, -30, -40};

class ScratchDir {
 public:
  ScratchDir()
      : path_(fs::temp_directory_path() / ("voxtar-voice-bench-" + std::to_string(::getpid()))) {
    fs::create_directories(path_);
  }
  ~ScratchDir() { fs::remove_all(path_); }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

struct SndCloser {
  void operator()(SNDFILE* file) const { sf_close(file); }
};

// espeak-ng's voice for `sentence`, mono at its own rate.
std::vector<float> Speak(const Sentence& sentence, const fs::path& file, int* rate) {
  std::vector<std::string> args = {"espeak-ng", "-v",          sentence.voice,
                                   "-w",        file.string(), sentence.text};
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (std::string& arg : args) {
    argv.push_back(arg.data());
  }
  argv.push_back(nullptr);
  pid_t child = 0;
  int status = 0;
  if (::posix_spawnp(&child, "espeak-ng", nullptr, nullptr, argv.data(), environ) != 0 ||
      ::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw std::runtime_error("espeak-ng could not speak (is it installed?)");
  }
  SF_INFO info{};
  const std::unique_ptr<SNDFILE, SndCloser> sound(sf_open(file.c_str(), SFM_READ, &info));
  if (!sound || info.channels != 1) {
    throw std::runtime_error("espeak-ng wrote no mono sound file");
  }
  std::vector<float> samples(static_cast<std::size_t>(info.frames));
  samples.resize(static_cast<std::size_t>(
      std::max<sf_count_t>(0, sf_readf_float(sound.get(), samples.data(), info.frames))));
  *rate = info.samplerate;
  return samples;
}

// The voice from where its waveform first reaches 1 % of its peak to where it last does.
std::vector<float> Voice(const std::vector<float>& samples) {
  float peak = 0.0f;
  for (const float sample : samples) {
    peak = std::max(peak, std::fabs(sample));
  }
  const auto loud = [peak](float sample) { return std::fabs(sample) >= 0.01f * peak; };
  const auto first = std::find_if(samples.begin(), samples.end(), loud);
  const auto last = std::find_if(samples.rbegin(), samples.rend(), loud).base();
  return first < last ? std::vector<float>(first, last) : std::vector<float>{};
}

std::vector<float> To48k(const std::vector<float>& samples, int rate) {
  std::vector<float> out(samples.size() * kRate / static_cast<std::size_t>(rate) + 64);
  std::size_t done = 0;
  const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
  if (soxr_oneshot(rate, kRate, 1, samples.data(), samples.size(), nullptr, out.data(), out.size(),
                   &done, &io, &quality, nullptr) != nullptr) {
    throw std::runtime_error("the voice could not be resampled");
  }
  out.resize(done);
  return out;
}

// The voice at `peakDb` in a room of `roomDb` RMS, with the room before and after it.
std::vector<float> Take(const std::vector<float>& voice, double peakDb, double roomDb,
                        std::uint32_t seed) {
  const auto head = static_cast<std::size_t>(kHeadS * kRate);
  const auto tail = static_cast<std::size_t>(kTailS * kRate);
  const std::size_t frames = head + voice.size() + tail;
  std::vector<double> room =
      roomDb == kSilence ? std::vector<double>(frames) : audio::PinkRoom(frames, roomDb, seed);
  float peak = 0.0f;
  for (const float sample : voice) {
    peak = std::max(peak, std::fabs(sample));
  }
  const double gain = std::pow(10.0, peakDb / 20.0) / static_cast<double>(peak);
  for (std::size_t n = 0; n < voice.size(); ++n) {
    room[head + n] += gain * static_cast<double>(voice[n]);
  }
  return {room.begin(), room.end()};
}

bool Write(const std::vector<float>& samples, const fs::path& file) {
  SF_INFO info{};
  info.samplerate = kRate;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  const std::unique_ptr<SNDFILE, SndCloser> sound(sf_open(file.c_str(), SFM_WRITE, &info));
  return sound &&
         sf_writef_float(sound.get(), samples.data(), static_cast<sf_count_t>(samples.size())) ==
             static_cast<sf_count_t>(samples.size());
}

std::string Db(double value) {
  if (value == kSilence) {
    return "silence";
  }
  char text[16];
  std::snprintf(text, sizeof text, "%.0f", value);
  return text;
}

struct Tally {
  int checks = 0;
  int right = 0;
  std::vector<double> floorErrors;  // dB, signed
  std::vector<double> headErrors;   // s, signed (measured - truth)
  std::vector<double> tailErrors;
  int wrongFloor = 0, wrongHead = 0, wrongTail = 0, silent = 0, cut = 0, noisy = 0, missedCut = 0;
  int takes = 0;
  int nullFloors = 0;  // in a room, where the floor is known

  bool Count(bool ok, int* wrong) {
    ++checks;
    right += ok ? 1 : 0;
    *wrong += ok ? 0 : 1;
    return ok;
  }
};

double Percentile(std::vector<double> values, double fraction, bool absolute) {
  if (values.empty()) {
    return 0.0;
  }
  if (absolute) {
    for (double& value : values) {
      value = std::fabs(value);
    }
  }
  std::sort(values.begin(), values.end());
  return values[static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1))];
}

std::optional<measures::TakeMeasures> MeasureFile(const fs::path& file) {
  measures::TakeMeasures take;
  std::string error;
  if (!measures::MeasureTakeFile(platform::FromUtf8(file.string()), &take, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return std::nullopt;
  }
  return take;
}

// Prints the detector's decision on every frame of the take, primed as the take measures prime
// it: the time, the frame's level and high band (dBFS), their floors, and whether it is
// voice-like (a) and loud (L); with the onsets and ends where they are decided.
void Trace(const std::vector<float>& samples) {
  measures::VoiceDetector detector(kRate, 1);
  measures::VoiceFrameAnalyzer analyzer(kRate, 1);
  std::vector<measures::VoiceFrameLevels> frames;
  analyzer.Feed(samples, &frames);
  detector.PrimeFloor(frames);
  for (const measures::VoiceFrameLevels& frame : frames) {
    for (const measures::VoiceEvent& event : detector.Push(frame)) {
      std::printf("%s at %.3f\n", event.kind == measures::VoiceEvent::Kind::Onset ? "onset" : "end",
                  static_cast<double>(event.at) / kRate);
    }
    const measures::VoiceDecision& d = detector.decisions().front();
    std::printf("%.2f %6.1f %6.1f  floor %6.1f %6.1f %s%s\n", static_cast<double>(d.first) / kRate,
                10 * std::log10(frame.acEnergy + 1e-30), 10 * std::log10(frame.highEnergy + 1e-30),
                d.floorDb.value_or(0), d.highFloorDb.value_or(0), d.active ? "a" : "-",
                d.loud ? "L" : "");
  }
}

int Main(int argc, char** argv) {
  const bool all = argc > 1 && std::string(argv[1]) == "--all";
  // --trace NAME PEAK ROOM
  const bool trace = argc > 4 && std::string(argv[1]) == "--trace";
  const ScratchDir dir;
  const fs::path file = dir.path() / "take.wav";
  const measures::DeliveryProfile course = *measures::BuiltInProfile("course");
  const measures::DeliveryProfile acx = *measures::BuiltInProfile("acx");
  Tally tally;
  std::uint32_t seed = 1;
  for (const Sentence& sentence : kSentences) {
    int rate = 0;
    const std::vector<float> spoken = Speak(sentence, dir.path() / "spoken.wav", &rate);
    const std::vector<float> voice = To48k(Voice(spoken), rate);
    for (const double roomDb : kRoomsDb) {
      for (const double peakDb : kPeaksDb) {
        if (roomDb != kSilence && peakDb - roomDb < 30.0) {
          continue;
        }
        const std::vector<float> samples = Take(voice, peakDb, roomDb, ++seed);
        if (trace) {
          if (sentence.name == std::string(argv[2]) && Db(peakDb) == argv[3] &&
              Db(roomDb) == argv[4]) {
            Trace(samples);
            return 0;
          }
          continue;
        }
        if (!Write(samples, file)) {
          std::fprintf(stderr, "cannot write %s\n", file.c_str());
          return 1;
        }
        const std::optional<measures::TakeMeasures> take = MeasureFile(file);
        if (!take) {
          return 1;
        }
        ++tally.takes;
        const measures::Judgement judged = measures::Judge(*take, course, {});
        const measures::Judgement strict = measures::Judge(*take, acx, {});
        std::string wrong;
        const auto check = [&](bool ok, int* counter, const std::string& what) {
          if (!tally.Count(ok, counter)) {
            wrong += " " + what;
          }
        };
        if (roomDb == kSilence) {
          check(take->noiseFloorDb && *take->noiseFloorDb < -90.0, &tally.wrongFloor, "floor");
        } else {
          if (take->noiseFloorDb) {
            tally.floorErrors.push_back(*take->noiseFloorDb - roomDb);
          } else {
            ++tally.nullFloors;
          }
          check(take->noiseFloorDb && std::fabs(*take->noiseFloorDb - roomDb) <= 3.0,
                &tally.wrongFloor, "floor");
        }
        const double headError = take->headMs / 1000.0 - kHeadS;
        const double tailError = take->tailMs / 1000.0 - kTailS;
        tally.headErrors.push_back(headError);
        tally.tailErrors.push_back(tailError);
        check(std::fabs(headError) <= 0.1, &tally.wrongHead, "head");
        check(std::fabs(tailError) <= 0.2, &tally.wrongTail, "tail");
        check(!judged.Has(measures::Problem::Silent), &tally.silent, "silent");
        check(!judged.Has(measures::Problem::CutStart) && !judged.Has(measures::Problem::CutEnd),
              &tally.cut, "cut");
        check(strict.Has(measures::Problem::Noisy) == (roomDb > -60.0), &tally.noisy, "noisy");
        if (all || !wrong.empty()) {
          std::printf("%-10s peak %4s room %7s: floor %6s head %+.2f tail %+.2f  %s%s%s\n",
                      sentence.name, Db(peakDb).c_str(), Db(roomDb).c_str(),
                      take->noiseFloorDb ? Db(*take->noiseFloorDb).c_str() : "null", headError,
                      tailError, judged.summary.c_str(),
                      wrong.empty() ? "" : "  WRONG:", wrong.c_str());
        }
      }
    }
    // Cut 150 ms into the voice at either end, at -20 dBFS in a room 40 dB below it.
    for (const bool atStart : {true, false}) {
      const std::vector<float> whole = Take(voice, -20.0, -60.0, ++seed);
      const auto cut = static_cast<std::ptrdiff_t>((kHeadS + kCutS) * kRate);
      const auto end = static_cast<std::ptrdiff_t>(whole.size()) -
                       static_cast<std::ptrdiff_t>((kTailS + kCutS) * kRate);
      const std::vector<float> samples =
          atStart ? std::vector<float>(whole.begin() + cut, whole.end())
                  : std::vector<float>(whole.begin(), whole.begin() + end);
      if (!Write(samples, file)) {
        return 1;
      }
      const std::optional<measures::TakeMeasures> take = MeasureFile(file);
      if (!take) {
        return 1;
      }
      ++tally.takes;
      const measures::Judgement judged = measures::Judge(*take, course, {});
      const bool ok =
          judged.Has(atStart ? measures::Problem::CutStart : measures::Problem::CutEnd) &&
          !judged.Has(measures::Problem::Silent);
      tally.Count(ok, &tally.missedCut);
      if (all || !ok) {
        std::printf("%-10s cut at the %s: %s%s\n", sentence.name, atStart ? "start" : "end",
                    judged.summary.c_str(), ok ? "" : "  WRONG");
      }
    }
  }
  std::printf(
      "\n%d takes, %d of %d checks right\n"
      "noise floor error: median %.1f dB, worst %.1f dB, unknown in %d takes (%d wrong)\n"
      "head error: median %.3f s, worst %.3f s (%d wrong)\n"
      "tail error: median %.3f s, worst %.3f s (%d wrong)\n"
      "called silent: %d; intact called cut: %d; noisy wrong: %d; cut missed: %d\n",
      tally.takes, tally.right, tally.checks, Percentile(tally.floorErrors, 0.5, true),
      Percentile(tally.floorErrors, 1.0, true), tally.nullFloors, tally.wrongFloor,
      Percentile(tally.headErrors, 0.5, true), Percentile(tally.headErrors, 1.0, true),
      tally.wrongHead, Percentile(tally.tailErrors, 0.5, true),
      Percentile(tally.tailErrors, 1.0, true), tally.wrongTail, tally.silent, tally.cut,
      tally.noisy, tally.missedCut);
  return 0;
}

}  // namespace
}  // namespace voxtar

int main(int argc, char** argv) {
  try {
    return voxtar::Main(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "voice_bench: %s\n", error.what());
    return 1;
  }
}
