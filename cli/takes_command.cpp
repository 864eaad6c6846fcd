#include "cli/takes_command.h"

#include <cstdio>
#include <map>
#include <optional>
#include <string_view>

#include "audio/take_check.h"
#include "cli/lesson_tool.h"
#include "lesson/lesson.h"
#include "lesson/working_directory.h"
#include "platform/file_system.h"
#include "text/wide_string.h"

namespace voxtar::cli {

namespace {

using audio::TakeCheck;
using audio::TakeFormat;

struct Options {
  std::string templatePath = platform::ToUtf8(workdir::kTemplateRecording);
  bool json = false;
  std::vector<std::string> indexes;
};

// What was found for one prompt.
struct PromptReport {
  enum class Status { Short, Missing, Unreadable, Checked };
  int number = 0;
  std::string name;
  Status status = Status::Missing;
  TakeCheck check;
  TakeFormat format;
  std::string error;

  bool ok() const {
    return status != Status::Unreadable && (status != Status::Checked || check.ok());
  }
};

std::string Seconds(std::uint32_t ms) {
  return Fixed(ms / 1000.0, 2);
}

std::string Joined(const TakeCheck& check) {
  std::string text;
  for (const std::string_view word : audio::VerdictWords(check)) {
    if (!text.empty()) {
      text += ", ";
    }
    text += word;
  }
  return text;
}

// Parses the options; a usage error is reported and returned as its exit status.
std::optional<int> Parse(const std::vector<std::string>& args, Options* options, std::ostream& out,
                         std::ostream& err) {
  bool optionsEnded = false;
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
    } else if (arg == "--template") {
      if (i + 1 == args.size()) {
        return UsageError(err, "--template needs a PATH");
      }
      options->templatePath = args[++i];
    } else if (arg.starts_with("--template=")) {
      options->templatePath = arg.substr(std::string_view("--template=").size());
    } else {
      return UsageError(err, "unknown option '" + arg + "'");
    }
  }
  if (options->indexes.empty()) {
    return UsageError(err, "takes needs at least one INDEX");
  }
  if (options->templatePath.empty()) {
    return UsageError(err, "--template needs a PATH");
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

std::vector<PromptReport> CheckPrompts(const Lesson& lesson, const TakeFormat& expected) {
  const std::map<std::u16string, std::u16string, std::less<>> files = TakeFiles(lesson);
  std::vector<PromptReport> reports;
  for (const auto& entry : lesson.prompts.entries) {
    PromptReport report;
    report.number = static_cast<int>(reports.size()) + 1;
    report.name = platform::ToUtf8(entry->name);
    const auto file = files.find(std::u16string_view(entry->name));
    if (!IsSpeakable(*entry)) {
      report.status = PromptReport::Status::Short;
    } else if (entry->recorded == 0 || file == files.end()) {
      report.status = PromptReport::Status::Missing;
    } else if (!audio::CheckTakeFile(lesson.paths.promptDirectory + file->second, &report.check,
                                     &report.format, &report.error)) {
      report.status = PromptReport::Status::Unreadable;
    } else {
      report.status = PromptReport::Status::Checked;
      report.check.formatMismatch = report.format != expected;
    }
    reports.push_back(std::move(report));
  }
  return reports;
}

void WriteText(const PromptReport& report, std::ostream& out) {
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
  const TakeCheck& check = report.check;
  out << Joined(check);
  if (check.formatMismatch) {
    out << " (" << audio::DescribeFormat(report.format) << ")";
  }
  out << '\t' << Seconds(check.durationMs) << " s\tpeak " << Fixed(check.peakDb, 1) << " dB\tRMS "
      << Fixed(check.voicedRmsDb, 1) << " dB\tlead " << Seconds(check.leadingSilenceMs)
      << " s\ttrail " << Seconds(check.trailingSilenceMs) << " s\n";
}

void WriteJson(const PromptReport& report, std::ostream& out) {
  static constexpr std::string_view kStatus[] = {"short", "missing", "unreadable", "checked"};
  out << "{\"number\": " << report.number << ", \"name\": " << JsonString(report.name)
      << ", \"status\": \"" << kStatus[static_cast<int>(report.status)] << "\"";
  if (report.status == PromptReport::Status::Unreadable) {
    out << ", \"error\": " << JsonString(report.error);
  }
  if (report.status == PromptReport::Status::Checked) {
    const TakeCheck& check = report.check;
    out << ", \"ok\": " << (check.ok() ? "true" : "false") << ", \"verdicts\": [";
    bool first = true;
    for (const std::string_view word : audio::VerdictWords(check)) {
      out << (first ? "" : ", ") << JsonString(word);
      first = false;
    }
    out << "], \"duration\": " << Fixed(check.durationMs / 1000.0, 3)
        << ", \"peakDb\": " << Fixed(check.peakDb, 1)
        << ", \"rmsDb\": " << Fixed(check.voicedRmsDb, 1)
        << ", \"clippedSamples\": " << check.clippedSamples
        << ", \"leadingSilence\": " << Fixed(check.leadingSilenceMs / 1000.0, 3)
        << ", \"trailingSilence\": " << Fixed(check.trailingSilenceMs / 1000.0, 3)
        << ", \"format\": " << JsonString(audio::DescribeFormat(report.format));
  }
  out << "}";
}

}  // namespace

int RunTakes(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Options options;
  if (const std::optional<int> status = Parse(args, &options, out, err)) {
    return *status;
  }
  TakeCheck templateCheck;
  TakeFormat expected;
  std::string error;
  if (!audio::CheckTakeFile(AbsolutePath(options.templatePath), &templateCheck, &expected,
                            &error)) {
    err << Printable(options.templatePath)
        << ": cannot read the template recording: " << Printable(error) << "\n";
    return kExitFailed;
  }

  int status = kExitOk;
  if (options.json) {
    out << "{\"template\": {\"path\": " << JsonString(options.templatePath)
        << ", \"format\": " << JsonString(audio::DescribeFormat(expected)) << "},\n \"lessons\": [";
  }
  bool firstLesson = true;
  for (const std::string& path : options.indexes) {
    Lesson lesson;
    std::string why;
    const bool loaded = LoadNamed(lesson, path, {.dryRun = true}, why);
    std::vector<PromptReport> reports;
    if (loaded) {
      lesson.ScanRecordedPrompts();
      reports = CheckPrompts(lesson, expected);
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
      out << ", \"prompts\": [";
      for (std::size_t i = 0; i < reports.size(); ++i) {
        out << (i == 0 ? "\n    " : ",\n    ");
        WriteJson(reports[i], out);
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
      WriteText(report, out);
    }
  }
  if (options.json) {
    out << "]}\n";
  }
  return status;
}

}  // namespace voxtar::cli
