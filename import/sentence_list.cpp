// SPDX-License-Identifier: GPL-3.0-or-later
#include "import/sentence_list.h"

#include <algorithm>
#include <unordered_map>

#include "import/line_rules_p.h"
#include "lesson/lesson.h"
#include "platform/utf8.h"
#include "text/wide_string.h"

namespace voxtar::import {

namespace {

constexpr std::u16string_view kTakeExtension = u".wav";
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
// Fewer leading zeros than this are never made: P001, not P1.
constexpr std::size_t kMinDigits = 3;

struct Line {
  int number = 0;
  std::string_view bytes;
};

SentenceList Refused(int line, std::string reason) {
  SentenceList list;
  list.refusal = ListRefusal{line, std::move(reason)};
  return list;
}

// The rules every name keeps, given in the list or made from the prefix.
std::string NameFault(std::u16string_view name) {
  // Such a name would leave the prompt directory.
  if (name.find(u'/') != std::u16string_view::npos) {
    return "cannot be a file name";
  }
  if (name.starts_with(u'.')) {
    return "begins with \".\", which hides the file";
  }
  if (name.size() > lesson::kMaxPromptNameLength) {
    return "is longer than " + std::to_string(lesson::kMaxPromptNameLength) + " characters";
  }
  if (name.find(u' ') != std::u16string_view::npos) {
    return "has a space";
  }
  return ControlFault(name);
}

std::string TextFault(std::u16string_view text) {
  if (text.size() > lesson::kMaxPromptTextLength) {
    return "text is longer than " + std::to_string(lesson::kMaxPromptTextLength) + " UTF-16 units";
  }
  // Stored, it would read as the mark of a prompt edited since its take, and be cut off later.
  if (text.starts_with(lesson::kEditMarker)) {
    return "text begins with \"> \", the mark of an edited prompt";
  }
  const std::string control = ControlFault(text);
  return control.empty() ? control : "text " + control;
}

// The take file name for a name given in the list; empty `name` with the reason in `fault`.
std::u16string TakeName(std::u16string_view given, std::string& fault) {
  if (given.empty()) {
    fault = "no name";
    return {};
  }
  // Such a name would leave the prompt directory or name it.
  if (given == u"." || given == u".." || given.find(u'/') != std::u16string_view::npos) {
    fault = "name " + Quoted(given) + " cannot be a file name";
    return {};
  }
  std::u16string name(given);
  std::u16string ending = name.substr(name.size() - std::min(name.size(), kTakeExtension.size()));
  text::FoldLower(ending);
  // The recorded-prompt scan only sees "*.wav": any other name would never count as recorded.
  if (ending != kTakeExtension) {
    name += kTakeExtension;
  }
  fault = NameFault(name);
  if (!fault.empty()) {
    fault = "name " + Quoted(name) + " " + fault;
  }
  return name;
}

std::u16string MadeName(std::u16string_view prefix, std::size_t number, std::size_t width) {
  const std::string digits = std::to_string(number);
  std::u16string name(prefix);
  name.append(width - std::min(width, digits.size()), u'0');
  for (const char digit : digits) {
    name += static_cast<char16_t>(digit);
  }
  name += kTakeExtension;
  return name;
}

// The same rules for a name made from the prefix, which only another prefix can mend.
std::string MadeNameFault(std::u16string_view name) {
  const std::string fault = NameFault(name);
  return fault.empty() ? fault
                       : "made name " + Quoted(name) + " " + fault + "; choose another prefix";
}

// Splits a NAME<separator>TEXT line; with Pipe the text ends at the next "|".
std::string SplitNamed(std::u16string_view line, ListForm form, ImportedPrompt& prompt) {
  const char16_t separator = form == ListForm::Tab ? u'\t' : u'|';
  const std::size_t at = line.find(separator);
  if (at == std::u16string_view::npos) {
    return form == ListForm::Tab ? "no tab after the name (the list's first line has NAME<TAB>TEXT)"
                                 : "no \"|\" after the name (the list's first line has NAME|TEXT)";
  }
  std::u16string_view text = line.substr(at + 1);
  if (form == ListForm::Pipe) {
    text = text.substr(0, text.find(u'|'));
  }
  std::string fault;
  prompt.name = TakeName(line.substr(0, at), fault);
  prompt.text = text;
  return fault;
}

}  // namespace

SentenceList ReadSentenceList(std::string_view bytes, std::u16string_view prefix) {
  if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF")) {
    return Refused(1, "UTF-16 text: the list must be UTF-8");
  }
  if (bytes.starts_with(kUtf8Mark)) {
    bytes.remove_prefix(kUtf8Mark.size());
  }
  std::vector<Line> lines;
  std::optional<ListRefusal> tooMany;  // reported only when no earlier line breaks a rule
  for (int number = 1; !bytes.empty(); ++number) {
    const std::size_t end = std::min(bytes.find('\n'), bytes.size());
    std::string_view line = bytes.substr(0, end);
    bytes.remove_prefix(std::min(end + 1, bytes.size()));
    if (line.ends_with('\r')) {
      line.remove_suffix(1);
    }
    if (line.find_first_not_of(" \t") == std::string_view::npos) {
      continue;
    }
    if (lines.size() == static_cast<std::size_t>(lesson::kMaxPrompts)) {
      tooMany =
          ListRefusal{number, "more than " + std::to_string(lesson::kMaxPrompts) + " prompts"};
      break;
    }
    lines.push_back({number, line});
  }
  if (lines.empty()) {
    return Refused(0, "no sentences");
  }

  SentenceList list;
  const std::string_view first = lines.front().bytes;
  if (first.find('\t') != std::string_view::npos) {
    list.form = ListForm::Tab;
  } else if (first.find('|') != std::string_view::npos) {
    list.form = ListForm::Pipe;
  }
  const std::size_t width = std::max(kMinDigits, std::to_string(lines.size()).size());
  if (list.form == ListForm::Plain) {
    // Every made name has the same length, and only the prefix can break a rule.
    const std::string fault = MadeNameFault(MadeName(prefix, 1, width));
    if (!fault.empty()) {
      SentenceList refused = Refused(0, fault);
      refused.refusal->prefix = true;
      return refused;
    }
  }
  std::unordered_map<std::u16string, int> seen;  // folded name -> its line
  list.prompts.reserve(lines.size());
  for (const Line& line : lines) {
    if (line.bytes.find('\0') != std::string_view::npos) {
      return Refused(line.number, "NUL byte: the list must be UTF-8 text");
    }
    if (!platform::IsValidUtf8(line.bytes)) {
      return Refused(line.number, "not valid UTF-8");
    }
    const std::u16string text = platform::FromUtf8(line.bytes);
    ImportedPrompt& prompt = list.prompts.emplace_back();
    std::string fault;
    if (list.form == ListForm::Plain) {
      prompt.name = MadeName(prefix, list.prompts.size(), width);
      prompt.text = text;
    } else {
      fault = SplitNamed(text, list.form, prompt);
    }
    if (fault.empty()) {
      fault = TextFault(prompt.text);
    }
    if (!fault.empty()) {
      return Refused(line.number, fault);
    }
    std::u16string folded = prompt.name;
    text::FoldLower(folded);
    const auto [it, added] = seen.emplace(std::move(folded), line.number);
    if (!added) {
      return Refused(line.number, "name " + Quoted(prompt.name) + " is already on line " +
                                      std::to_string(it->second) + ", ignoring letter case");
    }
  }
  if (tooMany) {
    return Refused(tooMany->line, tooMany->reason);
  }
  return list;
}

}  // namespace voxtar::import
