// SPDX-License-Identifier: GPL-3.0-or-later
#include "import/sentence_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace voxtar::import {
namespace {

using namespace std::string_literals;

using Prompts = std::vector<std::pair<std::u16string, std::u16string>>;

Prompts Read(std::string_view bytes, std::u16string_view prefix = u"p") {
  Prompts prompts;
  for (const ImportedPrompt& prompt : ReadSentenceList(bytes, prefix).prompts) {
    prompts.emplace_back(prompt.name, prompt.text);
  }
  return prompts;
}

TEST(ReadSentenceList, RefusesTheFirstLineThatBreaksARule) {
  const std::string name27(27, 'n');
  const struct {
    std::string bytes;
    std::u16string prefix;
    int line;
    std::string reason;
  } cases[] = {
      {"\xFF\xFEH\0i\0"s, u"p", 1, "UTF-16 text: the list must be UTF-8"},
      {"Hello\nHi\0there\n"s, u"p", 2, "NUL byte: the list must be UTF-8 text"},
      {"Hello\n\xC3\x28 there\n", u"p", 2, "not valid UTF-8"},
      {"\n \t\r\n", u"p", 0, "no sentences"},
      {"a\tHi\nb Hi\n", u"p", 2, "no tab after the name (the list's first line has NAME<TAB>TEXT)"},
      {"a|Hi|x\n\nb\n", u"p", 3, "no \"|\" after the name (the list's first line has NAME|TEXT)"},
      {"a\tHi\n\tHo\n", u"p", 2, "no name"},
      {"..\tHi\n", u"p", 1, "name \"..\" cannot be a file name"},
      {"a/b|Hi|\n", u"p", 1, "name \"a/b\" cannot be a file name"},
      {"a b\tHi\n", u"p", 1, "name \"a b.wav\" has a space"},
      {name27 + "x\tHi\n", u"p", 1, "name \"" + name27 + "x.wav\" is longer than 31 characters"},
      {"a\x1b\tHi\n", u"p", 1, "name \"a\x1b.wav\" has a control character (U+001B)"},
      {"a\tHi\nb\tHo\nA.WAV\tHe\n", u"p", 3,
       "name \"A.WAV\" is already on line 1, ignoring letter case"},
      {"Урок\tДа\nурок.wav\tНет\n", u"p", 2,
       "name \"урок.wav\" is already on line 1, ignoring letter case"},
      {"Hello\n" + std::string(511, 'x') + "y\n", u"p", 2, "text is longer than 511 UTF-16 units"},
      {"Hello\nSay\rit\n", u"p", 2, "text has a control character (U+000D)"},
      {"a|Hi\xC2\x85|\n", u"p", 1, "text has a control character (U+0085)"},
      {"Hello\n", u"my lesson_", 0,
       "made name \"my lesson_001.wav\" has a space; choose another prefix"},
      {"Hello\n", u"../../x", 0,
       "made name \"../../x001.wav\" cannot be a file name; choose another prefix"},
      {"Hello\n", u"..", 0,
       "made name \"..001.wav\" begins with \".\", which hides the file; choose another prefix"},
      {".x\tHi\n", u"p", 1, "name \".x.wav\" begins with \".\", which hides the file"},
      {"Hello\n> Ёлка\n", u"p", 2, "text begins with \"> \", the mark of an edited prompt"},
      {"a\t> Hi\n", u"p", 1, "text begins with \"> \", the mark of an edited prompt"},
      // The first violation counts, not the worst.
      {"a\tHi\nb\tHo\x07\nc d\t\xFF\n", u"p", 2, "text has a control character (U+0007)"},
  };
  for (const auto& c : cases) {
    const SentenceList list = ReadSentenceList(c.bytes, c.prefix);
    ASSERT_TRUE(list.refusal) << c.bytes;
    EXPECT_EQ(list.refusal->line, c.line) << c.bytes;
    EXPECT_EQ(list.refusal->reason, c.reason) << c.bytes;
    EXPECT_EQ(list.refusal->prefix, c.reason.starts_with("made name")) << c.bytes;
    EXPECT_TRUE(list.prompts.empty());
  }
}

TEST(ReadSentenceList, TheFirstLineDecidesTheForm) {
  const std::string name27(27, 'n');
  const std::u16string wide27(27, u'n');
  const struct {
    std::string bytes;
    ListForm form;
    Prompts prompts;
  } cases[] = {
      // Plain, with byte-order mark, CR LF and blank lines; "|" and ">" are text.
      {"\xEF\xBB\xBFДобрый день!\r\n\r\n  \r\nДа | нет\r\n>Ёлка",
       ListForm::Plain,
       {{u"p001.wav", u"Добрый день!"}, {u"p002.wav", u"Да | нет"}, {u"p003.wav", u">Ёлка"}}},
      {"a001\tПривет, мир\n" + name27 + "\tx|y\nB.Wav\t\n",
       ListForm::Tab,
       {{u"a001.wav", u"Привет, мир"}, {wide27 + u".wav", u"x|y"}, {u"B.Wav", u""}}},
      {"LJ001-0001|Printing, in the only sense|Printing, in the only sense\nx.1|Two\n",
       ListForm::Pipe,
       {{u"LJ001-0001.wav", u"Printing, in the only sense"}, {u"x.1.wav", u"Two"}}},
  };
  for (const auto& c : cases) {
    const SentenceList list = ReadSentenceList(c.bytes, u"p");
    EXPECT_FALSE(list.refusal) << c.bytes;
    EXPECT_EQ(list.form, c.form) << c.bytes;
    EXPECT_EQ(Read(c.bytes), c.prompts) << c.bytes;
  }
}

TEST(ReadSentenceList, NumbersGrowAWidthForAllNames) {
  for (const auto& [count, first, last] :
       {std::tuple{999, u"p001.wav", u"p999.wav"}, std::tuple{1000, u"p0001.wav", u"p1000.wav"}}) {
    std::string bytes;
    for (int i = 0; i < count; ++i) {
      bytes += "Hello\n";
    }
    const Prompts prompts = Read(bytes);
    ASSERT_EQ(prompts.size(), static_cast<std::size_t>(count));
    EXPECT_EQ(prompts.front().first, first);
    EXPECT_EQ(prompts.back().first, last);
  }
}

}  // namespace
}  // namespace voxtar::import
