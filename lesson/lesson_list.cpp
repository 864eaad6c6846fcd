// SPDX-License-Identifier: GPL-3.0-or-later
#include "lesson/lesson_list.h"

#include "lesson/working_directory.h"
#include "platform/file_system.h"
#include "text/text_line_reader.h"
#include "text/wide_string.h"

namespace voxtar::lesson {

namespace {

std::u16string Lowered(std::u16string text) {
  text::FoldLower(text);
  return text;
}

// Entries longer than the entry buffer are cut to fit it.
std::u16string Bounded(std::u16string text) {
  if (text.size() > static_cast<std::size_t>(kChooserLineSize - 1)) {
    text.resize(static_cast<std::size_t>(kChooserLineSize - 1));
  }
  return text;
}

}  // namespace

LessonChoices ChoicesFromLessonList(const std::vector<std::u16string>& lines,
                                    std::u16string_view lastChosen) {
  LessonChoices choices;
  std::u16string previous;
  for (const std::u16string& read : lines) {
    std::u16string line = read;
    if (line.find(u".ini") != std::u16string::npos && !line.starts_with(u'-')) {
      text::FoldLower(line);
      if (line == lastChosen) {
        choices.selection = static_cast<int>(choices.entries.size());
      }
      std::u16string entry = line;
      entry += u" (";
      entry += previous;
      entry += u')';
      choices.entries.push_back(Bounded(entry));
    }
    previous = line;
  }
  return choices;
}

LessonChoices ChoicesFromIndexFiles(const std::vector<std::u16string>& names,
                                    std::u16string_view lastChosen) {
  LessonChoices choices;
  for (const std::u16string& name : names) {
    std::u16string entry = Bounded(Lowered(name));
    if (entry == lastChosen) {
      choices.selection = static_cast<int>(choices.entries.size());
    }
    choices.entries.push_back(std::move(entry));
  }
  return choices;
}

LessonChoices ReadLessonChoices(std::u16string_view workingDirectory,
                                std::u16string_view lastChosen) {
  text::TextLineReader reader;
  reader.Open(workdir::LessonListPath(workingDirectory));
  if (reader.status() != text::ReaderStatus::Opened) {
    return ChoicesFromIndexFiles(
        platform::ListDirectory(workdir::IniDirectory(workingDirectory), workdir::kIndexPattern),
        lastChosen);
  }
  std::vector<std::u16string> lines;
  // The line during which the end is reached is taken like every other.
  while (!reader.AtEnd()) {
    lines.emplace_back(
        reader.ReadLine(static_cast<std::size_t>(kChooserLineSize - 1)).value_or(u""));
  }
  reader.Close();
  return ChoicesFromLessonList(lines, lastChosen);
}

LessonChoice ChooseEntry(std::u16string_view entryText, std::u16string_view workingDirectory) {
  LessonChoice choice;
  choice.lastChosen = std::u16string(entryText.substr(0, entryText.find(u' ')));
  choice.chosenPath = workdir::IniDirectory(workingDirectory);
  choice.chosenPath += platform::kSeparator;
  choice.chosenPath += choice.lastChosen;
  return choice;
}

}  // namespace voxtar::lesson
