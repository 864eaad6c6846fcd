// SPDX-License-Identifier: GPL-3.0-or-later
#include "text/wide_string.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace voxtar::text {
namespace {

TEST(WideString, FoldLowerFoldsThreeRangesOnly) {
  std::u16string wide = u"ÀÉ×Þß ЁЖ AZ@[ ЯΩ";
  FoldLower(wide);
  EXPECT_EQ(wide, u"àé÷þß Ёж az@[ яΩ");
}

TEST(SplitPath, TakesThePathApartAtItsLastSeparatorAndLastDot) {
  struct Case {
    std::u16string path, directory, name, extension;
  };
  const std::vector<Case> cases = {
      {u"/Course/ini/Unit1/lesson.idx", u"/Course/ini/Unit1/", u"lesson", u"idx"},
      {u"/a.b/file", u"/a.b/", u"file", u""},
      {u"/x/archive.tar.gz", u"/x/", u"archive.tar", u"gz"},
      {u"/x.idx", u"/", u"x", u"idx"},
      {u"/Уроки/урок.", u"/Уроки/", u"урок", u""},
      {u"/dir/", u"/dir/", u"", u""},
      {u"lesson.idx", u"", u"lesson", u"idx"},
      {u"", u"", u"", u""},
  };
  for (const Case& c : cases) {
    const PathParts parts = SplitPath(std::u16string_view(c.path));
    EXPECT_EQ(parts.drive, u"");
    // drive + directory is exactly the path up to and including its last separator.
    EXPECT_EQ(parts.drive + parts.directory, c.path.substr(0, c.path.rfind(u'/') + 1));
    EXPECT_EQ(parts.directory, c.directory);
    EXPECT_EQ(parts.name, c.name);
    EXPECT_EQ(parts.extension, c.extension);
  }
}

}  // namespace
}  // namespace voxtar::text
