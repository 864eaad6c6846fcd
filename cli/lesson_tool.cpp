#include "cli/lesson_tool.h"

#include <string_view>

#include "cli/takes_command.h"
#include "lesson/lesson.h"
#include "platform/file_system.h"
#include "version.h"

namespace voxtar::cli {

namespace {

constexpr std::string_view kProgram = "voxtar-lesson";

constexpr std::string_view kUsage =
    R"(Usage: voxtar-lesson check INDEX...
       voxtar-lesson list INDEX
       voxtar-lesson normalize INDEX...
       voxtar-lesson takes [--template PATH] [--json] INDEX...
Checks, lists and normalizes the lesson indexes of a recording course, and
checks their recorded takes.

Commands:
  check INDEX...      tell for each lesson whether it loads, with its number of
                      prompts, recorded prompts and pending prompts; nothing is
                      created or written
  list INDEX          one line per prompt, tab-separated: number, status
                      (short, pending or recorded), name and stored text;
                      nothing is created or written
  normalize INDEX...  load each lesson as the recorder does (prompt
                      directories created, index rewritten in UTF-16LE)
  takes INDEX...      check each recorded take: one line per prompt with its
                      verdicts (ok, clipped, too quiet, silent, cut at the
                      start, cut at the end, format mismatch), duration, peak,
                      RMS and the silence before and after the speech;
                      "missing" without a take, "short" for prompts too short
                      to speak; nothing is created or written
    --template PATH   the recording takes must match in rate, channels and
                      sample format (default: sample.wav here)
    --json            the same as JSON

Options:
  -h, --help          show this help and exit
      --version       show the version and exit

An INDEX is the path of a lesson index below a directory named "ini" (any
letter case); whatever its extension, the ".idx" file of that name is read.
Recordings are looked for in the lesson's directory under "Prompt".

Exit status: 0 when every lesson loads (and, for normalize, was written; for
takes, every recorded take is ok), 1 otherwise, 2 on bad usage.
)";

enum class Command { Check, List, Normalize };

struct Counts {
  int prompts = 0;
  int recorded = 0;
  int pending = 0;
};

Counts Count(const Lesson& lesson) {
  Counts counts;
  for (const auto& entry : lesson.prompts.entries) {
    ++counts.prompts;
    counts.recorded += entry->recorded != 0 ? 1 : 0;
    counts.pending += IsPending(*entry) ? 1 : 0;
  }
  return counts;
}

std::string_view Status(const PromptEntry& entry) {
  if (!IsSpeakable(entry)) {
    return "short";
  }
  return IsPending(entry) ? "pending" : "recorded";
}

int Check(const std::vector<std::string>& paths, std::ostream& out) {
  int status = kExitOk;
  for (const std::string& path : paths) {
    Lesson lesson;
    const LoadOutcome outcome = lesson.LoadLesson(AbsolutePath(path), {.dryRun = true});
    if (outcome.result != LoadResult::Loaded) {
      out << path << ": " << Describe(outcome) << "\n";
      status = kExitFailed;
      continue;
    }
    lesson.ScanRecordedPrompts();
    const Counts counts = Count(lesson);
    out << path << ": " << counts.prompts << " prompts, " << counts.recorded << " recorded, "
        << counts.pending << " pending\n";
  }
  return status;
}

int List(const std::string& path, std::ostream& out, std::ostream& err) {
  Lesson lesson;
  const LoadOutcome outcome = lesson.LoadLesson(AbsolutePath(path), {.dryRun = true});
  if (outcome.result != LoadResult::Loaded) {
    err << path << ": " << Describe(outcome) << "\n";
    return kExitFailed;
  }
  lesson.ScanRecordedPrompts();
  int number = 0;
  for (const auto& entry : lesson.prompts.entries) {
    out << ++number << '\t' << Status(*entry) << '\t' << platform::ToUtf8(entry->name) << '\t'
        << platform::ToUtf8(entry->text) << '\n';
  }
  return kExitOk;
}

int Normalize(const std::vector<std::string>& paths, std::ostream& out) {
  int status = kExitOk;
  for (const std::string& path : paths) {
    Lesson lesson;
    const LoadOutcome outcome = lesson.LoadLesson(AbsolutePath(path));
    if (outcome.result != LoadResult::Loaded) {
      out << path << ": " << Describe(outcome) << "\n";
      status = kExitFailed;
      continue;
    }
    if (outcome.saved) {
      out << path << ": " << lesson.prompts.count << " prompts, rewritten\n";
    } else {
      out << path << ": cannot write file: " << lesson.saveError() << "\n";
      status = kExitFailed;
    }
    lesson.UnloadLesson();
  }
  return status;
}

}  // namespace

