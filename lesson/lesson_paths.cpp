#include "lesson/lesson_paths.h"

#include "platform/file_system.h"
#include "text/wide_string.h"

namespace voxtar {

namespace {

constexpr char16_t kSep = platform::kSeparator;
constexpr char16_t kIniMarker[] = {kSep, u'i', u'n', u'i', kSep, 0};
constexpr std::size_t kIniMarkerLength = 5;
constexpr char16_t kPromptDirectory[] = {kSep, u'P', u'r', u'o', u'm', u'p', u't', kSep, 0};

}  // namespace

LessonLocation LocateLesson(std::u16string_view chosenPath) {
  LessonLocation location;
  // A path never holds a terminator; cutting there keeps the primitives on the same text.
  chosenPath = chosenPath.substr(0, chosenPath.find(u'\0'));
  const PathParts parts = SplitPath(chosenPath);
  location.lessonDirectory = parts.drive + parts.directory;
  location.lessonName = parts.name;
  location.indexPath = location.lessonDirectory + location.lessonName + u".idx";

  std::u16string folded = location.lessonDirectory;
  FoldLower(folded);
  const char16_t* match = FindSubstring(folded.c_str(), kIniMarker);
  if (match == nullptr) {
    location.result = LoadResult::InvalidDirectory;
    return location;
  }
  const auto matchAt = static_cast<std::size_t>(match - folded.c_str());
  location.subPath = location.lessonDirectory.substr(matchAt + kIniMarkerLength);
  location.promptRoot = location.lessonDirectory.substr(0, matchAt) + kPromptDirectory;
  location.promptDirectory = location.promptRoot + location.subPath + location.lessonName + kSep;

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

}  // namespace voxtar
