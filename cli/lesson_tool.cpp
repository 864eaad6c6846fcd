#include "cli/lesson_tool.h"

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string_view>

#include "cli/export_command.h"
#include "cli/history_command.h"
#include "cli/new_command.h"
#include "cli/report_command.h"
#include "cli/takes_command.h"
#include "lesson/lesson.h"
#include "lesson/lesson_lock.h"
#include "lesson/lesson_paths.h"
#include "lesson/working_directory.h"
#include "platform/file_system.h"
#include "text/text_line_reader.h"
#include "version.h"

namespace voxtar::cli {

namespace {

constexpr std::string_view kProgram = "voxtar-lesson";

constexpr std::string_view kUsage =
    R"(Usage: voxtar-lesson check INDEX...
       voxtar-lesson list INDEX
       voxtar-lesson normalize [--take-over] INDEX...
       voxtar-lesson takes [--template PATH] [--profile NAME|FILE] [--json] INDEX...
       voxtar-lesson report [--template PATH] [--profile NAME|FILE] -o FILE INDEX...
       voxtar-lesson new INDEX --from FILE [--caption TEXT] [--prefix P] [--force] [--take-over]
       voxtar-lesson history [--profile NAME|FILE] [--json] INDEX [NAME...]
       voxtar-lesson restore [--take-over] INDEX NAME [N]
       voxtar-lesson prune [--take-over] --keep N INDEX...
       voxtar-lesson export --to DIR [OPTION...] INDEX...
Checks, lists and normalizes the lesson indexes of a recording course, judges
their recorded takes against a delivery profile and reports on them in a web
page, lists, restores and prunes the earlier takes that saving a take over
another keeps, makes lessons from lists of sentences, and exports the takes in
the shape a delivery expects.

Commands:
  check INDEX...      tell for each lesson whether it loads, with its number of
                      prompts, recorded prompts and pending prompts, and below it
                      one line per symbolic link leading outside the working
                      directory (the index, a take, the prompt directory) and
                      one per line of the index beyond its limits, as
                      FILE:LINE; nothing is created or written
  list INDEX          one line per prompt, tab-separated: number, status
                      (short, pending or recorded), name and stored text,
                      control characters and "\" written as escapes (\t,
                      \x1b, \\); nothing is created or written
  normalize INDEX...  load each lesson as the recorder does (prompt
                      directories created, index rewritten in UTF-16LE); an
                      index that is a link leading outside the working
                      directory, a lesson that is open in the recorder, or an
                      index with a line beyond the limits (a name of more
                      than 31 characters, a text of more than 511, text after
                      a carriage return), which would lose text, is left as
                      it is
    --take-over       break the lesson's lock (see below)
  takes INDEX...      measure each recorded take and judge it against the
                      delivery profile, alone and within its lesson: one line
                      per prompt with its problems (ok, clipped, too quiet,
                      too loud, silent, cut at the start or end, long silence
                      at the start or end, noisy, loudness off target, true
                      peak too high, format mismatch, loudness or pace unlike
                      the lesson), duration, peak, RMS, the silence before and
                      after the speech, and the figures the profile judges
                      beyond these; "missing" without a take, "short" for
                      prompts too short to speak; names and errors escaped as
                      list does; writes nothing but the user's measure
                      cache ($XDG_CACHE_HOME/voxtar, else ~/.cache/voxtar)
    --template PATH   the recording takes must match in rate, channels and
                      sample format (default: sample.wav here)
    --profile NAME|FILE
                      the delivery profile: course, acx, ebu-r128, tts, or a
                      profile file (default: the delivery.ini of each
                      lesson's working directory when there is one, else
                      course)
    --json            the same as JSON, with every measure
  report INDEX...     measure and judge each recorded take as takes does, and
                      write one HTML file that stands alone (no script, nothing
                      fetched, prints black on white): per lesson its counts
                      (prompts, recorded, pending, passing, flagged), a chart of
                      each take's loudness and true peak by prompt number with
                      the profile's band and the lesson's median, a histogram of
                      the takes' lengths, and a table of the flagged takes with
                      their problems and of the prompts without a take; each
                      lesson headed by its caption in the lesson list; then
                      the totals; writes nothing else but
                      the measure cache; a lesson that does not load is named
                      in the report
    -o FILE           the report, a name ending in .html or .htm; replaced
                      whole or not at all; a symbolic link there is refused
    --template PATH   as for takes (default: sample.wav here when there is one,
                      else formats are not judged)
    --profile NAME|FILE
                      the delivery profile, as for takes
  new INDEX           make a lesson from a list of sentences: the index INDEX,
                      its prompt directory, and a caption line and a lesson
                      line in Ini/lessons.ini of its working directory (in the
                      encoding and line endings that file has); one prompt per
                      line of the list (UTF-8, blank lines skipped), whose
                      first line decides the form of all: NAME<TAB>TEXT,
                      NAME|TEXT|... (LJSpeech), or plain sentences, named
                      P001.wav, P002.wav, ... (four digits from 1000 prompts
                      on); ".wav" is added to a name that does not end in it;
                      every rule of the index is checked first, the first
                      line that breaks one is reported as FILE:LINE, and then
                      nothing is written
    --from FILE       the list of sentences
    --caption TEXT    the caption line in the lesson list (default: the lesson
                      name)
    --prefix P        P of the names of plain sentences (default: the lesson
                      name and "_", as in unit05_001.wav)
    --force           replace an index that exists (its takes stay)
    --take-over       break the lesson's lock (see below)
  history INDEX [NAME...]
                      one line per earlier take of each prompt (or of the
                      prompts NAME...): prompt, number (1 = the take replaced
                      last), time it was saved, length and problems by the
                      delivery profile (as takes judges a take alone); nothing
                      is created or written
    --profile NAME|FILE
                      the delivery profile, as for takes
    --json            the same as JSON
  restore INDEX NAME [N]
                      earlier take N (default 1) of prompt NAME becomes its
                      take again and the take it replaces earlier take 1, so
                      restore without N swaps the last two takes, whatever
                      came before; the index is not changed
    --take-over       break the lesson's lock (see below)
  prune INDEX...      remove all but the N most recently replaced earlier
                      takes of each prompt, and tell how much space that freed
    --keep N          how many earlier takes of each prompt to keep
    --take-over       break the lesson's lock (see below)
  export INDEX...     write the takes that pass the delivery profile (judged
                      as takes judges them, the format aside) into DIR: one
                      WAV file per take in DIR/wavs, named after its prompt
                      without ".wav", and a list of them; pending, missing,
                      unreadable and flagged takes are left out, and so is a
                      take whose name another lesson of the run has (letter
                      case aside), each named on standard error with why (a
                      flagged one with its problem words); a file made before
                      from the same take with the same settings is skipped;
                      the list is written last, once every file is in, and
                      the files an earlier export wrote that it leaves out
                      are removed (each named on standard error); a run that
                      fails keeps the earlier list and its files; nothing is
                      written into the working directory
    --to DIR          the directory to export into, made if missing; not
                      inside a lesson's working directory; refused when its
                      wavs, .voxtar-export or lists are symbolic links
    --format F        ljspeech: metadata.csv, NAME|text|text lines, a "|" in
                      a text written as U+FF5C, the fullwidth vertical line
                      (default); csv: takes.csv, RFC 4180 with a header row
                      and the measures; json: takes.json, one object per take
                      with the measures
    --rate HZ         resampled with libsoxr (default: the rate of the
                      lesson's template recording, sample.wav in its working
                      directory, else the take's)
    --bits B          16, 24 or 32f (32-bit float; default 16), dithered
                      (TPDF) when fewer than the take's, or after any gain,
                      mixing down or resampling
    --channels N      1 (the take's averaged) or 2 (copied; default: the
                      template recording's, else the take's)
    --loudness LUFS   the integrated loudness every take is brought to
                      (default: the profile's export-loudness, else none),
                      never above the profile's export-true-peak and
                      export-peak nor full scale: a take's line says when a
                      limit held its gain back
    --trim            keep only the profile's export-trim-head and
                      export-trim-tail seconds before and after the voice
                      (without them 0.2 s, or min-head and min-tail where
                      more)
    --include-flagged
                      export flagged takes too
    --profile NAME|FILE
                      the delivery profile, as for takes

Options:
  -h, --help          show this help and exit
      --version       show the version and exit

An INDEX is the path of a lesson index below a directory named "ini" (any
letter case); whatever its extension, the ".idx" file of that name is read (or,
by new, made).
Recordings are looked for in the lesson's directory under "Prompt", each by
its prompt's name whatever the letter case of either. The working directory is
what comes before that "ini": nothing is written through a symbolic link
leading outside it.
Earlier takes are kept in the hidden folder ".history" of a prompt directory.
The writers (normalize, new, restore, prune) hold the lesson's lock, as the
recorder holds it while the lesson is open; a lesson locked by someone else is
left alone, and its holder named. --take-over breaks that lock: use it only when
the holder (on another computer, say) no longer runs on that lesson.

Exit status: 0 when every lesson loads (and, for check, has no line beyond the
limits; for normalize, was written; for
takes, every recorded take passes; for report, the report was written, whether
or not takes are flagged; for restore and prune, the takes were changed; for
history and restore, every NAME is a prompt of the lesson and the earlier take
exists; for new, the lesson was made; for export, every take went out), 1
otherwise, 2 on bad usage (for new also an INDEX outside an "ini" folder of its
working directory, or names made from the prefix that break a rule).
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
    case LoadFailure::LessonStillOpen:
      return "the lesson open before could not be written back";
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

void ReportLink(std::ostream& out, std::u16string_view link, const std::filesystem::path& target) {
  out << "  " << Printable(link) << " -> " << Printable(target.native())
      << ": outside the working directory\n";
}

// The links of a lesson that lead outside its working directory: the index and the takes would
// not be written through them; the prompt directory works, but its takes go elsewhere.
void ReportLinksOutside(const Lesson& lesson, std::ostream& out) {
  const std::u16string& working = lesson.paths.workingDirectory;
  const std::u16string& prompts = lesson.paths.promptDirectory;
  if (const auto target = platform::LinkLeadingOutside(lesson.IndexPath(), working)) {
    ReportLink(out, lesson.IndexPath(), *target);
  }
  if (const auto target = platform::DirectoryOutside(prompts, working)) {
    ReportLink(out, prompts, *target);
  }
  for (const std::u16string& name : platform::ListDirectory(prompts, u"*")) {
    if (const auto target = platform::LinkLeadingOutside(prompts + name, working)) {
      ReportLink(out, prompts + name, *target);
    }
  }
}

// The index file a path given for a lesson names, as the user wrote its directory: the lines of
// the file are named as FILE:LINE.
std::string IndexFileAsGiven(const std::string& given, const Lesson& lesson) {
  return Printable(given.substr(0, given.rfind('/') + 1) + platform::ToUtf8(lesson.lessonName) +
                   platform::ToUtf8(workdir::kIndexExtension));
}

// The lines beyond the limits that keep a lesson read-only.
void ReportOverlongLines(const std::string& path, const Lesson& lesson, const LoadOutcome& outcome,
                         std::ostream& out) {
  const std::string file = IndexFileAsGiven(path, lesson);
  for (const OverlongLine& line : outcome.overlong) {
    out << "  " << file << ":" << line.line << ": beyond the limits: " << line.Text() << "\n";
  }
  if (const auto more = outcome.overlongCount - static_cast<int>(outcome.overlong.size());
      more > 0) {
    out << "  " << file << ": " << more << " more lines beyond the limits\n";
  }
}

int Check(const std::vector<std::string>& paths, std::ostream& out) {
  int status = kExitOk;
  for (const std::string& path : paths) {
    Lesson lesson;
    std::string why;
    LoadOutcome outcome;
    if (!LoadNamed(lesson, path, {.dryRun = true}, why, &outcome)) {
      out << Printable(path) << ": " << why << "\n";
      status = kExitFailed;
      continue;
    }
    lesson.ScanRecordedPrompts();
    const Counts counts = Count(lesson);
    out << Printable(path) << ": " << Counted(counts.prompts, "prompt", "prompts") << ", "
        << counts.recorded << " recorded, " << counts.pending << " pending\n";
    ReportLinksOutside(lesson, out);
    if (outcome.overlongCount > 0) {
      // It opens for viewing only, and normalize refuses it.
      ReportOverlongLines(path, lesson, outcome, out);
      status = kExitFailed;
    }
  }
  return status;
}

int List(const std::string& path, std::ostream& out, std::ostream& err) {
  Lesson lesson;
  std::string why;
  if (!LoadNamed(lesson, path, {.dryRun = true}, why)) {
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

// Normalizes one lesson under its lock, so that a window that has it open never loses its
// changes to the rewrite; false (with a line saying why) when it is not rewritten.
bool NormalizeOne(const std::string& path, bool takeOver, std::ostream& out) {
  const std::string printable = Printable(path);
  std::optional<LessonLock> lock;
  if (platform::IsValidUtf8(path)) {
    const LessonLocation location = LocateLesson(AbsolutePath(path));
    std::string why;
    if (location.result == LoadResult::Loaded &&
        !LockForWriting(lock.emplace(location.indexPath), takeOver, why)) {
      out << printable << ": " << why << "\n";
      return false;
    }
  }
  Lesson lesson;
  std::string why;
  LoadOutcome outcome;
  if (!LoadNamed(lesson, path, {}, why, &outcome)) {
    out << printable << ": " << why << "\n";
    return false;
  }
  if (outcome.overlongCount > 0) {
    const OverlongLine& first = outcome.overlong.front();
    out << IndexFileAsGiven(path, lesson) << ":" << first.line << ": not written: " << first.Text();
    if (outcome.overlongCount > 1) {
      out << " (" << outcome.overlongCount << " lines beyond the limits)";
    }
    out << "; written back, the index would lose text\n";
    return false;
  }
  if (outcome.linkRefusal) {
    out << printable << ": not written: " << Printable(outcome.linkRefusal->link.native())
        << " is a link to " << Printable(outcome.linkRefusal->target.native())
        << " outside the working directory\n";
    return false;
  }
  if (!outcome.saved) {
    out << printable << ": cannot write file: " << Printable(lesson.saveError()) << "\n";
    return false;
  }
  out << printable << ": " << Counted(lesson.prompts.count, "prompt", "prompts") << ", rewritten\n";
  return true;
}

int Normalize(const std::vector<std::string>& paths, bool takeOver, std::ostream& out) {
  int status = kExitOk;
  for (const std::string& path : paths) {
    if (!NormalizeOne(path, takeOver, out)) {
      status = kExitFailed;
    }
  }
  return status;
}

}  // namespace

// The backslash is escaped too, so that the escapes read back unambiguously.
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

bool LoadNamed(Lesson& lesson, const std::string& path, Lesson::LoadOptions options,
               std::string& why, LoadOutcome* outcome) {
  // Such a name could only be passed on with its bytes replaced, naming some other file or none.
  if (!platform::IsValidUtf8(path)) {
    why = "file name is not valid UTF-8";
    return false;
  }
  const LoadOutcome loaded = lesson.LoadLesson(AbsolutePath(path), options);
  if (outcome != nullptr) {
    *outcome = loaded;
  }
  if (loaded.result != LoadResult::Loaded) {
    why = Describe(loaded);
    return false;
  }
  return true;
}

std::string JsonString(std::string_view text) {
  std::string quoted = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t start = i;
    const char32_t c = platform::DecodeUtf8(text, i);
    if (c == U'"' || c == U'\\') {
      quoted += '\\';
      quoted += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
      quoted += escaped;
    } else if (c == platform::kReplacementCharacter && i - start == 1) {
      quoted += "\\ufffd";
    } else {
      quoted.append(text, start, i - start);
    }
  }
  return quoted + "\"";
}

std::string Fixed(double value, int decimals) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::optional<int> Number(std::string_view text, int least) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || text.front() < '0' || text.front() > '9' || error != std::errc() ||
      end != text.data() + text.size() || value < least) {
    return std::nullopt;
  }
  return value;
}

std::string HeldLockText(const platform::LockFile::Holder& holder) {
  std::string text = DescribeHolder(holder);
  if (holder.incomplete) {
    text += "; if it stays so, run again with --take-over";
  } else if (holder.elsewhere) {
    text += "; if that computer no longer runs Voxtar on this lesson, run again with --take-over";
  } else {
    text +=
        "; close the lesson there first, or run again with --take-over if that process no "
        "longer uses it";
  }
  return text;
}

bool LockForWriting(LessonLock& lock, bool takeOver, std::string& why) {
  if ((takeOver ? lock.TakeOver() : lock.Acquire()) == LessonLock::Result::Held) {
    why = HeldLockText(lock.holder());
    return false;
  }
  return true;
}

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
  return "line " + std::to_string(outcome.badLine) + ": no space";
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
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (first == "takes") {
    return RunTakes(rest, out, err);
  }
  if (first == "report") {
    return RunReport(rest, out, err);
  }
  if (first == "history") {
    return RunHistory(rest, out, err);
  }
  if (first == "restore") {
    return RunRestore(rest, out, err);
  }
  if (first == "prune") {
    return RunPrune(rest, out, err);
  }
  if (first == "new") {
    return RunNew(rest, out, err);
  }
  if (first == "export") {
    return RunExport(rest, out, err);
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
  bool takeOver = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!optionsEnded && arg == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && (arg == "-h" || arg == "--help")) {
      out << kUsage;
      return kExitOk;
    } else if (!optionsEnded && command == Command::Normalize && arg == "--take-over") {
      takeOver = true;
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
      return Normalize(paths, takeOver, out);
  }
  return kExitUsage;
}

}  // namespace voxtar::cli
