#include "text/wide_string.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace voxtar {
namespace {

// NarrowPath of a string as a byte string, so that failures print readably.
std::string Narrow(const std::u16string& path) {
  return NarrowPath(path.c_str());
}

std::string NarrowUnit(char16_t unit) {
  return Narrow(std::u16string(1, unit));
}

std::string Bytes(std::initializer_list<int> bytes) {
  std::string out;
  for (int b : bytes) {
    out.push_back(static_cast<char>(b));
  }
  return out;
}

TEST(NarrowPath, CyrillicPathInWindows1251) {
  EXPECT_EQ(Narrow(u"D:/Уроки/ёж"),
            Bytes({0x44, 0x3A, 0x2F, 0xD3, 0xF0, 0xEE, 0xEA, 0xE8, 0x2F, 0xB8, 0xE6}));
  // Latin-1 passes through as its low byte.
  EXPECT_EQ(Narrow(u"Aé\u00FF"), Bytes({0x41, 0xE9, 0xFF}));
  EXPECT_EQ(Narrow(u""), "");
}

TEST(NarrowPath, CyrillicTableHoldsOnlyRussianUkrainianAndBelarusianLetters) {
  const std::vector<std::pair<char16_t, int>> letters = {
      {u'А', 0xC0}, {u'Я', 0xDF}, {u'а', 0xE0}, {u'я', 0xFF}, {u'Ё', 0xA8},
      {u'ё', 0xB8}, {u'Є', 0xAA}, {u'є', 0xBA}, {u'І', 0xB2}, {u'і', 0xB3},
      {u'Ї', 0xAF}, {u'ї', 0xBF}, {u'Ў', 0xA1}, {u'ў', 0xA2}};
  for (const auto& [unit, code] : letters) {
    EXPECT_EQ(NarrowUnit(unit), Bytes({code})) << std::hex << unsigned{unit};
  }
  // Letters Windows-1251 encodes but the table leaves out.
  for (char16_t unit : u"ЂЃЅЈЉЊЋЌЏђѓѕјљњћќџ\u0400\u040D\u0450\u045D\u0460\u047F") {
    if (unit != 0) {
      EXPECT_EQ(NarrowUnit(unit), "?") << std::hex << unsigned{unit};
    }
  }
  // U+0480..U+04FF reuse the entries of U+0400..U+047F.
  EXPECT_EQ(NarrowUnit(u'\u0490'), Bytes({0xC0}));
  EXPECT_EQ(NarrowUnit(u'\u0491'), Bytes({0xC1}));
  EXPECT_EQ(NarrowUnit(u'\u04D1'), Bytes({0xB8}));
  EXPECT_EQ(NarrowUnit(u'\u0482'), "?");
}

TEST(NarrowPath, ArmenianTable) {
  const std::vector<std::pair<char16_t, int>> letters = {
      {u'\u0531', 0xB2}, {u'\u0532', 0xB4}, {u'\u0556', 0xFC}, {u'\u0561', 0xB3},
      {u'\u0562', 0xB5}, {u'\u0586', 0xFD}, {u'\u055B', 0xB0}, {u'\u055C', 0xAF},
      {u'\u055D', 0xAA}, {u'\u055E', 0xB1}, {u'\u0587', 0x9C}, {u'\u0589', 0xA3}};
  for (const auto& [unit, code] : letters) {
    EXPECT_EQ(NarrowUnit(unit), Bytes({code})) << std::hex << unsigned{unit};
  }
  for (char16_t unit : {u'\u0500', u'\u0530', u'\u0557', u'\u055A', u'\u055F', u'\u0560', u'\u0588',
                        u'\u058A', u'\u059F', u'\u05A0', u'\u05D0', u'\u05FF'}) {
    EXPECT_EQ(NarrowUnit(unit), "?") << std::hex << unsigned{unit};
  }
}

TEST(NarrowPath, GeorgianTable) {
  const std::vector<std::pair<char16_t, int>> letters = {
      {u'\u10D0', 0xC0},
      {u'\u10D6', 0xC6},
      {u'\u10D7', 0xC8},
      {u'\u10DC', 0xCD},
      {u'\u10DD', 0xCF},
      {u'\u10E2', 0xD4},
      {u'\u10E3', 0xD6},
      {u'\u10EE', 0xE1},
      {u'\u10EF', 0xE3},
      {u'\u10F0', 0xE4},
      {u'\u10F1', 0xC7},
      {u'\u10F2', 0xCE},
      {u'\u10F3', 0xD5},
      {u'\u10F4', 0xE2},
      {u'\u10F5', 0xE5},
      // U+1000..U+10BF reuse the entries of U+10C0..U+10FF.
      {u'\u10A0', 0xD2},
      {u'\u1010', 0xC0}};
  for (const auto& [unit, code] : letters) {
    EXPECT_EQ(NarrowUnit(unit), Bytes({code})) << std::hex << unsigned{unit};
  }
  for (char16_t unit : {u'\u10C0', u'\u10CF', u'\u10F6', u'\u10FF', u'\u1000'}) {
    EXPECT_EQ(NarrowUnit(unit), "?") << std::hex << unsigned{unit};
  }
}

TEST(NarrowPath, DropsCombiningMarksAndGreekAndMarksTheRestUnknown) {
  EXPECT_EQ(Narrow(u"а\u0301б"), Bytes({0xE0, 0xE1}));
  EXPECT_EQ(Narrow(u"xΩy"), "xy");
  EXPECT_EQ(Narrow(u"\u0300\u03FF"), "");
  EXPECT_EQ(Narrow(u"ẞ€Ђ\u0100"), "????");
  // Halves of a surrogate pair are units like any other.
  EXPECT_EQ(Narrow(u"\U0001F3A4"), "??");
}

TEST(NarrowPath, LongInputIsCutAndTheBufferIsShared) {
  const std::u16string longPath(700, u'ж');
  const char* first = NarrowPath(longPath.c_str());
  EXPECT_EQ(std::strlen(first), kNarrowPathCapacity - 1);
  // Dropped units do not count towards the cut.
  std::u16string mixed;
  for (int i = 0; i < 600; ++i) {
    mixed += u"a\u0301";
  }
  EXPECT_EQ(Narrow(mixed), std::string(511, 'a'));
  const char* second = NarrowPath(u"b");
  EXPECT_EQ(first, second);
  EXPECT_STREQ(first, "b");
}

TEST(WideString, LengthCopyAppend) {
  char16_t buffer[16] = {};
  EXPECT_EQ(StringLength(u""), 0u);
  EXPECT_EQ(StringLength(u"урок"), 4u);
  EXPECT_EQ(CopyString(buffer, u"ab"), buffer);
  EXPECT_EQ(AppendString(buffer, u"cd"), buffer);
  EXPECT_EQ(std::u16string(buffer), u"abcd");
  AppendString(buffer, u"");
  EXPECT_EQ(std::u16string(buffer), u"abcd");
}

TEST(WideString, CompareStringsTakesUnitsAsUnsigned) {
  EXPECT_LT(CompareStrings(u"ab", u"abc"), 0);
  EXPECT_EQ(CompareStrings(u"b", u"a"), 1);
  EXPECT_EQ(CompareStrings(u"урок", u"урок"), 0);
  EXPECT_EQ(CompareStrings(u"", u""), 0);
  EXPECT_EQ(CompareStrings(u"\uFFFF", u"a"), 0xFFFF - 0x61);
  EXPECT_EQ(CompareStrings(u"A", u"a"), -0x20);
}

TEST(WideString, FindCharAndFindSubstring) {
  const char16_t* text = u"lesson1.ini";
  EXPECT_EQ(FindChar(text, u's'), text + 2);
  EXPECT_EQ(FindChar(text, u'x'), nullptr);
  EXPECT_EQ(FindChar(text, u'\0'), nullptr);
  EXPECT_EQ(FindSubstring(text, u".ini"), text + 7);
  EXPECT_EQ(FindSubstring(text, u""), nullptr);
  EXPECT_EQ(FindSubstring(u"", u".ini"), nullptr);
  EXPECT_EQ(FindSubstring(u"", u""), nullptr);
  EXPECT_EQ(FindSubstring(text, u".inix"), nullptr);
  const char16_t* repeated = u"aaab";
  EXPECT_EQ(FindSubstring(repeated, u"aab"), repeated + 1);

  char16_t mutableText[] = u"a/ini/b";
  char16_t* found = FindSubstring(mutableText, u"/ini/");
  ASSERT_EQ(found, mutableText + 1);
  *FindChar(mutableText, u'b') = u'c';
  EXPECT_EQ(std::u16string(mutableText), u"a/ini/c");
}

TEST(WideString, CopyBoundedNeverWritesTheLastUnit) {
  char16_t buffer[8];
  std::fill(std::begin(buffer), std::end(buffer), u'X');
  CopyBounded(buffer, u"abcdef", 4);
  EXPECT_EQ(std::u16string(buffer, 4), u"abcX");

  std::fill(std::begin(buffer), std::end(buffer), u'X');
  CopyBounded(buffer, u"ab", 4);
  EXPECT_EQ(std::u16string(buffer, 4), std::u16string(u"ab\0X", 4));

  std::fill(std::begin(buffer), std::end(buffer), u'X');
  CopyBounded(buffer, u"", 4);
  EXPECT_EQ(std::u16string(buffer, 2), std::u16string(u"\0X", 2));

  // Exactly count - 2 units: the terminator still fits.
  std::fill(std::begin(buffer), std::end(buffer), u'X');
  CopyBounded(buffer, u"abc", 5);
  EXPECT_EQ(std::u16string(buffer, 5), std::u16string(u"abc\0X", 5));

  std::fill(std::begin(buffer), std::end(buffer), u'X');
  CopyBounded(buffer, u"abc", 2);
  EXPECT_EQ(std::u16string(buffer, 2), u"aX");
}

TEST(WideString, FoldLowerFoldsThreeRangesOnly) {
  char16_t text[] = u"ÀÉ×Þß ЁЖ AZ@[";
  char16_t* end = FoldLower(text);
  EXPECT_EQ(std::u16string(text), u"àé÷þß Ёж az@[");
  EXPECT_EQ(end, text + StringLength(text));

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
    char16_t drive[8], directory[64], name[64], extension[64];
    std::fill(std::begin(drive), std::end(drive), u'X');
    SplitPath(c.path.c_str(), drive, directory, name, extension);
    EXPECT_EQ(std::u16string(drive), u"");
    EXPECT_EQ(std::u16string(directory), c.directory);
    EXPECT_EQ(std::u16string(name), c.name);
    EXPECT_EQ(std::u16string(extension), c.extension);
    // drive + directory is exactly the path up to and including its last separator.
    EXPECT_EQ(std::u16string(drive) + directory, c.path.substr(0, c.path.rfind(u'/') + 1));

    const PathParts parts = SplitPath(std::u16string_view(c.path));
    EXPECT_EQ(parts.drive, u"");
    EXPECT_EQ(parts.directory, c.directory);
    EXPECT_EQ(parts.name, c.name);
    EXPECT_EQ(parts.extension, c.extension);
  }
}

TEST(SplitPath, OutputsMayBeLeftOut) {
  char16_t name[16];
  SplitPath(u"/Course/ini/Unit1/lesson.idx", nullptr, nullptr, name, nullptr);
  EXPECT_EQ(std::u16string(name), u"lesson");
  char16_t directory[32];
  SplitPath(u"/Course/ini/Unit1/lesson.idx", nullptr, directory, nullptr, nullptr);
  EXPECT_EQ(std::u16string(directory), u"/Course/ini/Unit1/");
}

}  // namespace
}  // namespace voxtar