std::string_view UsageText() {
  return kUsage;
}

int UsageError(std::ostream& err, const std::string& message) {
  err << kProgram << ": " << message << "\n"
      << "Try '" << kProgram << " --help' for more information.\n";
  return kExitUsage;
}

std::u16string AbsolutePath(const std::string& given) {
  std::u16string path = platform::FromUtf8(given);
  if (!path.empty() && path.front() == platform::kSeparator) {
    return path;
  }
  std::u16string absolute = platform::CurrentDirectory();
  if (absolute.empty() || absolute.back() != platform::kSeparator) {
    absolute += platform::kSeparator;
  }
  return absolute + path;
}

std::string Describe(const LoadOutcome& outcome) {
  switch (outcome.result) {
    case LoadResult::Loaded:
      return "loaded";
    case LoadResult::InvalidDirectory:
      return "invalid directory";
    case LoadResult::FileNotFound:
      return "file not found";
    case LoadResult::FileEmpty:
      return "file is empty";
    case LoadResult::BadLine:
      break;
  }
  const std::string line = "line " + std::to_string(outcome.badLine) + ": ";
  if (outcome.badLineReason == BadLineReason::NameTooLong) {
    return line + "name longer than " + std::to_string(kMaxNameLength) + " characters";
  }
  return line + "no space";
}

int RunLessonTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) {
    return UsageError(err, "missing command");
  }
  const std::string& first = args.front();
  if (first == "-h" || first == "--help" || first == "help") {
    out << kUsage;
    return kExitOk;
  }
  if (first == "--version") {
    out << kProgram << " " << kVersion << "\n";
    return kExitOk;
  }
  Command command{};
  if (first == "takes") {
    return RunTakes(std::vector<std::string>(args.begin() + 1, args.end()), out, err);
  }
  if (first == "check") {
    command = Command::Check;
  } else if (first == "list") {
    command = Command::List;
  } else if (first == "normalize") {
    command = Command::Normalize;
  } else if (first.starts_with("-")) {
    return UsageError(err, "unknown option '" + first + "'");
  } else {
    return UsageError(err, "unknown command '" + first + "'");
  }

  std::vector<std::string> paths;
  bool optionsEnded = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!optionsEnded && arg == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && (arg == "-h" || arg == "--help")) {
      out << kUsage;
      return kExitOk;
    } else if (!optionsEnded && arg.size() > 1 && arg.front() == '-') {
      return UsageError(err, "unknown option '" + arg + "'");
    } else {
      paths.push_back(arg);
    }
  }

  switch (command) {
    case Command::Check:
      if (paths.empty()) {
        return UsageError(err, "check needs at least one INDEX");
      }
      return Check(paths, out);
    case Command::List:
      if (paths.size() != 1) {
        return UsageError(err, "list needs exactly one INDEX");
      }
      return List(paths.front(), out, err);
    case Command::Normalize:
      if (paths.empty()) {
        return UsageError(err, "normalize needs at least one INDEX");
      }
      return Normalize(paths, out);
  }
  return kExitUsage;
}

}  // namespace voxtar::cli
