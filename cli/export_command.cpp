// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/export_command.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <iostream>
#include <optional>
#include <set>
#include <string_view>
#include <thread>
#include <utility>

#include "cli/command_line.h"
#include "cli/command_support.h"
#include "cli/judging_meter.h"
#include "cli/usage_text.h"
#include "export/export_directory.h"
#include "export/ordered_work.h"
#include "export/take_chain.h"
#include "export/take_list.h"
#include "export/take_selection.h"
#include "lesson/lesson.h"
#include "lesson/lesson_paths.h"
#include "lesson/working_directory.h"
#include "measures/delivery_profile.h"
#include "measures/lesson_judging.h"
#include "measures/measure_cache.h"
#include "measures/take_measures.h"
#include "platform/file_system.h"

namespace voxtar::cli {

namespace {

namespace fs = std::filesystem;
using exporting::ChainResult;
using exporting::ChainSettings;
using exporting::kLists;
using exporting::ListKind;
using exporting::ListWriter;
using exporting::MadeFile;
using exporting::RateAndChannels;
using exporting::SelectedTake;

// Kept room around the voice when --trim is asked of a profile that names none: enough for a
// take to start and end cleanly, and never less than the profile accepts.
constexpr double kDefaultKeepS = 0.2;

// Full-scale sine is -3 LUFS; below -70 LUFS everything is gated away.
constexpr double kLoudestTarget = 0.0;
constexpr double kQuietestTarget = -70.0;
constexpr int kLowestRate = 1000;
constexpr int kHighestRate = 768000;

struct Options {
  std::string to;
  const ListKind* list = &kLists[0];
  std::optional<int> rate;
  std::optional<int> channels;
  exporting::SampleBits bits = exporting::SampleBits::Int16;
  std::optional<double> loudness;
  bool trim = false;
  bool includeFlagged = false;
  std::string profile;
  std::vector<std::string> indexes;
};

constexpr std::string_view kValued[] = {"--to",       "--format",   "--rate",   "--bits",
                                        "--channels", "--loudness", "--profile"};

// Sets the option `name` from `value`; the usage error's text when the value does not do.
std::optional<std::string> SetOption(Options& options, std::string_view name,
                                     const std::string& value) {
  const std::string quoted = " not '" + Printable(value) + "'";
  if (name == "--to") {
    if (value.empty() || !platform::IsValidUtf8(value)) {
      return "--to needs a DIR, a name in UTF-8";
    }
    options.to = value;
  } else if (name == "--format") {
    const auto* kind = std::find_if(std::begin(kLists), std::end(kLists),
                                    [&](const ListKind& list) { return list.name == value; });
    if (kind == std::end(kLists)) {
      return "--format is ljspeech, csv or json," + quoted;
    }
    options.list = kind;
  } else if (name == "--rate") {
    options.rate = Number(value, kLowestRate);
    if (!options.rate || *options.rate > kHighestRate) {
      return "--rate is a rate in Hz from 1000 to 768000," + quoted;
    }
  } else if (name == "--bits") {
    const std::optional<exporting::SampleBits> bits = exporting::BitsFromName(value);
    if (!bits) {
      return "--bits is 16, 24 or 32f," + quoted;
    }
    options.bits = *bits;
  } else if (name == "--channels") {
    options.channels = Number(value, 1);
    if (!options.channels || *options.channels > 2) {
      return "--channels is 1 or 2," + quoted;
    }
  } else if (name == "--loudness") {
    double lufs = 0.0;
    const auto [end, failure] = std::from_chars(value.data(), value.data() + value.size(), lufs);
    if (value.empty() || failure != std::errc() || end != value.data() + value.size() ||
        !(lufs >= kQuietestTarget && lufs <= kLoudestTarget)) {
      return "--loudness is a loudness in LUFS from -70 to 0," + quoted;
    }
    options.loudness = lufs;
  } else if (value.empty()) {
    return "--profile needs a NAME or FILE";
  } else {
    options.profile = value;
  }
  return std::nullopt;
}

// Parses the options; a usage error is reported and returned as its exit status.
std::optional<int> Parse(const std::vector<std::string>& args, Options& options, std::ostream& out,
                         std::ostream& err) {
  CommandLine line;
  line.Flag("--trim", &options.trim);
  line.Flag("--include-flagged", &options.includeFlagged);
  std::optional<std::string> values[std::size(kValued)];
  for (std::size_t i = 0; i < std::size(kValued); ++i) {
    line.Valued(std::string(kValued[i]), &values[i],
                kValued[i] == "--profile" ? "NAME or FILE" : "value");
  }
  if (const std::optional<int> status = line.Parse(args, &options.indexes, out, err)) {
    return status;
  }
  for (std::size_t i = 0; i < std::size(kValued); ++i) {
    if (!values[i]) {
      continue;
    }
    if (const std::optional<std::string> problem = SetOption(options, kValued[i], *values[i])) {
      return UsageError(err, *problem);
    }
  }
  if (options.to.empty()) {
    return UsageError(err, "export needs --to DIR, the directory to export into");
  }
  if (options.indexes.empty()) {
    return UsageError(err, "export needs at least one INDEX");
  }
  return std::nullopt;
}

fs::path RealPath(std::u16string_view path) {
  std::error_code failure;
  fs::path real = fs::weakly_canonical(platform::ResolvePath(path), failure);
  if (!real.empty() && real.filename().empty()) {
    real = real.parent_path();  // a trailing separator
  }
  return failure ? fs::path() : real;
}

// The first INDEX whose working directory holds `directory` (or is it).
std::optional<std::string> IndexWorkingIn(const std::u16string& directory,
                                          const std::vector<std::string>& indexes) {
  const fs::path target = RealPath(directory);
  for (const std::string& index : indexes) {
    if (!platform::IsValidUtf8(index)) {
      continue;  // it does not load
    }
    const fs::path working = RealPath(lesson::LocateLesson(AbsolutePath(index)).workingDirectory);
    if (!working.empty() && !target.empty() &&
        std::mismatch(working.begin(), working.end(), target.begin(), target.end()).first ==
            working.end()) {
      return index;
    }
  }
  return std::nullopt;
}

// Room kept around the voice by --trim: the profile's, else kDefaultKeepS or the least the
// profile accepts, whichever is more.
double KeptRoom(const std::optional<double>& exportKeep, const std::optional<double>& least) {
  return exportKeep ? std::max(*exportKeep, 0.0) : std::max(kDefaultKeepS, least.value_or(0.0));
}

ChainSettings SettingsFor(const Options& options, const measures::DeliveryProfile& profile) {
  ChainSettings settings;
  settings.sampleRate = options.rate;
  settings.channels = options.channels;
  settings.bits = options.bits;
  if (options.trim) {
    settings.keepHeadS = KeptRoom(profile.exportTrimHeadS, profile.minHeadS);
    settings.keepTailS = KeptRoom(profile.exportTrimTailS, profile.minTailS);
  }
  settings.loudnessLufs = options.loudness ? options.loudness : profile.exportLoudnessLufs;
  settings.truePeakLimitDbtp = profile.exportTruePeakDbtp;
  settings.peakLimitDb = profile.exportPeakDb;
  return settings;
}

// The format of the lesson's takes: its template recording's, in its working directory. Unset
// without one; unset with *error when it cannot be read.
std::optional<measures::TakeFormat> LessonFormat(const lesson::Lesson& lesson, std::string* error) {
  const std::u16string path =
      lesson.paths.workingDirectory + std::u16string(lesson::workdir::kTemplateRecording);
  if (!measures::StampOf(path)) {
    return std::nullopt;
  }
  return exporting::SoundFileFormat(path, error);
}

// The chain of one take: the lesson's, and where the take has another rate or other channels
// than the lesson's format, converted to them (unless --rate or --channels say otherwise), so that
// what goes out is uniform; *convertedFrom is then the take's own format.
ChainSettings TakeSettings(ChainSettings settings,
                           const std::optional<measures::TakeFormat>& lessonFormat,
                           const measures::TakeFormat& own,
                           std::optional<measures::TakeFormat>* convertedFrom) {
  convertedFrom->reset();
  if (!lessonFormat ||
      (own.sampleRate == lessonFormat->sampleRate && own.channels == lessonFormat->channels)) {
    return settings;
  }
  if (!settings.sampleRate && own.sampleRate != lessonFormat->sampleRate) {
    settings.sampleRate = lessonFormat->sampleRate;
  }
  if (!settings.channels && own.channels != lessonFormat->channels) {
    settings.channels = lessonFormat->channels;
  }
  *convertedFrom = own;
  return settings;
}

// "exporting 12 of 340" on standard error while a lesson goes out, when that is a terminal.
class Progress {
 public:
  explicit Progress(std::ostream& err)
      : err_(err), shown_(&err == &std::cerr && ::isatty(STDERR_FILENO) == 1) {}
  void Show(std::size_t done, std::size_t total) {
    if (shown_) {
      err_ << "\rexporting " << done << " of " << total << std::flush;
      drawn_ = true;
    }
  }
  // Before any other line, so that it does not run into the progress.
  void Clear() {
    if (drawn_) {
      err_ << "\r\x1b[K" << std::flush;
      drawn_ = false;
    }
  }

