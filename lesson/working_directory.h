// SPDX-License-Identifier: GPL-3.0-or-later
// The working directory's layout, named in one place: the template recording every take is
// recorded in, the "Ini" folder with the lesson list and the lesson indexes, and the rule that
// places a lesson's takes: an index lies below a directory named "ini" (any letter case), and its
// takes go to the "Prompt" folder beside that directory, under the same sub path and the lesson
// name. The file names are the operators' own and stay as they are.
#pragma once

#include <string>
#include <string_view>

#include "platform/file_system.h"

namespace voxtar::lesson::workdir {

// The template recording, in the working directory: every take is recorded in its format, and it
// is never written itself.
inline constexpr std::u16string_view kTemplateRecording = u"sample.wav";
// The folder of the lesson list and the lesson indexes that "List" and "Open" offer.
inline constexpr std::u16string_view kIniFolder = u"Ini";
// The lesson list in the Ini folder; without it, the Ini folder's indexes are offered.
inline constexpr std::u16string_view kLessonList = u"lessons.ini";
inline constexpr std::u16string_view kIndexExtension = u".idx";
inline constexpr std::u16string_view kIndexPattern = u"*.idx";
// A lesson index must lie below a directory of this name, in any letter case.
inline constexpr std::u16string_view kIndexDirectory = u"ini";
// The folder of the takes, beside the index directory.
inline constexpr std::u16string_view kPromptFolder = u"Prompt";
// The takes of a prompt directory: what the recorded-prompt scan lists.
inline constexpr std::u16string_view kTakePattern = u"*.wav";

// workingDirectory + "/Ini".
inline std::u16string IniDirectory(std::u16string_view workingDirectory) {
  std::u16string path(workingDirectory);
  path += platform::kSeparator;
  path += kIniFolder;
  return path;
}

// workingDirectory + "/Ini/lessons.ini".
inline std::u16string LessonListPath(std::u16string_view workingDirectory) {
  std::u16string path = IniDirectory(workingDirectory);
  path += platform::kSeparator;
  path += kLessonList;
  return path;
}

}  // namespace voxtar::lesson::workdir
