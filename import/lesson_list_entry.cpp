// SPDX-License-Identifier: GPL-3.0-or-later
#include "import/lesson_list_entry.h"

#include <algorithm>

#include "import/line_rules_p.h"
#include "lesson/lesson_list.h"
#include "platform/utf8.h"
#include "text/text_line_reader.h"
#include "text/wide_string.h"

namespace voxtar::import {

namespace {

enum class Encoding { Utf8, Utf16Le, EightBit };

constexpr std::string_view kUtf16LeMark = "\xFF\xFE";
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::u16string_view kLessonExtension = u".ini";
constexpr std::u16string_view kCrLf = u"\r\n";

// The encoding the lesson chooser reads the list in; plain ASCII counts as UTF-8, so that any
// caption can be added and the chooser then reads the whole list as UTF-8.
Encoding EncodingOf(std::string_view bytes) {
  if (bytes.starts_with(kUtf16LeMark)) {
    return Encoding::Utf16Le;
  }
  if (bytes.starts_with(kUtf8Mark)) {
    return Encoding::Utf8;
  }
  const bool ascii = std::all_of(bytes.begin(), bytes.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  return ascii || platform::IsValidUtf8(bytes) ? Encoding::Utf8 : Encoding::EightBit;
}

std::u16string Decode(std::string_view bytes, Encoding encoding) {
  std::u16string text;
  switch (encoding) {
    case Encoding::Utf16Le:
      for (std::size_t at = kUtf16LeMark.size(); at + 1 < bytes.size(); at += 2) {
        text += static_cast<char16_t>(static_cast<unsigned char>(bytes[at]) |
                                      (static_cast<unsigned char>(bytes[at + 1]) << 8));
      }
      break;
    case Encoding::Utf8:
      if (bytes.starts_with(kUtf8Mark)) {
        bytes.remove_prefix(kUtf8Mark.size());
      }
      text = platform::FromUtf8(bytes);
      break;
    case Encoding::EightBit:
      for (const char byte : bytes) {
        text += text::EightBitCharacter(static_cast<unsigned char>(byte));
      }
      break;
  }
  return text;
}

std::optional<char> EightBitByte(char16_t unit) {
  if (unit < 0x80) {
    return static_cast<char>(unit);
  }
  for (unsigned byte = 0x80; byte <= 0xFF; ++byte) {
    if (text::EightBitCharacter(static_cast<unsigned char>(byte)) == unit) {
      return static_cast<char>(byte);
    }
  }
  return std::nullopt;
}

// Appends `text` in the encoding; false with the reason when 8-bit text cannot hold a character.
bool Append(std::string& bytes, std::u16string_view text, Encoding encoding, std::string& fault) {
  if (encoding == Encoding::Utf16Le) {
    platform::AppendUtf16Le(bytes, text);
  } else if (encoding == Encoding::Utf8) {
    bytes += platform::ToUtf8(text);
  } else {
    for (const char16_t unit : text) {
      const std::optional<char> byte = EightBitByte(unit);
      if (!byte) {
        fault = "the list is 8-bit Windows-1251 text, which has no " + UnitName(unit) +
                "; convert it to UTF-8 or choose another caption";
        return false;
      }
      bytes += *byte;
    }
  }
  return true;
}

// The line ending of the list's first line; CR LF when it has none.
std::u16string_view LineEnding(std::u16string_view text) {
  const std::size_t lineFeed = text.find(u'\n');
  return lineFeed == std::u16string_view::npos || (lineFeed > 0 && text[lineFeed - 1] == u'\r')
             ? kCrLf
             : kCrLf.substr(1);
}

// Whether a line of the list names the lesson (`folded`), as the chooser takes a lesson line:
// one with ".ini" in it, lower-cased and cut at its first space; hidden when it begins with "-".
Listing ListingOf(std::u16string_view text, const std::u16string& folded) {
  Listing listing = Listing::Added;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find(u'\n'), text.size());
    // The chooser's reader ends a line's text at its first CR or NUL.
    std::u16string line(text.substr(0, std::min(end, text.find_first_of(u"\r\0", 0, 2))));
    text.remove_prefix(std::min(end + 1, text.size()));
    if (line.find(kLessonExtension) == std::u16string::npos) {
      continue;
    }
    const bool hidden = line.starts_with(u'-');
    line = line.substr(hidden ? 1 : 0, line.find(u' ') - (hidden ? 1 : 0));
    text::FoldLower(line);
    if (line == folded) {
      if (!hidden) {
        return Listing::AlreadyListed;
      }
      listing = Listing::ListedHidden;
    }
  }
  return listing;
}

std::string CaptionFault(std::u16string_view caption) {
  constexpr auto kLongest = static_cast<std::size_t>(lesson::kChooserLineSize - 1);
  if (caption.size() > kLongest) {
    return "caption is longer than " + std::to_string(kLongest) + " characters";
  }
  if (caption.find(kLessonExtension) != std::u16string_view::npos) {
    return "caption has \".ini\" in it, which would make it a lesson line";
  }
  const std::string control = ControlFault(caption);
  return control.empty() ? control : "caption " + control;
}

std::string LessonLineFault(std::u16string_view line) {
  // The chooser cuts a lesson line at its first space and hides one that begins with "-".
  if (line.find(u' ') != std::u16string_view::npos) {
    return "a lesson whose name has a space cannot be chosen from the lesson list";
  }
  if (line.starts_with(u'-')) {
    return "a lesson whose name begins with \"-\" would be hidden in the lesson list";
  }
  const std::string control = ControlFault(line);
  return control.empty() ? control : "the lesson's name " + control;
}

// The lesson line and caption of each offered index file but the new lesson's own.
std::u16string OfferedLessons(const std::vector<std::u16string>& offered,
                              const std::u16string& folded) {
  std::u16string lines;
  for (const std::u16string& file : offered) {
    const std::u16string name = text::SplitPath(file).name;
    std::u16string line = name + std::u16string(kLessonExtension);
    std::u16string key = line;
    text::FoldLower(key);
    if (key != folded) {
      lines += CaptionFault(name).empty() ? name : std::u16string();
      lines += kCrLf;
      lines += line;
      lines += kCrLf;
    }
  }
  return lines;
}

}  // namespace