 private:
  std::ostream& err_;
  bool shown_;
  bool drawn_ = false;
};

std::string Signed(double value) {
  return (value >= 0 ? "+" : "") + text::Fixed(value, 1);
}

// "INDEX: PROMPT -> wavs/NAME.wav: 2.61 s, -23.0 LUFS, gain +3.1 dB[, converted from ...][, held
// back by ...][, flagged: ...]".
std::string WrittenLine(const std::string& index, const SelectedTake& take,
                        const ChainResult& result, const ChainSettings& settings,
                        const std::optional<measures::TakeFormat>& convertedFrom) {
  std::string line = Printable(index) + ": " + Printable(take.prompt) + " -> " +
                     Printable(exporting::ExportDirectory::ListedName(take.name)) + ": " +
                     text::Fixed(result.seconds(), 2) + " s, " +
                     (result.loudnessLufs ? text::Fixed(*result.loudnessLufs, 1) + " LUFS"
                                          : std::string("loudness unknown")) +
                     ", gain " + Signed(result.gainDb) + " dB";
  if (convertedFrom) {
    line += ", converted from " + RateAndChannels(*convertedFrom);
  }
  switch (result.heldBy) {
    case exporting::GainLimit::None:
      break;
    case exporting::GainLimit::TruePeak:
      line += ", held back by the true-peak limit (" + text::Fixed(*settings.truePeakLimitDbtp, 1) +
              " dBTP)";
      break;
    case exporting::GainLimit::Peak:
      line += ", held back by the peak limit (" + text::Fixed(*settings.peakLimitDb, 1) + " dBFS)";
      break;
    case exporting::GainLimit::FullScale:
      line += ", held back by full scale";
      break;
  }
  if (!take.problems.empty()) {
    line += ", flagged: " + Problems(take, ", ");
  }
  return line + '\n';
}

struct Tally {
  std::size_t written = 0;
  std::size_t upToDate = 0;
  std::size_t leftOut = 0;
  std::size_t failed = 0;
  std::size_t removed = 0;
};

// What every lesson of one run shares.
struct Run {
  const Options& options;
  measures::LessonProfiles& profiles;
  exporting::ExportDirectory& directory;
  ListWriter& list;
  exporting::ExportNames names;
  Tally tally;
  Progress progress;
  unsigned threads;
  std::ostream& out;
  std::ostream& err;
  bool complete = true;                        // every lesson loaded and every file chosen was made
  std::set<std::pair<int, int>> formats = {};  // rate and channels of the files
  bool mixedSaid = false;  // a lesson said that its takes go out in different formats
};

// Sends out one lesson's takes; false when it did not load, or a take was left out or failed.
bool ExportLesson(const std::string& index, Run& run) {
  lesson::Lesson lesson;
  std::string why;
  const measures::DeliveryProfile* profile = nullptr;
  measures::ProfileError profileError;
  if (LoadNamed(lesson, index, {.dryRun = true}, why)) {
    // Judged, and exported, by its own working directory's profile.
    profile = run.profiles.For(lesson.paths.workingDirectory, &profileError);
    why = profile == nullptr ? profileError.Text() : "";
  }
  if (profile == nullptr) {
    run.err << Printable(index) << ": " << Printable(why) << "\n";
    run.complete = false;
    return false;
  }
  const ChainSettings lessonSettings = SettingsFor(run.options, *profile);
  std::string formatError;
  const std::optional<measures::TakeFormat> lessonFormat = LessonFormat(lesson, &formatError);
  lesson.ScanRecordedPrompts();
  exporting::Selection selection;
  {
    JudgingMeter meter(run.err, index);
    selection = exporting::SelectTakes(lesson, *profile, run.options.includeFlagged, index,
                                       &run.names, run.threads, meter.Callback());
  }
  for (const exporting::LeftOut& left : selection.leftOut) {
    run.err << Printable(index) << ": " << Printable(left.prompt)
            << ": left out: " << Printable(left.reason) << "\n";
  }
  run.tally.leftOut += selection.leftOut.size();
  bool ok = selection.leftOut.empty();
  const std::vector<SelectedTake>& takes = selection.takes;
  std::vector<ChainSettings> settings;
  std::vector<std::optional<measures::TakeFormat>> converted(takes.size());
  std::set<std::pair<int, int>> formats;  // rate and channels of what goes out
  for (std::size_t i = 0; i < takes.size(); ++i) {
    settings.push_back(
        TakeSettings(lessonSettings, lessonFormat, takes[i].measures.format, &converted[i]));
    formats.emplace(settings[i].sampleRate.value_or(takes[i].measures.format.sampleRate),
                    settings[i].channels.value_or(takes[i].measures.format.channels));
  }
  run.formats.insert(formats.begin(), formats.end());
  if (!lessonFormat && formats.size() > 1) {
    run.mixedSaid = true;
    run.err << Printable(index) << ": the takes have different rates or channels, and "
            << (formatError.empty()
                    ? "no template recording (" + Printable(lesson::workdir::kTemplateRecording) +
                          ") in the lesson's working directory says"
                    : Printable(formatError) + "; nothing says")
            << " which to convert them to: each keeps its own (--rate and --channels set one "
               "for all)\n";
  }
  exporting::RunInOrder<MadeFile>(
      takes.size(), run.threads,
      [&](std::size_t i) {
        return run.directory.Make({takes[i].source, &takes[i].measures, takes[i].name},
                                  settings[i]);
      },
      [&](std::size_t i, MadeFile made) {
        run.progress.Clear();
        if (made.how == MadeFile::How::Failed) {
          run.err << Printable(index) << ": " << Printable(takes[i].prompt)
                  << ": failed: " << Printable(made.error) << "\n";
          ++run.tally.failed;
          ok = false;
          run.complete = false;
        } else {
          if (made.how == MadeFile::How::Written) {
            run.out << WrittenLine(index, takes[i], made.record.result, settings[i], converted[i]);
            ++run.tally.written;
          } else {
            ++run.tally.upToDate;
          }
          run.list.Add({index, takes[i], made.record.result, settings[i].bits, converted[i]});
          run.directory.Note(takes[i].name, std::move(made.record));
        }
        run.progress.Show(i + 1, takes.size());
      });
  run.progress.Clear();
  return ok;
}

// Moves the run's files in, writes the list and removes what it leaves out, saying what went.
bool CompleteRun(Run& run, platform::SaveFile& listFile) {
  const std::string to = Printable(run.options.to);
  exporting::Completion done;
  std::string error;
  const bool completed =
      run.list.ok() && run.directory.Complete(listFile, run.options.list->file, &done, &error);
  for (const std::u16string& removed : done.removed) {
    run.err << to << ": removed " << Printable(removed) << ", which the list no longer names\n";
  }
  for (const std::u16string& kept : done.kept) {
    run.err << to << ": kept " << Printable(kept)
            << ", which the list no longer names: it changed since export wrote it\n";
  }
  run.tally.removed = done.removed.size();
  if (!done.recordError.empty()) {
    run.err << to << ": " << Printable(done.recordError) << "\n";
  }
  if (!completed) {
    run.err << to << ": " << Printable(error.empty() ? listFile.error() : error) << "\n"
            << to << ": not complete: the earlier list and the files it names are kept\n";
  }
  return completed;
}

}  // namespace

int RunExport(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Options options;
  if (const std::optional<int> status = Parse(args, options, out, err)) {
    return *status;
  }
  const std::u16string directory = AbsolutePath(options.to);
  if (const std::optional<std::string> index = IndexWorkingIn(directory, options.indexes)) {
    return UsageError(err, "--to " + Printable(options.to) +
                               " lies inside the working directory of " + Printable(*index) +
                               ", which export never writes");
  }
  measures::LessonProfiles profiles(options.profile);
  measures::ProfileError profileError;
  if (!options.profile.empty() && profiles.For({}, &profileError) == nullptr) {
    err << Printable(profileError.Text()) << "\n";
    return kExitFailed;
  }
  std::vector<std::u16string> lists;
  for (const ListKind& kind : kLists) {
    lists.emplace_back(kind.file);
  }
  exporting::ExportDirectory target;
  std::string error;
  if (!target.Open(directory, lists, &error)) {
    err << Printable(error) << "\n";
    return kExitFailed;
  }
  // Written as the takes go out, and put in place only once all are in.
  platform::SaveFile listFile(target.NewList(options.list->file), target.path());
  listFile.RefuseLinks();
  if (!listFile.Open()) {
    err << Printable(listFile.error()) << "\n";
    return kExitFailed;
  }
  ListWriter list(options.list->format, listFile);
  Run run{options, profiles, target,        list,
          {},      {},       Progress(err), std::max(1u, std::thread::hardware_concurrency()),
          out,     err};
  bool ok = true;
  for (const std::string& index : options.indexes) {
    ok = ExportLesson(index, run) && ok;
  }
  list.End();
  if (run.complete) {
    ok = CompleteRun(run, listFile) && ok;
  } else {
    listFile.Cancel();
    err << Printable(options.to)
        << ": not complete: the earlier list and the files it names are kept\n";
    ok = false;
  }
  if (run.formats.size() > 1 && !run.mixedSaid) {
    std::string described;
    for (const auto& [rate, channels] : run.formats) {
      described += (described.empty() ? "" : "; ") + RateAndChannels({rate, channels, 0});
    }
    err << Printable(options.to) << ": the lessons' files differ in rate or channels (" << described
        << "): --rate and --channels set one for all\n";
  }
  const Tally& tally = run.tally;
  out << Printable(options.to) << ": " << tally.written << " exported, " << tally.upToDate
      << " skipped as up to date, " << tally.leftOut << " left out";
  if (tally.failed > 0) {
    out << ", " << tally.failed << " failed";
  }
  if (tally.removed > 0) {
    out << ", " << tally.removed << " removed";
  }
  out << "\n";
  return ok ? kExitOk : kExitFailed;
}

}  // namespace voxtar::cli
