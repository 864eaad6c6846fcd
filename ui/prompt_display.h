// SPDX-License-Identifier: GPL-3.0-or-later
// What the main dialog shows for a lesson, as plain functions: the prompt text broken into lines,
// the statistics line, the caption, and the word-break rule of the prompt text box.
#pragma once

#include <string>
#include <string_view>

#include "lesson/lesson.h"

namespace voxtar::ui {

// A line holds at least this many characters before a space may end it.
inline constexpr int kDisplayLineLength = 51;

// The text as the box shows it: without the edit marker, each space that comes after at least
// kDisplayLineLength characters of a line replaced by CR LF.
std::u16string DisplayText(std::u16string_view entryText);

// The entry's name and " :" when recorded, else " : <File not found>".
std::u16string StatisticsLine(const lesson::PromptEntry& entry);

// "Voxtar - %s.idx - [%03d / %03d]" from the lesson name, the 1-based index and the count.
std::u16string LessonCaption(std::u16string_view lessonName, int number, int count);

// The prompt text box's word breaks: backslash-separated segments, spaces are no breaks. A
// separator is a backslash not followed by another backslash (a backslash at the end counts).
// kWordBreakLeft/Right return the new caret position, kWordBreakIsDelimiter 1 or 0.
int BackslashWordBreak(std::u16string_view text, int position, int action);

}  // namespace voxtar::ui