ListEdit AddToLessonList(std::optional<std::string_view> existing, std::u16string_view caption,
                         std::u16string_view lessonLine,
                         const std::vector<std::u16string>& offered) {
  ListEdit edit;
  edit.refusal = LessonLineFault(lessonLine);
  if (edit.refusal.empty()) {
    edit.refusal = CaptionFault(caption);
  }
  if (!edit.refusal.empty()) {
    return edit;
  }
  std::u16string folded(lessonLine);
  text::FoldLower(folded);
  std::u16string added;
  Encoding encoding = Encoding::Utf8;
  if (existing) {
    encoding = EncodingOf(*existing);
    // Whatever followed would be read a byte out of step.
    if (encoding == Encoding::Utf16Le && existing->size() % 2 != 0) {
      edit.refusal = "the list is UTF-16LE text with an odd number of bytes";
      return edit;
    }
    const std::u16string text = Decode(*existing, encoding);
    edit.listing = ListingOf(text, folded);
    if (edit.listing != Listing::Added) {
      return edit;
    }
    edit.bytes = *existing;
    const std::u16string_view ending = LineEnding(text);
    if (!text.empty() && text.back() != u'\n') {
      added += ending;
    }
    added += caption;
    added += ending;
    added += lessonLine;
    added += ending;
  } else {
    added = OfferedLessons(offered, folded);
    added += caption;
    added += kCrLf;
    added += lessonLine;
    added += kCrLf;
  }
  if (!Append(edit.bytes, added, encoding, edit.refusal)) {
    edit.bytes.clear();
  }
  return edit;
}

}  // namespace voxtar::import
