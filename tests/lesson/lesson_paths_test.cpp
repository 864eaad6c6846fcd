// SPDX-License-Identifier: GPL-3.0-or-later
#include "lesson/lesson_paths.h"

#include <gtest/gtest.h>

#include <string>

namespace voxtar::lesson {
namespace {

TEST(LocateLesson, DerivesDirectoriesFromTheFirstIniDirectory) {
  LessonLocation work = LocateLesson(u"/E/Work/INI/lesson1.idx");
  EXPECT_EQ(work.result, LoadResult::Loaded);
  EXPECT_EQ(work.lessonDirectory, u"/E/Work/INI/");  // as chosen, not lower-cased
  EXPECT_EQ(work.lessonName, u"lesson1");
  EXPECT_EQ(work.subPath, u"");
  EXPECT_EQ(work.promptRoot, u"/E/Work/Prompt/");
  EXPECT_EQ(work.promptDirectory, u"/E/Work/Prompt/lesson1/");
  EXPECT_EQ(work.indexPath, u"/E/Work/INI/lesson1.idx");

  LessonLocation nested = LocateLesson(u"/D/c/ini/ru/a.b.idx");
  EXPECT_EQ(nested.lessonName, u"a.b");
  EXPECT_EQ(nested.subPath, u"ru/");
  EXPECT_EQ(nested.promptRoot, u"/D/c/Prompt/");
  EXPECT_EQ(nested.promptDirectory, u"/D/c/Prompt/ru/a.b/");

  LessonLocation twice = LocateLesson(u"/E/ini/x/ini/l.idx");
  EXPECT_EQ(twice.promptRoot, u"/E/Prompt/");
  EXPECT_EQ(twice.subPath, u"x/ini/");
  EXPECT_EQ(twice.promptDirectory, u"/E/Prompt/x/ini/l/");
}

TEST(LocateLesson, RefusesIndexesOutsideAnIniDirectory) {
  for (const std::u16string path :
       {u"/E/x/inis/l.idx", u"/E/x/l.idx", u"/E/mini/l.idx", u"/E/x/ini.idx", u"l.idx", u""}) {
    EXPECT_EQ(LocateLesson(path).result, LoadResult::InvalidDirectory)
        << std::string(path.begin(), path.end());
  }
  // Any letter case of the directory counts, and the lesson directory keeps the chosen case.
  LessonLocation upper = LocateLesson(u"/x/Ini/Unit01.ini");
  EXPECT_EQ(upper.result, LoadResult::Loaded);
  EXPECT_EQ(upper.indexPath, u"/x/Ini/Unit01.idx");
  EXPECT_EQ(upper.promptDirectory, u"/x/Prompt/Unit01/");
}

TEST(LocateLesson, IndexNameComesFromTheChosenNameWhateverItsExtension) {
  EXPECT_EQ(LocateLesson(u"/w/ini/lesson1.txt").indexPath, u"/w/ini/lesson1.idx");
  EXPECT_EQ(LocateLesson(u"/w/ini/unit01").indexPath, u"/w/ini/unit01.idx");
  EXPECT_EQ(LocateLesson(u"/w/ini/archive.tar.gz").lessonName, u"archive.tar");
  // A chosen path ending in a separator names a lesson without a name; it is not refused here.
  EXPECT_EQ(LocateLesson(u"/w/ini/").indexPath, u"/w/ini/.idx");
}

TEST(LocateLesson, PathsLongerThanTheirBuffersAreRefusedAsNotFound) {
  // root + "/ini/" + name + ".idx" and root + "/Prompt/" + name + "/" have the same length.
  const std::u16string root = u"/r";
  const std::size_t nameForLimit = kMaxPathLength - root.size() - 5 - 4;
  const std::u16string fits = root + u"/ini/" + std::u16string(nameForLimit, u'n') + u".wav";
  LessonLocation atLimit = LocateLesson(fits);
  EXPECT_EQ(atLimit.result, LoadResult::Loaded);
  EXPECT_EQ(atLimit.indexPath.size(), kMaxPathLength);
  EXPECT_EQ(atLimit.promptDirectory.size(), kMaxPathLength);

  const std::u16string tooLong = root + u"/ini/" + std::u16string(nameForLimit + 1, u'n') + u".wav";
  EXPECT_EQ(LocateLesson(tooLong).result, LoadResult::FileNotFound);

  const std::u16string deep = u"/" + std::u16string(300, u'd') + u"/ini/a.idx";
  EXPECT_EQ(LocateLesson(deep).result, LoadResult::FileNotFound);
}

}  // namespace
}  // namespace voxtar::lesson
