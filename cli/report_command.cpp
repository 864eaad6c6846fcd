// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/report_command.h"

#include <algorithm>
#include <optional>
#include <string_view>

#include "cli/command_line.h"
#include "cli/command_support.h"
#include "cli/judging_meter.h"
#include "cli/usage_text.h"
#include "lesson/lesson.h"
#include "lesson/working_directory.h"
#include "measures/delivery_profile.h"
#include "measures/lesson_judging.h"
#include "measures/measure_cache.h"
#include "measures/take_measures.h"
#include "platform/file_system.h"
#include "platform/save_file.h"
#include "platform/utf8.h"
#include "report/html_report.h"
#include "report/lesson_report.h"
#include "text/wide_string.h"

namespace voxtar::cli {

namespace {

struct Options {
  std::string output;
  std::string templatePath;  // empty: sample.wav here, when there is one
  std::string profile;       // empty: the working directory's
  std::vector<std::string> indexes;
};

// Only a file named as a web page is written, so that a slip of the keyboard (-o Ini/unit01.idx)
// cannot put a report over a lesson's index or take.
bool NamesWebPage(std::string_view path) {
  std::u16string name = platform::FromUtf8(path.substr(path.find_last_of('/') + 1));
  text::FoldLower(name);
  return (name.size() > 5 && name.ends_with(u".html")) ||
         (name.size() > 4 && name.ends_with(u".htm"));
}

// Parses the options; a usage error is reported and returned as its exit status.
std::optional<int> Parse(const std::vector<std::string>& args, Options& options, std::ostream& out,
                         std::ostream& err) {
  CommandLine line;
  struct Valued {
    std::string_view names;
    std::string* value;
    std::string_view what;
  };
  std::optional<std::string> given[3];
  const Valued valued[] = {{"-o,--output", &options.output, "FILE"},
                           {"--template", &options.templatePath, "PATH"},
                           {"--profile", &options.profile, "NAME or FILE"}};
  for (std::size_t i = 0; i < std::size(valued); ++i) {
    line.Valued(std::string(valued[i].names), &given[i], valued[i].what);
  }
  if (const std::optional<int> status = line.Parse(args, &options.indexes, out, err)) {
    return status;
  }
  for (std::size_t i = 0; i < std::size(valued); ++i) {
    if (given[i] && given[i]->empty()) {
      const std::string_view names = valued[i].names;
      return UsageError(err, std::string(names.substr(0, names.find(','))) + " needs a " +
                                 std::string(valued[i].what));
    }
    *valued[i].value = given[i].value_or("");
  }
  if (options.output.empty()) {
    return UsageError(err, "report needs -o FILE, the report to write");
  }
  if (!NamesWebPage(options.output)) {
    return UsageError(err, "the report's FILE must end in .html or .htm");
  }
  if (options.indexes.empty()) {
    return UsageError(err, "report needs at least one INDEX");
  }
  return std::nullopt;
}

// The template recording's format: the one given, or sample.wav here when there is one.
bool ReadTemplate(const std::string& given, std::optional<measures::TakeFormat>* format,
                  std::ostream& err) {
  const std::string path =
      given.empty() ? platform::ToUtf8(lesson::workdir::kTemplateRecording) : given;
  if (given.empty() && !measures::StampOf(AbsolutePath(path))) {
    return true;  // formats are not judged, and the report says so
  }
  measures::TakeMeasures take;
  std::string error;
  if (!measures::MeasureTakeFile(AbsolutePath(path), &take, &error)) {
    err << Printable(path) << ": cannot read the template recording: " << Printable(error) << "\n";
    return false;
  }
  *format = take.format;
  return true;
}

}  // namespace

int RunReport(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Options options;
  if (const std::optional<int> status = Parse(args, options, out, err)) {
    return *status;
  }
  if (!platform::IsValidUtf8(options.output)) {
    err << Printable(options.output) << ": file name is not valid UTF-8\n";
    return kExitFailed;
  }
  report::Judged judged;
  measures::LessonProfiles profiles(options.profile);
  measures::ProfileError profileError;
  if (!options.profile.empty() && profiles.For({}, &profileError) == nullptr) {
    err << Printable(profileError.Text()) << "\n";
    return kExitFailed;
  }
  if (!ReadTemplate(options.templatePath, &judged.expectedFormat, err)) {
    return kExitFailed;
  }
  // Opened first: a report that cannot be written says so before the takes are measured. It is
  // the user's own new file: a link in its place, wherever it leads, is not written through.
  platform::SaveFile file(AbsolutePath(options.output));
  file.RefuseLinks();
  if (!file.Open()) {
    err << Printable(options.output) << ": " << Printable(file.error()) << "\n";
    return kExitFailed;
  }

  int status = kExitOk;
  std::vector<report::LessonReport> lessons;
  report::Counts total;
  for (const std::string& path : options.indexes) {
    lesson::Lesson lesson;
    std::string why;
    report::LessonReport gathered;
    const measures::DeliveryProfile* profile = nullptr;
    if (LoadNamed(lesson, path, {.dryRun = true}, why)) {
      // Each lesson is judged by its own working directory's profile.
      profile = profiles.For(lesson.paths.workingDirectory, &profileError);
      why = profile == nullptr ? profileError.Text() : "";
    }
    if (profile != nullptr) {
      lesson.ScanRecordedPrompts();
      JudgingMeter meter(err, path);
      gathered = report::GatherLesson(lesson, *profile, judged.expectedFormat, meter.Callback());
      total += gathered.counts;
    } else {
      err << Printable(path) << ": " << Printable(why) << "\n";
      gathered.error = why;
      status = kExitFailed;
    }
    gathered.index = path;
    if (platform::IsValidUtf8(path)) {
      gathered.caption = report::LessonCaption(AbsolutePath(path));
    }
    lessons.push_back(std::move(gathered));
  }
  // The report names the profile of its first lesson; a lesson judged otherwise names its own.
  const auto first = std::find_if(lessons.begin(), lessons.end(),
                                  [](const report::LessonReport& l) { return l.profile; });
  if (first != lessons.end()) {
    judged.profile = *first->profile;
  } else if (!options.profile.empty()) {
    judged.profile = *profiles.For({}, &profileError);
  } else {
    judged.profile = *measures::BuiltInProfile(measures::kDefaultProfile);
  }
  const std::string html = report::RenderHtml(lessons, judged);
  if (!file.Write(html.data(), html.size()) || !file.Commit()) {
    err << Printable(options.output) << ": " << Printable(file.error()) << "\n";
    return kExitFailed;
  }
  const int takes = total.passing + total.flagged;
  out << Printable(options.output) << ": " << lessons.size()
      << (lessons.size() == 1 ? " lesson, " : " lessons, ") << takes
      << (takes == 1 ? " take, " : " takes, ") << total.flagged << " flagged\n";
  return status;
}

}  // namespace voxtar::cli
