// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/new_command.h"

#include <optional>

#include "cli/command_line.h"
#include "cli/command_support.h"
#include "cli/usage_text.h"
#include "import/new_lesson.h"
#include "platform/utf8.h"

namespace voxtar::cli {

namespace {

struct Options {
  std::optional<std::string> index;
  std::optional<std::string> from;
  std::optional<std::string> caption;
  std::optional<std::string> prefix;
  bool force = false;
  bool takeOver = false;
};

// Parses the options; a usage error is reported and returned as its exit status.
std::optional<int> Parse(const std::vector<std::string>& args, Options& options, std::ostream& out,
                         std::ostream& err) {
  CommandLine line;
  line.Valued("--from", &options.from, "value");
  line.Valued("--caption", &options.caption, "value");
  line.Valued("--prefix", &options.prefix, "value");
  line.Flag("--force", &options.force);
  line.Flag("--take-over", &options.takeOver);
  std::vector<std::string> operands;
  if (const std::optional<int> status = line.Parse(args, &operands, out, err)) {
    return status;
  }
  if (operands.size() > 1) {
    return UsageError(err, "new takes exactly one INDEX");
  }
  if (operands.empty()) {
    return UsageError(err, "new needs an INDEX");
  }
  options.index = operands.front();
  if (!options.from) {
    return UsageError(err, "new needs --from FILE, the list of sentences");
  }
  if (!platform::IsValidUtf8(options.caption.value_or("")) ||
      !platform::IsValidUtf8(options.prefix.value_or(""))) {
    return UsageError(err, "--caption and --prefix must be valid UTF-8");
  }
  return std::nullopt;
}

std::optional<std::u16string> Wide(const std::optional<std::string>& text) {
  if (!text) {
    return std::nullopt;
  }
  return platform::FromUtf8(*text);
}

// A path the tool made absolute, shown as it was given: relative paths stay relative.
class Shown {
 public:
  explicit Shown(const std::string& given) : cwd_(AbsolutePath(given)) {
    cwd_.resize(cwd_.size() - platform::FromUtf8(given).size());
  }
  std::string operator()(const std::u16string& path) const {
    return Printable(path.starts_with(cwd_) ? std::u16string_view(path).substr(cwd_.size())
                                            : std::u16string_view(path));
  }

 private:
  std::u16string cwd_;  // what AbsolutePath put in front: empty for an absolute path
};

}  // namespace

int RunNew(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Options options;
  if (const std::optional<int> status = Parse(args, options, out, err)) {
    return *status;
  }
  // Such a name could only be passed on with its bytes replaced, naming some other file or none.
  for (const std::string* path : {&*options.index, &*options.from}) {
    if (!platform::IsValidUtf8(*path)) {
      err << Printable(*path) << ": file name is not valid UTF-8\n";
      return kExitFailed;
    }
  }
  const import::NewLessonOutcome outcome =
      import::MakeLesson(AbsolutePath(*options.index), AbsolutePath(*options.from),
                         {.caption = Wide(options.caption),
                          .prefix = Wide(options.prefix),
                          .force = options.force,
                          .takeOver = options.takeOver});
  const Shown shown(*options.index);
  const std::string index = shown(outcome.indexPath);
  const std::string list = shown(outcome.listPath);
  if (!outcome.made) {
    switch (outcome.concern) {
      case import::Concern::Sentences:
        err << Printable(*options.from);
        if (outcome.line > 0) {
          err << ":" << outcome.line;
        }
        break;
      case import::Concern::Index:
        err << index;
        break;
      case import::Concern::LessonList:
        err << list;
        break;
    }
    err << ": " << Printable(outcome.holder ? HeldLockText(*outcome.holder) : outcome.reason);
    if (outcome.indexWritten) {
      err << "; " << index << " was written";
    }
    err << "\n";
    return outcome.badRequest ? kExitUsage : kExitFailed;
  }
  out << index << ": " << Counted(outcome.prompts, "prompt", "prompts") << ", ";
  switch (outcome.listing) {
    case import::Listing::Added:
      out << "added to ";
      break;
    case import::Listing::AlreadyListed:
      out << "already in ";
      break;
    case import::Listing::ListedHidden:
      out << "listed as hidden in ";
      break;
  }
  out << list << "\n";
  return kExitOk;
}

}  // namespace voxtar::cli
