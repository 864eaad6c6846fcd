// SPDX-License-Identifier: GPL-3.0-or-later
// Where a lesson lives: from the chosen index path to the lesson directory, the lesson name, the
// prompt directories and the index path. A lesson index must lie below a directory named "ini"
// (any letter case); its recordings go to root + "/Prompt/" + sub path + lesson name + "/", where
// root is what comes before the first "/ini/" and the sub path what follows it.
#pragma once

#include <string>
#include <string_view>

#include "lesson/lesson.h"

namespace voxtar::lesson {

struct LessonLocation {
  // Loaded when the path passes the rules; InvalidDirectory without "/ini/"; FileNotFound when
  // a path or the lesson name would exceed its limit.
  LoadResult result = LoadResult::Loaded;
  std::u16string lessonDirectory;   // up to and including the last separator, as chosen
  std::u16string lessonName;        // file name without its last extension
  std::u16string workingDirectory;  // what comes before the first "/ini/", separator included
  std::u16string subPath;           // what follows the first "/ini/" in the lesson directory
  std::u16string promptRoot;        // root + "/Prompt/"
  std::u16string promptDirectory;   // promptRoot + subPath + lessonName + "/"
  std::u16string indexPath;         // lessonDirectory + lessonName + ".idx"
};

// Applies the directory rules to a chosen path; touches no file. The fields are filled as far as
// the rules got (the lesson directory, lesson name and index path always).
LessonLocation LocateLesson(std::u16string_view chosenPath);

}  // namespace voxtar::lesson
