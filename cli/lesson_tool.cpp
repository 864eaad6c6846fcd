#include "cli/lesson_tool.h"

#include <string_view>

#include "cli/takes_command.h"
#include "lesson/lesson.h"
#include "platform/file_system.h"
#include "text/text_line_reader.h"
#include "version.h"

namespace voxtar::cli {

namespace {

constexpr std::string_view kProgram = "voxtar-lesson";

constexpr std::string_view kUsage =
    R"(Usage: voxtar-lesson check INDEX...
       voxtar-lesson list INDEX
       voxtar-lesson normalize INDEX...
       voxtar-lesson takes [--template PATH] [--profile NAME|FILE] [--json] INDEX...
Checks, lists and normalizes the lesson indexes of a recording course, and
judges their recorded takes against a delivery profile.

Commands:
  check INDEX...      tell for each lesson whether it loads, with its number of
                      prompts, recorded prompts and pending prompts; nothing is
                      created or written
  list INDEX          one line per prompt, tab-separated: number, status
                      (short, pending or recorded), name and stored text,
                      control characters and "\" written as escapes (\t,
                      \x1b, \\); nothing is created or written
  normalize INDEX...  load each lesson as the recorder does (prompt
                      directories created, index rewritten in UTF-16LE)
  takes INDEX...      measure each recorded take and judge it against the
                      delivery profile, alone and within its lesson: one line
                      per prompt with its problems (ok, clipped, too quiet,
                      too loud, silent, cut at the start or end, long silence
                      at the start or end, noisy, loudness off target, true
                      peak too high, format mismatch, loudness or pace unlike
                      the lesson), duration, peak, RMS, the silence before and
                      after the speech, and the figures the profile judges
                      beyond these; "missing" without a take, "short" for
                      prompts too short to speak; writes nothing but the
                      measure cache ".measures" beside the takes
    --template PATH   the recording takes must match in rate, channels and
                      sample format (default: sample.wav here)
    --profile NAME|FILE
                      the delivery profile: course, acx, ebu-r128, tts, or a
                      profile file (default: delivery.ini here when there is
                      one, else course)
    --json            the same as JSON, with every measure

Options:
  -h, --help          show this help and exit
      --version       show the version and exit

An INDEX is the path of a lesson index below a directory named "ini" (any
letter case); whatever its extension, the ".idx" file of that name is read.
Recordings are looked for in the lesson's directory under "Prompt".

Exit status: 0 when every lesson loads (and, for normalize, was written; for
takes, every recorded take passes), 1 otherwise, 2 on bad usage.
)";

enum class Command { Check, List, Normalize };

struct Counts {
  int prompts = 0;
  int recorded = 0;
  int pending = 0;
};

void AppendHex(std::string& out, std::string_view prefix, unsigned char byte) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += prefix;
  out += kHex[byte >> 4];
  out += kHex[byte & 0xF];
}

void AppendEscaped(std::string& out, char32_t c) {
  switch (c) {
    case U'\t':
      out += "\\t";
      return;
    case U'\n':
      out += "\\n";
      return;
    case U'\r':
      out += "\\r";
      return;
    case U'\\':
      out += "\\\\";
      return;
    default:
      break;
  }
  // C1 controls too, which some terminals obey as well.
  AppendHex(out, c < 0x80 ? "\\x" : "\\u00", static_cast<unsigned char>(c));
}

bool IsControl(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == U'\\';
}

// Text as given (a path on the command line, or UTF-8 made from a name or text) that cannot
// drive the terminal or break the columns: control characters, and the backslash so that the
// escapes read back unambiguously, are written as escapes; bytes that are not UTF-8 as \xNN.
std::string Printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t start = i;
    const char32_t c = platform::DecodeUtf8(text, i);
    if (c == platform::kReplacementCharacter && i - start == 1) {
      AppendHex(out, "\\x", static_cast<unsigned char>(text[start]));
    } else if (IsControl(c)) {
      AppendEscaped(out, c);
    } else {
      out.append(text, start, i - start);
    }
  }
  return out;
}

