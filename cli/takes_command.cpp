#include "cli/takes_command.h"

#include <cstdio>
#include <map>
#include <optional>
#include <string_view>
#include <thread>

#include "cli/lesson_tool.h"
#include "lesson/lesson.h"
#include "lesson/lesson_paths.h"
#include "lesson/working_directory.h"
#include "measures/delivery_profile.h"
#include "measures/judgement.h"
#include "measures/lesson_measures.h"
#include "measures/measure_cache.h"
#include "platform/file_system.h"
#include "text/wide_string.h"

namespace voxtar::cli {

namespace {

using measures::DeliveryProfile;
using measures::Judgement;
using measures::LessonMeasures;
using measures::Problem;
using measures::TakeFormat;
using measures::TakeMeasures;

struct Options {
  std::string templatePath = platform::ToUtf8(workdir::kTemplateRecording);
  std::string profile;  // a built-in name or a file; empty: the working directory's
  bool json = false;
  std::vector<std::string> indexes;
};

// What was found for one prompt.
struct PromptReport {
  enum class Status { Short, Missing, Unreadable, Checked };
  int number = 0;
  std::string name;
  Status status = Status::Missing;
  std::string error;
  const TakeMeasures* take = nullptr;  // with Checked
  Judgement judgement;                 // with Checked
  std::optional<double> speechRate;    // with Checked

  bool ok() const {
    return status != Status::Unreadable && (status != Status::Checked || judgement.ok());
  }
};

// The figures a profile judges beyond the take check get columns of their own in the text.
struct Columns {
  bool loudness = false;
  bool truePeak = false;
  bool noise = false;
  bool rate = false;

