// SPDX-License-Identifier: GPL-3.0-or-later
// The lesson list and the lesson chooser's rules, free of any window: which entries the list
// shows and which one is selected, and what a choice yields. The lesson list is
// "Ini/lessons.ini" in the working directory (see working_directory.h); without it the lesson
// indexes "Ini/*.idx" are offered.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace voxtar::lesson {

// Entries and lesson lines are built in buffers of this many characters (terminator included).
inline constexpr int kChooserLineSize = 256;

struct LessonChoices {
  std::vector<std::u16string> entries;  // in order
  std::optional<int> selection;         // index into entries
};

// From the lines of the lesson list: a lesson line contains ".ini" and does not begin with "-";
// its entry is "<lower-cased line> (<line before it>)". The last entry equal to `lastChosen`
// (as a whole lower-cased line) is selected.
LessonChoices ChoicesFromLessonList(const std::vector<std::u16string>& lines,
                                    std::u16string_view lastChosen);
// From the names of the lesson index files, in the order given, lower-cased.
LessonChoices ChoicesFromIndexFiles(const std::vector<std::u16string>& names,
                                    std::u16string_view lastChosen);
// Reads "<dir>/Ini/lessons.ini" (lines of at most 255 characters) or lists "<dir>/Ini/*.idx".
LessonChoices ReadLessonChoices(std::u16string_view workingDirectory,
                                std::u16string_view lastChosen);

struct LessonChoice {
  std::u16string lastChosen;  // the entry text cut at its first space
  std::u16string chosenPath;  // working directory + "/Ini/" + lastChosen
};
// What choosing `entryText` yields. A path too long for the loader is refused by the loader.
LessonChoice ChooseEntry(std::u16string_view entryText, std::u16string_view workingDirectory);

}  // namespace voxtar::lesson
