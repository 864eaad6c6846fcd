// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/takes_command.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string_view>
#include <thread>

#include "cli/command_line.h"
#include "cli/command_support.h"
#include "cli/judging_meter.h"
#include "cli/usage_text.h"
#include "lesson/lesson.h"
#include "lesson/lesson_paths.h"
#include "lesson/working_directory.h"
#include "measures/delivery_profile.h"
#include "measures/judgement.h"
#include "measures/lesson_judging.h"
#include "platform/file_system.h"

namespace voxtar::cli {

namespace {

using measures::DeliveryProfile;
using measures::Judgement;
using measures::Problem;
using measures::TakeFormat;
using measures::TakeMeasures;

struct Options {
  std::string templatePath = platform::ToUtf8(lesson::workdir::kTemplateRecording);
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
  const TakeMeasures* take = nullptr;         // with Checked
  Judgement judgement;                        // with Checked
  std::optional<double> speechRate;           // with Checked
  const measures::TextCheck* text = nullptr;  // with Checked, when judged against its text

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
  bool text = false;

  explicit Columns(const DeliveryProfile& p)
      : loudness(p.loudnessLufs || p.loudnessConsistencyLu || p.exportLoudnessLufs),
        truePeak(p.maxTruePeakDbtp || p.exportTruePeakDbtp),
        noise(p.maxNoiseFloorDb || p.minSnrDb),
        rate(p.rateConsistencyPercent),
        text(p.checkText && measures::PluggedTextJudge() != nullptr) {}
};

std::string FixedOr(const std::optional<double>& value, int decimals, std::string_view unknown) {
  return value ? text::Fixed(*value, decimals) : std::string(unknown);
}

std::string Seconds(std::uint32_t ms) {
  return text::Fixed(ms / 1000.0, 2);
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
  CommandLine line;
  std::optional<std::string> templatePath;
  std::optional<std::string> profile;
  line.Flag("--json", &options->json);
  line.Valued("--template", &templatePath, "PATH");
  line.Valued("--profile", &profile, "NAME or FILE");
  if (const std::optional<int> status = line.Parse(args, &options->indexes, out, err)) {
    return status;
  }
  if (templatePath && templatePath->empty()) {
    return UsageError(err, "--template needs a PATH");
  }
  if (profile && profile->empty()) {
    return UsageError(err, "--profile needs a NAME or FILE");
  }
  options->templatePath = templatePath.value_or(options->templatePath);
  options->profile = profile.value_or("");
  if (options->indexes.empty()) {
    return UsageError(err, "takes needs at least one INDEX");
  }
  return std::nullopt;
}

// Each prompt of a judged lesson as takes reports it.
std::vector<PromptReport> CheckPrompts(const measures::JudgedLesson& judged) {
  std::vector<PromptReport> reports;
  for (std::size_t i = 0; i < judged.prompts.size(); ++i) {
    const measures::PromptTake& take = judged.prompts[i];
    PromptReport report;
    report.number = static_cast<int>(i) + 1;
    report.name = platform::ToUtf8(judged.measures.prompt(i).name);
    switch (take.status) {
      case measures::PromptTake::Status::Short:
        report.status = PromptReport::Status::Short;
        break;
      case measures::PromptTake::Status::Missing:
        report.status = PromptReport::Status::Missing;
        break;
      case measures::PromptTake::Status::Unreadable:
        report.status = PromptReport::Status::Unreadable;
        report.error = take.error;
        break;
      case measures::PromptTake::Status::Measured:
        report.status = PromptReport::Status::Checked;
        report.take = judged.measures.measures(i);
        report.judgement = *judged.measures.Judge(i);
        report.speechRate = judged.measures.SpeechRateAt(i);
        if (const measures::TextCheck* text = judged.measures.textCheck(i); text && text->judged) {
          report.text = text;
        }
        break;
    }
    reports.push_back(std::move(report));
  }
  return reports;
}

void WriteText(const PromptReport& report, const Columns& columns, const TakeFormat& expected,
               std::ostream& out) {
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
    out << " (" << measures::DescribeFormat(take.format) << ", not "
        << measures::DescribeFormat(expected) << ")";
  }
  out << '\t' << Seconds(take.durationMs) << " s\tpeak " << text::Fixed(take.peakDb, 1)
      << " dB\tRMS " << text::Fixed(take.voicedRmsDb, 1) << " dB\tlead " << Seconds(take.headMs)
      << " s\ttrail " << Seconds(take.tailMs) << " s";
  if (columns.loudness) {
    out << '\t' << FixedOr(take.loudnessLufs, 1, "-") << " LUFS";
  }
  if (columns.truePeak) {
    out << "\ttrue peak " << text::Fixed(take.truePeakDbtp, 1) << " dBTP";
  }
  if (columns.noise) {
    out << "\tfloor " << FixedOr(take.noiseFloorDb, 1, "-") << " dB\tSNR "
        << FixedOr(take.snrDb(), 1, "-") << " dB";
  }
  if (columns.rate) {
    out << '\t' << FixedOr(report.speechRate, 1, "-") << " chars/s";
  }
  if (columns.text) {
    out << "\ttext match "
        << (report.text != nullptr ? text::Fixed(report.text->textMatch, 2) : "-");
  }
  out << '\n';
}

void WriteJson(const PromptReport& report, const DeliveryProfile& profile, std::ostream& out) {
  static constexpr std::string_view kStatus[] = {"short", "missing", "unreadable", "checked"};
  out << "{\"number\": " << report.number << ", \"name\": " << text::JsonString(report.name)
      << ", \"status\": \"" << kStatus[static_cast<int>(report.status)] << "\"";
  if (report.status == PromptReport::Status::Unreadable) {
    out << ", \"error\": " << text::JsonString(report.error);
  }
  if (report.status == PromptReport::Status::Checked) {
    const TakeMeasures& take = *report.take;
    out << ", \"ok\": " << (report.judgement.ok() ? "true" : "false") << ", \"verdicts\": [";
    bool first = true;
    for (const std::string_view verdict : Verdicts(report.judgement)) {
      out << (first ? "" : ", ") << text::JsonString(verdict);
      first = false;
    }
    out << "], \"duration\": " << text::Fixed(take.durationMs / 1000.0, 3)
        << ", \"peakDb\": " << text::Fixed(take.peakDb, 1)
        << ", \"rmsDb\": " << text::Fixed(take.voicedRmsDb, 1)
        << ", \"clippedSamples\": " << take.clippedSamples
        << ", \"leadingSilence\": " << text::Fixed(take.headMs / 1000.0, 3)
        << ", \"trailingSilence\": " << text::Fixed(take.tailMs / 1000.0, 3)
        << ", \"format\": " << text::JsonString(measures::DescribeFormat(take.format))
        << ", \"loudnessLufs\": " << FixedOr(take.loudnessLufs, 1, "null")
        << ", \"loudnessRangeLu\": " << FixedOr(take.loudnessRangeLu, 1, "null")
        << ", \"truePeakDbtp\": " << text::Fixed(take.truePeakDbtp, 1)
        << ", \"noiseFloorDb\": " << FixedOr(take.noiseFloorDb, 1, "null")
        << ", \"snrDb\": " << FixedOr(take.snrDb(), 1, "null")
        << ", \"speechRate\": " << FixedOr(report.speechRate, 2, "null") << ", \"textMatch\": "
        << (report.text != nullptr ? text::Fixed(report.text->textMatch, 3) : "null")
        << ", \"textCoverage\": "
        << (report.text != nullptr ? text::Fixed(report.text->textCoverage, 3) : "null")
        << ", \"profile\": " << text::JsonString(measures::ProfileTitle(profile))
        << ", \"problems\": [";
    first = true;
    for (const measures::Finding& finding : report.judgement.findings) {
      out << (first ? "" : ", ") << text::JsonString(measures::ProblemWord(finding.problem));
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
  measures::LessonProfiles profiles(options.profile);
  measures::ProfileError profileError;
  if (!options.profile.empty() && profiles.For({}, &profileError) == nullptr) {
    err << Printable(profileError.Text()) << "\n";
    return kExitFailed;
  }

  int status = kExitOk;
  if (options.json) {
    out << "{\"template\": {\"path\": " << text::JsonString(options.templatePath)
        << ", \"format\": " << text::JsonString(measures::DescribeFormat(expected))
        << "},\n \"lessons\": [";
  }
  bool firstLesson = true;
  for (const std::string& path : options.indexes) {
    lesson::Lesson lesson;
    std::string why;
    bool loaded = LoadNamed(lesson, path, {.dryRun = true}, why);
    // Each lesson is judged by its own working directory's profile; one that cannot be read is
    // an error of its own, and the lesson is not judged.
    const DeliveryProfile* profile =
        loaded ? profiles.For(lesson.paths.workingDirectory, &profileError) : nullptr;
    if (loaded && profile == nullptr) {
      err << Printable(profileError.Text()) << "\n";
      status = kExitFailed;
      if (options.json) {
        out << (firstLesson ? "\n  " : ",\n  ") << "{\"index\": " << text::JsonString(path)
            << ", \"error\": " << text::JsonString(profileError.Text()) << "}";
        firstLesson = false;
      }
      continue;
    }
    std::optional<measures::JudgedLesson> judged;
    std::vector<PromptReport> reports;
    if (loaded) {
      lesson.ScanRecordedPrompts();
      JudgingMeter meter(err, path);
      judged = measures::JudgeLesson(lesson, *profile, expected,
                                     std::max(1u, std::thread::hardware_concurrency()),
                                     meter.Callback());
      reports = CheckPrompts(*judged);
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
      out << (firstLesson ? "\n  " : ",\n  ") << "{\"index\": " << text::JsonString(path);
      firstLesson = false;
      if (!loaded) {
        out << ", \"error\": " << text::JsonString(why) << "}";
        continue;
      }
      out << ", \"medianLoudnessLufs\": "
          << FixedOr(judged->measures.medianLoudnessLufs(), 1, "null")
          << ", \"medianSpeechRate\": " << FixedOr(judged->measures.medianSpeechRate(), 2, "null")
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
    out << Printable(path) << ": " << Counted(reports.size(), "prompt", "prompts") << ", "
        << Counted(takes, "take", "takes") << ", " << notOk << " not ok\n";
    const Columns columns(*profile);
    for (const PromptReport& report : reports) {
      WriteText(report, columns, expected, out);
    }
  }
  if (options.json) {
    out << "]}\n";
  }
  return status;
}

}  // namespace voxtar::cli