  explicit Columns(const DeliveryProfile& p)
      : loudness(p.loudnessLufs || p.loudnessConsistencyLu || p.exportLoudnessLufs),
        truePeak(p.maxTruePeakDbtp || p.exportTruePeakDbtp),
        noise(p.maxNoiseFloorDb || p.minSnrDb),
        rate(p.rateConsistencyPercent) {}
};

std::string FixedOr(const std::optional<double>& value, int decimals, std::string_view unknown) {
  return value ? Fixed(*value, decimals) : std::string(unknown);
}

std::string Seconds(std::uint32_t ms) {
  return Fixed(ms / 1000.0, 2);
}

// The problems as voxtar-lesson names them; "ok" without any.
std::vector<std::string_view> Verdicts(const Judgement& judgement) {
  std::vector<std::string_view> names;
  for (const measures::Finding& finding : judgement.findings) {
    names.push_back(measures::ProblemName(finding.problem));
  }
  if (names.empty()) {
    names.emplace_back("ok");
  }
  return names;
}

// Parses the options; a usage error is reported and returned as its exit status.
std::optional<int> Parse(const std::vector<std::string>& args, Options* options, std::ostream& out,
                         std::ostream& err) {
  bool optionsEnded = false;
  // "--name VALUE" or "--name=VALUE" into *value; false when it is not this option.
  const auto valued = [&](std::size_t& i, std::string_view name, std::string* value) {
    const std::string& arg = args[i];
    if (arg == name && i + 1 < args.size()) {
      *value = args[++i];
      return true;
    }
    if (arg.size() > name.size() && arg.starts_with(name) && arg[name.size()] == '=') {
      *value = arg.substr(name.size() + 1);
      return true;
    }
    return false;
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg.front() != '-') {
      options->indexes.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "-h" || arg == "--help") {
      out << UsageText();
      return kExitOk;
    } else if (arg == "--json") {
      options->json = true;
    } else if (valued(i, "--template", &options->templatePath)) {
      if (options->templatePath.empty()) {
        return UsageError(err, "--template needs a PATH");
      }
    } else if (valued(i, "--profile", &options->profile)) {
      if (options->profile.empty()) {
        return UsageError(err, "--profile needs a NAME or FILE");
      }
    } else if (arg == "--template" || arg == "--profile") {
      return UsageError(err,
                        arg + (arg == "--template" ? " needs a PATH" : " needs a NAME or FILE"));
    } else {
      return UsageError(err, "unknown option '" + arg + "'");
    }
  }
  if (options->indexes.empty()) {
    return UsageError(err, "takes needs at least one INDEX");
  }
  return std::nullopt;
}

// The lesson's takes on disk: the scan matches entry names against the lower-cased file names,
// so a take is found under its real name whatever its letter case.
std::map<std::u16string, std::u16string, std::less<>> TakeFiles(const Lesson& lesson) {
  std::map<std::u16string, std::u16string, std::less<>> files;
  for (std::u16string& name :
       platform::ListDirectory(lesson.paths.promptDirectory, workdir::kTakePattern)) {
    std::u16string folded = name;
    FoldLower(folded);
    files.emplace(std::move(folded), std::move(name));
  }
  return files;
}

// Measures the lesson's recorded takes (from the cache beside them where it is fresh) and
// judges each within the lesson.
std::vector<PromptReport> CheckPrompts(const Lesson& lesson, LessonMeasures& lessonMeasures) {
  const std::map<std::u16string, std::u16string, std::less<>> files = TakeFiles(lesson);
  std::vector<LessonMeasures::Prompt> prompts;
  std::vector<std::u16string> toMeasure;
  std::map<std::u16string, std::size_t, std::less<>> measuredAt;  // file name -> toMeasure
  std::vector<const std::u16string*> fileOf;                      // per prompt, or null
  for (const auto& entry : lesson.prompts.entries) {
    prompts.push_back({std::u16string(entry->name), std::u16string(entry->text)});
    const auto file = files.find(std::u16string_view(entry->name));
    const bool measured = IsSpeakable(*entry) && entry->recorded != 0 && file != files.end();
    fileOf.push_back(measured ? &file->second : nullptr);
    if (measured && measuredAt.emplace(file->second, toMeasure.size()).second) {
      toMeasure.push_back(file->second);
    }
  }
  lessonMeasures.SetPrompts(std::move(prompts));

  measures::MeasureCache cache;
  cache.Load(lesson.paths.promptDirectory);
  const std::vector<measures::MeasuredTake> measured = measures::MeasureTakes(
      lesson.paths.promptDirectory, toMeasure, &cache, std::thread::hardware_concurrency());
  std::vector<std::u16string> onDisk;
  onDisk.reserve(files.size());
  for (const auto& [folded, name] : files) {
    onDisk.push_back(name);
  }
  cache.Retain(onDisk);
  std::string ignored;
  cache.Save(lesson.paths.workingDirectory, &ignored);  // a cache that is not written costs time

  std::vector<PromptReport> reports;
  for (std::size_t i = 0; i < lesson.prompts.entries.size(); ++i) {
    const PromptEntry& entry = *lesson.prompts.entries[i];
    PromptReport report;
    report.number = static_cast<int>(i) + 1;
    report.name = platform::ToUtf8(entry.name);
    if (!IsSpeakable(entry)) {
      report.status = PromptReport::Status::Short;
    } else if (fileOf[i] == nullptr) {
      report.status = PromptReport::Status::Missing;
    } else if (const measures::MeasuredTake& take = measured[measuredAt.at(*fileOf[i])];
               !take.read) {
      report.status = PromptReport::Status::Unreadable;
      report.error = take.error;
    } else {
      report.status = PromptReport::Status::Checked;
      lessonMeasures.SetMeasures(entry.name, take.measures);
    }
    reports.push_back(std::move(report));
  }
  // Judged once every take is in: the lesson's medians take them all.
  for (std::size_t i = 0; i < reports.size(); ++i) {
    if (reports[i].status == PromptReport::Status::Checked) {
      reports[i].take = lessonMeasures.measures(i);
      reports[i].judgement = *lessonMeasures.Judge(i);
      reports[i].speechRate = lessonMeasures.SpeechRateAt(i);
    }
  }
  return reports;
}

void WriteText(const PromptReport& report, const Columns& columns, std::ostream& out) {
  out << report.number << '\t' << Printable(report.name) << '\t';
  switch (report.status) {
    case PromptReport::Status::Short:
      out << "short\n";
      return;
    case PromptReport::Status::Missing:
      out << "missing\n";
      return;
    case PromptReport::Status::Unreadable:
      out << "unreadable: " << Printable(report.error) << '\n';
      return;
    case PromptReport::Status::Checked:
      break;
  }
  const TakeMeasures& take = *report.take;
  bool first = true;
  for (const std::string_view verdict : Verdicts(report.judgement)) {
    out << (first ? "" : ", ") << verdict;
    first = false;
  }
  if (report.judgement.Has(Problem::Format)) {
    out << " (" << measures::DescribeFormat(take.format) << ")";
  }
  out << '\t' << Seconds(take.durationMs) << " s\tpeak " << Fixed(take.peakDb, 1) << " dB\tRMS "
      << Fixed(take.voicedRmsDb, 1) << " dB\tlead " << Seconds(take.headMs) << " s\ttrail "
      << Seconds(take.tailMs) << " s";
  if (columns.loudness) {
    out << '\t' << FixedOr(take.loudnessLufs, 1, "-") << " LUFS";
  }
  if (columns.truePeak) {
    out << "\ttrue peak " << Fixed(take.truePeakDbtp, 1) << " dBTP";
  }
  if (columns.noise) {
    out << "\tfloor " << FixedOr(take.noiseFloorDb, 1, "-") << " dB\tSNR "
        << FixedOr(take.snrDb(), 1, "-") << " dB";
  }
  if (columns.rate) {
    out << '\t' << FixedOr(report.speechRate, 1, "-") << " chars/s";
  }
  out << '\n';
}

void WriteJson(const PromptReport& report, const DeliveryProfile& profile, std::ostream& out) {
  static constexpr std::string_view kStatus[] = {"short", "missing", "unreadable", "checked"};
  out << "{\"number\": " << report.number << ", \"name\": " << JsonString(report.name)
      << ", \"status\": \"" << kStatus[static_cast<int>(report.status)] << "\"";
  if (report.status == PromptReport::Status::Unreadable) {
    out << ", \"error\": " << JsonString(report.error);
  }
  if (report.status == PromptReport::Status::Checked) {
    const TakeMeasures& take = *report.take;
    out << ", \"ok\": " << (report.judgement.ok() ? "true" : "false") << ", \"verdicts\": [";
    bool first = true;
    for (const std::string_view verdict : Verdicts(report.judgement)) {
      out << (first ? "" : ", ") << JsonString(verdict);
      first = false;
    }
    out << "], \"duration\": " << Fixed(take.durationMs / 1000.0, 3)
        << ", \"peakDb\": " << Fixed(take.peakDb, 1)
        << ", \"rmsDb\": " << Fixed(take.voicedRmsDb, 1)
        << ", \"clippedSamples\": " << take.clippedSamples
        << ", \"leadingSilence\": " << Fixed(take.headMs / 1000.0, 3)
        << ", \"trailingSilence\": " << Fixed(take.tailMs / 1000.0, 3)
        << ", \"format\": " << JsonString(measures::DescribeFormat(take.format))
        << ", \"loudnessLufs\": " << FixedOr(take.loudnessLufs, 1, "null")
        << ", \"loudnessRangeLu\": " << FixedOr(take.loudnessRangeLu, 1, "null")
        << ", \"truePeakDbtp\": " << Fixed(take.truePeakDbtp, 1)
        << ", \"noiseFloorDb\": " << FixedOr(take.noiseFloorDb, 1, "null")
        << ", \"snrDb\": " << FixedOr(take.snrDb(), 1, "null")
        << ", \"speechRate\": " << FixedOr(report.speechRate, 2, "null")
        << ", \"profile\": " << JsonString(profile.name) << ", \"problems\": [";
    first = true;
    for (const measures::Finding& finding : report.judgement.findings) {
      out << (first ? "" : ", ") << JsonString(measures::ProblemWord(finding.problem));
      first = false;
    }
    out << "]";
  }
  out << "}";
}

}  // namespace

