// SPDX-License-Identifier: GPL-3.0-or-later
#include "lesson/lesson_paths.h"

#include "lesson/working_directory.h"
#include "platform/file_system.h"
#include "text/wide_string.h"

namespace voxtar::lesson {

namespace {

// "/" + name + "/".
std::u16string Folder(std::u16string_view name) {
  std::u16string folder(1, platform::kSeparator);
  folder += name;
  folder += platform::kSeparator;
  return folder;
}

}  // namespace

LessonLocation LocateLesson(std::u16string_view chosenPath) {
  LessonLocation location;
  // A path never holds a terminator; cutting there keeps the rules on the same text.
  chosenPath = chosenPath.substr(0, chosenPath.find(u'\0'));
  const text::PathParts parts = text::SplitPath(chosenPath);
  location.lessonDirectory = parts.drive + parts.directory;
  location.lessonName = parts.name;
  location.indexPath =
      location.lessonDirectory + location.lessonName + std::u16string(workdir::kIndexExtension);

  std::u16string folded = location.lessonDirectory;
  text::FoldLower(folded);
  const std::u16string indexDirectory = Folder(workdir::kIndexDirectory);
  const std::size_t matchAt = folded.find(indexDirectory);
  if (matchAt == std::u16string::npos) {
    location.result = LoadResult::InvalidDirectory;
    return location;
  }
  location.workingDirectory = location.lessonDirectory.substr(0, matchAt + 1);
  location.subPath = location.lessonDirectory.substr(matchAt + indexDirectory.size());
  location.promptRoot =
      location.lessonDirectory.substr(0, matchAt) + Folder(workdir::kPromptFolder);
  location.promptDirectory =
      location.promptRoot + location.subPath + location.lessonName + platform::kSeparator;

  // The window's path buffers hold 255 characters and the lesson name 254: a longer path could
  // name no file the lesson's recordings could be found by later, so it is refused whole.
  if (location.lessonName.size() > kMaxLessonNameLength ||
      location.lessonDirectory.size() > kMaxPathLength ||
      location.promptDirectory.size() > kMaxPathLength ||
      location.indexPath.size() > kMaxPathLength) {
    location.result = LoadResult::FileNotFound;
  }
  return location;
}

}  // namespace voxtar::lesson
