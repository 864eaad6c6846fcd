// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/prompt_display.h"

#include <cstdio>

#include "ui/dialog_controls.h"

namespace voxtar::ui {

std::u16string DisplayText(std::u16string_view entryText) {
  if (entryText.starts_with(lesson::kEditMarker)) {
    entryText.remove_prefix(lesson::kEditMarker.size());
  }
  std::u16string display;
  display.reserve(entryText.size() + entryText.size() / kDisplayLineLength + 1);
  int count = 0;
  for (char16_t unit : entryText) {
    if (count >= kDisplayLineLength && unit == u' ') {
      display += u"\r\n";
      count = 0;
    } else {
      display += unit;
      ++count;
    }
  }
  return display;
}

std::u16string StatisticsLine(const lesson::PromptEntry& entry) {
  std::u16string line(entry.name);
  line += entry.recorded ? u" :" : u" : <File not found>";
  return line;
}

std::u16string LessonCaption(std::u16string_view lessonName, int number, int count) {
  char numbers[64];
  std::snprintf(numbers, sizeof numbers, ".idx - [%03d / %03d]", number, count);
  std::u16string caption = u"Voxtar - ";
  caption += lessonName;
  for (const char* p = numbers; *p != '\0'; ++p) {
    caption += static_cast<char16_t>(*p);
  }
  return caption;
}

namespace {

bool IsSeparator(std::u16string_view text, int index) {
  const auto at = static_cast<std::size_t>(index);
  if (text[at] != u'\\') {
    return false;
  }
  // In a run of backslashes only the last one separates.
  return at + 1 >= text.size() || text[at + 1] != u'\\';
}

}  // namespace

int BackslashWordBreak(std::u16string_view text, int position, int action) {
  const int length = static_cast<int>(text.size());
  switch (action) {
    case kWordBreakIsDelimiter:
      return position >= 0 && position < length && text[static_cast<std::size_t>(position)] == u'\\'
                 ? 1
                 : 0;
    case kWordBreakRight:
      for (int i = position + 1; i < length; ++i) {
        if (i >= 0 && IsSeparator(text, i)) {
          return i + 1;
        }
      }
      return length;
    case kWordBreakLeft:
      if (position <= 1) {
        return 0;
      }
      for (int i = position - 2; i >= 1; --i) {
        if (i < length && IsSeparator(text, i)) {
          return i + 1;
        }
      }
      return 0;
    default:
      return 0;
  }
}

}  // namespace voxtar::ui
