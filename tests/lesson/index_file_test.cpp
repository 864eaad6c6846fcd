// SPDX-License-Identifier: GPL-3.0-or-later
#include "lesson/index_file.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/support/temp_dir.h"

namespace voxtar::lesson {
namespace {

PromptEntry Parse(const std::u16string& line, BadLineReason expected = BadLineReason::None) {
  PromptEntry entry;
  EXPECT_EQ(ParseIndexLine(line.c_str(), entry), expected);
  return entry;
}

TEST(ParseIndexLine, SplitsAtTheFirstSpace) {
  PromptEntry plain = Parse(u"a001.wav Hello world");
  EXPECT_EQ(plain.name, u"a001.wav");
  EXPECT_EQ(plain.text, u"Hello world");
  EXPECT_EQ(plain.recorded, 0);

  EXPECT_EQ(Parse(u"a001.wav  b").text, u" b");  // further spaces belong to the text
  PromptEntry noName = Parse(u" text");
  EXPECT_EQ(noName.name, u"");
  EXPECT_EQ(noName.text, u"text");
  PromptEntry noText = Parse(u"a.wav ");
  EXPECT_EQ(noText.name, u"a.wav");
  EXPECT_EQ(noText.text, u"");
}

TEST(ParseIndexLine, RefusesLinesWithoutSpaceAndKeepsLongOnesWhole) {
  Parse(u"", BadLineReason::NoSpace);
  Parse(u"a001.wav", BadLineReason::NoSpace);
  Parse(u"a001.wav\tHello", BadLineReason::NoSpace);

  // Never cut: a cut name would rename the prompt, a cut text lose words. The load tells.
  const std::u16string name(kMaxPromptNameLength + 1, u'n');
  const std::u16string text(kMaxPromptTextLength + 1, u't');
  const PromptEntry entry = Parse(name + u" " + text);
  EXPECT_EQ(std::u16string_view(entry.name), name);
  EXPECT_EQ(std::u16string_view(entry.text), text);
  EXPECT_EQ(LineLimitOf(entry), LineLimit::NameTooLong);
}

TEST(EncodeIndex, WritesUtf16LeWithMarkAndCrLfAfterEveryLine) {
  PromptList prompts;
  EXPECT_EQ(EncodeIndex(prompts), "\xFF\xFE");

  for (const auto& [name, text] :
       {std::pair<std::u16string, std::u16string>{u"a.wav", u"Hi"}, {u"б.wav", u"> Я"}}) {
    PromptEntry& entry = prompts.Add();
    entry.name = name;
    entry.text = text;
    entry.recorded = true;  // not stored
  }
  const std::string expected =
      std::string("\xFF\xFE") + testing::Utf16LeBytes(u"a.wav Hi\r\nб.wav > Я\r\n");
  EXPECT_EQ(EncodeIndex(prompts), expected);
  // Cyrillic units little-endian: б is U+0431.
  EXPECT_EQ(expected.substr(2 + 2 * 10, 2), std::string("\x31\x04", 2));
}

}  // namespace
}  // namespace voxtar::lesson