int RunTakes(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Options options;
  if (const std::optional<int> status = Parse(args, &options, out, err)) {
    return *status;
  }
  TakeMeasures templateTake;
  std::string error;
  if (!measures::MeasureTakeFile(AbsolutePath(options.templatePath), &templateTake, &error)) {
    err << Printable(options.templatePath)
        << ": cannot read the template recording: " << Printable(error) << "\n";
    return kExitFailed;
  }
  const TakeFormat expected = templateTake.format;
  measures::ProfileError profileError;
  const std::optional<DeliveryProfile> profile =
      measures::ChooseProfile(options.profile, platform::CurrentDirectory(), &profileError);
  if (!profile) {
    err << profileError.Text() << "\n";
    return kExitFailed;
  }
  const Columns columns(*profile);

  int status = kExitOk;
  if (options.json) {
    out << "{\"template\": {\"path\": " << JsonString(options.templatePath)
        << ", \"format\": " << JsonString(measures::DescribeFormat(expected))
        << "},\n \"lessons\": [";
  }
  bool firstLesson = true;
  for (const std::string& path : options.indexes) {
    Lesson lesson;
    std::string why;
    const bool loaded = LoadNamed(lesson, path, {.dryRun = true}, why);
    LessonMeasures lessonMeasures(*profile, expected);
    std::vector<PromptReport> reports;
    if (loaded) {
      lesson.ScanRecordedPrompts();
      reports = CheckPrompts(lesson, lessonMeasures);
    } else {
      status = kExitFailed;
    }
    int takes = 0;
    int notOk = 0;
    for (const PromptReport& report : reports) {
      takes += report.status == PromptReport::Status::Checked ||
                       report.status == PromptReport::Status::Unreadable
                   ? 1
                   : 0;
      notOk += report.ok() ? 0 : 1;
    }
    if (notOk > 0) {
      status = kExitFailed;
    }

    if (options.json) {
      out << (firstLesson ? "\n  " : ",\n  ") << "{\"index\": " << JsonString(path);
      firstLesson = false;
      if (!loaded) {
        out << ", \"error\": " << JsonString(why) << "}";
        continue;
      }
      out << ", \"medianLoudnessLufs\": " << FixedOr(lessonMeasures.medianLoudnessLufs(), 1, "null")
          << ", \"medianSpeechRate\": " << FixedOr(lessonMeasures.medianSpeechRate(), 2, "null")
          << ", \"prompts\": [";
      for (std::size_t i = 0; i < reports.size(); ++i) {
        out << (i == 0 ? "\n    " : ",\n    ");
        WriteJson(reports[i], *profile, out);
      }
      out << "]}";
      continue;
    }
    if (!loaded) {
      out << Printable(path) << ": " << why << "\n";
      continue;
    }
    out << Printable(path) << ": " << reports.size() << " prompts, " << takes << " takes, " << notOk
        << " not ok\n";
    for (const PromptReport& report : reports) {
      WriteText(report, columns, out);
    }
  }
  if (options.json) {
    out << "]}\n";
  }
  return status;
}

}  // namespace voxtar::cli
