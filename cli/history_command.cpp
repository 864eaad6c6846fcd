// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/history_command.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string_view>
#include <utility>

#include "cli/command_line.h"
#include "cli/command_support.h"
#include "cli/usage_text.h"
#include "history/take_history.h"
#include "lesson/lesson.h"
#include "lesson/lesson_lock.h"
#include "lesson/lesson_paths.h"
#include "lesson/working_directory.h"
#include "measures/delivery_profile.h"
#include "measures/judgement.h"
#include "measures/lesson_judging.h"
#include "platform/file_system.h"
#include "text/wide_string.h"

namespace voxtar::cli {

namespace {

using history::EarlierTake;
using history::TakeHistory;

struct Arguments {
  std::vector<std::string> operands;
  bool json = false;
  std::optional<std::string> keep;
  std::string profile;  // empty: the working directory's profile file, else course
  bool takeOver = false;
};

// The options a command takes besides --help.
struct Accepts {
  bool json = false;
  bool keep = false;
  bool profile = false;
  bool takeOver = false;  // the writers'
};

// Parses the options; a usage error is reported and returned as its exit status.
std::optional<int> Parse(const std::vector<std::string>& args, Accepts accepts, Arguments* parsed,
                         std::ostream& out, std::ostream& err) {
  CommandLine line;
  if (accepts.json) {
    line.Flag("--json", &parsed->json);
  }
  if (accepts.takeOver) {
    line.Flag("--take-over", &parsed->takeOver);
  }
  if (accepts.keep) {
    line.Valued("--keep", &parsed->keep, "number");
  }
  if (accepts.profile) {
    line.Valued("--profile", &parsed->profile, "NAME or FILE");
  }
  return line.Parse(args, &parsed->operands, out, err);
}

// Loads a lesson whose takes restore or prune change, under its lock, which `lock` keeps until
// the write is done: a window that has the lesson open is not changed under its feet.
bool LoadForWriting(lesson::Lesson& lesson, std::optional<lesson::LessonLock>& lock,
                    const std::string& path, bool takeOver, std::string& why) {
  return LoadNamed(lesson, path, {.dryRun = true}, why) &&
         LockForWriting(lock.emplace(lesson.IndexPath()), takeOver, why);
}

// The take history of a loaded lesson, confined to its working directory.
TakeHistory HistoryOf(const lesson::Lesson& lesson) {
  return TakeHistory(lesson.paths.promptDirectory, lesson.paths.workingDirectory);
}

// The lesson's prompt of that name (letter case ignored, as the recorded-prompt scan does).
const lesson::PromptEntry* FindPrompt(const lesson::Lesson& lesson, const std::string& name) {
  if (!platform::IsValidUtf8(name)) {
    return nullptr;
  }
  std::u16string wanted = platform::FromUtf8(name);
  text::FoldLower(wanted);
  for (const lesson::PromptEntry* entry : lesson.prompts.entries) {
    std::u16string folded(entry->name);
    text::FoldLower(folded);
    if (folded == wanted) {
      return entry;
    }
  }
  return nullptr;
}

int NotAPrompt(const std::string& path, const std::string& name, std::ostream& err) {
  err << Printable(path) << ": " << Printable(name) << ": not a prompt of this lesson\n";
  return kExitFailed;
}

// When a take was saved, in local time: "2026-12-07 22:41:05", or for machines
// "2026-12-07T22:41:05.123+01:00".
std::string LocalTime(history::SavedTime saved, bool forMachines) {
  const auto seconds = std::chrono::floor<std::chrono::seconds>(saved);
  const std::time_t time = std::chrono::system_clock::to_time_t(seconds);
  std::tm local{};
  ::localtime_r(&time, &local);
  char date[16];
  char clock[16];
  std::strftime(date, sizeof date, "%Y-%m-%d", &local);
  std::strftime(clock, sizeof clock, "%H:%M:%S", &local);
  std::string text = std::string(date) + (forMachines ? 'T' : ' ') + clock;
  if (forMachines) {
    const long offset = local.tm_gmtoff / 60;
    char rest[48];
    std::snprintf(rest, sizeof rest, ".%03d%c%02ld:%02ld",
                  static_cast<int>((saved - seconds).count()), offset < 0 ? '-' : '+',
                  std::labs(offset) / 60, std::labs(offset) % 60);
    text += rest;
  }
  return text;
}

// An earlier take with the prompt it belongs to, as the lesson names it, and its judgement by
// the lesson's delivery profile on its own (consistency across the lesson is for the takes in use).
struct PromptTake {
  std::u16string prompt;
  EarlierTake take;
  std::optional<measures::Judgement> judgement;
};

// The problems as voxtar-lesson names them; "ok" without any.
std::vector<std::string_view> Verdicts(const measures::Judgement& judgement) {
  std::vector<std::string_view> words;
  for (const measures::Finding& finding : judgement.findings) {
    words.push_back(measures::ProblemName(finding.problem));
  }
  if (words.empty()) {
    words.emplace_back("ok");
  }
  return words;
}

void WriteText(const std::string& path, const std::vector<PromptTake>& takes, std::ostream& out) {
  out << Printable(path) << ": " << Counted(takes.size(), "earlier take", "earlier takes") << "\n";
  for (const auto& [prompt, take, judgement] : takes) {
    out << Printable(prompt) << '\t' << take.number << '\t' << LocalTime(take.saved, false) << '\t';
    if (!judgement) {
      out << "unreadable: " << Printable(take.error) << '\n';
      continue;
    }
    out << text::Fixed(take.seconds, 2) << " s\t";
    const char* comma = "";
    for (const std::string_view word : Verdicts(*judgement)) {
      out << comma << word;
      comma = ", ";
    }
    out << '\n';
  }
}

void WriteJson(const std::string& path, const std::vector<PromptTake>& takes, std::ostream& out) {
  out << "{\"index\": " << text::JsonString(path) << ", \"takes\": [";
  const char* separator = "\n  ";
  for (const auto& [prompt, take, judgement] : takes) {
    out << separator << "{\"name\": " << text::JsonString(platform::ToUtf8(prompt))
        << ", \"number\": " << take.number << ", \"saved\": \"" << LocalTime(take.saved, true)
        << "\"";
    separator = ",\n  ";
    if (!judgement) {
      out << ", \"error\": " << text::JsonString(take.error) << "}";
      continue;
    }
    out << ", \"seconds\": " << text::Fixed(take.seconds, 3)
        << ", \"ok\": " << (judgement->ok() ? "true" : "false") << ", \"verdicts\": [";
    const char* comma = "";
    for (const std::string_view word : Verdicts(*judgement)) {
      out << comma << text::JsonString(word);
      comma = ", ";
    }
    out << "]}";
  }
  out << "]}\n";
}

// "512 bytes", "3.4 KiB", "12.0 MiB", "1.5 GiB".
std::string Size(std::uint64_t bytes) {
  if (bytes < 1024) {
    return std::to_string(bytes) + " bytes";
  }
  static constexpr const char* kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
  double value = static_cast<double>(bytes) / 1024.0;
  std::size_t unit = 0;
  while (value >= 1024.0 && unit + 1 < std::size(kUnits)) {
    value /= 1024.0;
    ++unit;
  }
  return text::Fixed(value, 1) + " " + kUnits[unit];
}

std::string Removed(const history::Freed& freed) {
  return Counted(freed.files, "earlier take", "earlier takes") + " removed, " + Size(freed.bytes) +
         " freed";
}

}  // namespace

int RunHistory(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Arguments parsed;
  if (const std::optional<int> status =
          Parse(args, {.json = true, .profile = true}, &parsed, out, err)) {
    return *status;
  }
  if (parsed.operands.empty()) {
    return UsageError(err, "history needs an INDEX");
  }
  const std::string& path = parsed.operands.front();
  lesson::Lesson lesson;
  std::string why;
  if (!LoadNamed(lesson, path, {.dryRun = true}, why)) {
    err << Printable(path) << ": " << why << "\n";
    return kExitFailed;
  }
  int status = kExitOk;
  std::vector<std::u16string> prompts;
  if (parsed.operands.size() == 1) {
    for (const lesson::PromptEntry* entry : lesson.prompts.entries) {
      prompts.emplace_back(entry->name);
    }
  }
  for (std::size_t i = 1; i < parsed.operands.size(); ++i) {
    if (const lesson::PromptEntry* entry = FindPrompt(lesson, parsed.operands[i])) {
      prompts.emplace_back(entry->name);
    } else {
      status = NotAPrompt(path, parsed.operands[i], err);
    }
  }
  measures::ProfileError profileError;
  const std::optional<measures::DeliveryProfile> profile =
      measures::LessonProfile(parsed.profile, lesson.paths.workingDirectory, &profileError);
  if (!profile) {
    err << Printable(profileError.Text()) << "\n";
    return kExitFailed;
  }
  const TakeHistory history = HistoryOf(lesson);
  std::vector<PromptTake> all;
  for (const std::u16string& prompt : prompts) {
    std::vector<EarlierTake> takes;
    const history::Result result = history.Earlier(prompt, &takes, history::Detail::Measures);
    if (!result.ok()) {
      err << Printable(path) << ": " << Printable(result.error) << "\n";
      return kExitFailed;
    }
    for (EarlierTake& take : takes) {
      std::optional<measures::Judgement> judgement;
      if (take.measures) {
        judgement = measures::Judge(*take.measures, *profile, {});
      }
      all.push_back({prompt, std::move(take), std::move(judgement)});
    }
  }
  if (parsed.json) {
    WriteJson(path, all, out);
  } else {
    WriteText(path, all, out);
  }
  return status;
}

int RunRestore(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Arguments parsed;
  if (const std::optional<int> status = Parse(args, {.takeOver = true}, &parsed, out, err)) {
    return *status;
  }
  const std::vector<std::string>& operands = parsed.operands;
  if (operands.size() < 2 || operands.size() > 3) {
    return UsageError(err, "restore needs an INDEX, a NAME and at most a number");
  }
  const std::optional<int> number = operands.size() == 3 ? Number(operands[2], 1) : 1;
  if (!number) {
    return UsageError(err, "restore needs the number of an earlier take (1 or more)");
  }
  const std::string& path = operands[0];
  lesson::Lesson lesson;
  std::optional<lesson::LessonLock> lock;
  std::string why;
  if (!LoadForWriting(lesson, lock, path, parsed.takeOver, why)) {
    err << Printable(path) << ": " << why << "\n";
    return kExitFailed;
  }
  const lesson::PromptEntry* prompt = FindPrompt(lesson, operands[1]);
  if (prompt == nullptr) {
    return NotAPrompt(path, operands[1], err);
  }
  const history::Result result = HistoryOf(lesson).Restore(prompt->name, *number);
  if (!result.ok()) {
    err << Printable(path) << ": " << Printable(result.error) << "\n";
    return kExitFailed;
  }
  out << Printable(path) << ": " << Printable(prompt->name) << ": earlier take " << *number
      << " restored; the take it replaced is kept as an earlier take\n";
  return kExitOk;
}

int RunPrune(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Arguments parsed;
  if (const std::optional<int> status =
          Parse(args, {.keep = true, .takeOver = true}, &parsed, out, err)) {
    return *status;
  }
  if (!parsed.keep) {
    return UsageError(err, "prune needs --keep N");
  }
  const std::optional<int> keep = Number(*parsed.keep, 0);
  if (!keep) {
    return UsageError(err, "--keep needs a number (0 or more)");
  }
  if (parsed.operands.empty()) {
    return UsageError(err, "prune needs at least one INDEX");
  }
  int status = kExitOk;
  history::Freed total;
  for (const std::string& path : parsed.operands) {
    lesson::Lesson lesson;
    std::optional<lesson::LessonLock> lock;
    std::string why;
    if (!LoadForWriting(lesson, lock, path, parsed.takeOver, why)) {
      out << Printable(path) << ": " << why << "\n";
      status = kExitFailed;
      continue;
    }
    history::Freed freed;
    const history::Result result = HistoryOf(lesson).Prune(*keep, &freed);
    out << Printable(path) << ": " << Removed(freed) << "\n";
    if (!result.ok()) {
      out << Printable(path) << ": " << Printable(result.error) << "\n";
      status = kExitFailed;
    }
    total.files += freed.files;
    total.bytes += freed.bytes;
  }
  out << "total: " << Removed(total) << "\n";
  return status;
}

}  // namespace voxtar::cli