std::string Printable(std::u16string_view text) {
  return Printable(std::string_view(platform::ToUtf8(text)));
}

std::string DescribeFailure(LoadFailure failure) {
  switch (failure) {
    case LoadFailure::None:
    case LoadFailure::NotFound:
      break;
    case LoadFailure::PermissionDenied:
      return "permission denied";
    case LoadFailure::NotRegularFile:
      return "not a regular file";
    case LoadFailure::PathTooLong:
      return "path too long";
    case LoadFailure::TooLarge:
      return "file too large (more than " + std::to_string(TextLineReader::kMaxFileSize >> 20) +
             " MiB)";
    case LoadFailure::TooManyPrompts:
      return "more than " + std::to_string(kMaxPrompts) + " prompts";
    case LoadFailure::ReadFailed:
      return "read error";
    case LoadFailure::OutOfMemory:
      return "out of memory";
    case LoadFailure::Other:
      return "cannot be opened";
  }
  return "file not found";
}

Counts Count(const Lesson& lesson) {
  Counts counts;
  for (const auto& entry : lesson.prompts.entries) {
    ++counts.prompts;
    counts.recorded += entry->recorded ? 1 : 0;
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

// Loads the lesson named on the command line; false with the reason in `why` when it fails.
bool Load(Lesson& lesson, const std::string& path, Lesson::LoadOptions options, std::string& why,
          bool* saved = nullptr) {
  // Such a name could only be passed on with its bytes replaced, naming some other file or none.
  if (!platform::IsValidUtf8(path)) {
    why = "file name is not valid UTF-8";
    return false;
  }
  const LoadOutcome outcome = lesson.LoadLesson(AbsolutePath(path), options);
  if (saved != nullptr) {
    *saved = outcome.saved;
  }
  if (outcome.result != LoadResult::Loaded) {
    why = Describe(outcome);
    return false;
  }
  return true;
}

int Check(const std::vector<std::string>& paths, std::ostream& out) {
  int status = kExitOk;
  for (const std::string& path : paths) {
    Lesson lesson;
    std::string why;
    if (!Load(lesson, path, {.dryRun = true}, why)) {
      out << Printable(path) << ": " << why << "\n";
      status = kExitFailed;
      continue;
    }
    lesson.ScanRecordedPrompts();
    const Counts counts = Count(lesson);
    out << Printable(path) << ": " << counts.prompts << " prompts, " << counts.recorded
        << " recorded, " << counts.pending << " pending\n";
  }
  return status;
}

int List(const std::string& path, std::ostream& out, std::ostream& err) {
  Lesson lesson;
  std::string why;
  if (!Load(lesson, path, {.dryRun = true}, why)) {
    err << Printable(path) << ": " << why << "\n";
    return kExitFailed;
  }
  lesson.ScanRecordedPrompts();
  int number = 0;
  for (const auto& entry : lesson.prompts.entries) {
    out << ++number << '\t' << Status(*entry) << '\t' << Printable(entry->name) << '\t'
        << Printable(entry->text) << '\n';
  }
  return kExitOk;
}

int Normalize(const std::vector<std::string>& paths, std::ostream& out) {
  int status = kExitOk;
  for (const std::string& path : paths) {
    Lesson lesson;
    std::string why;
    const std::string printable = Printable(path);
    bool saved = false;
    if (!Load(lesson, path, {}, why, &saved)) {
      out << printable << ": " << why << "\n";
      status = kExitFailed;
      continue;
    }
    if (saved) {
      out << printable << ": " << lesson.prompts.count << " prompts, rewritten\n";
    } else {
      out << printable << ": cannot write file: " << lesson.saveError() << "\n";
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
      return DescribeFailure(outcome.failure);
    case LoadResult::FileEmpty:
      return "file is empty";
    case LoadResult::BadLine:
      break;
  }
  const std::string line = "line " + std::to_string(outcome.badLine) + ": ";
  if (outcome.badLineReason == BadLineReason::NameTooLong) {
    return line + "name longer than " + std::to_string(kMaxPromptNameLength) + " characters";
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
