// SPDX-License-Identifier: GPL-3.0-or-later
// Adding a lesson to the lesson list "Ini/lessons.ini" without disturbing what is there: the
// list's bytes stay as they are, and a caption line and a lesson line are appended in the list's
// own encoding and line ending.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace voxtar::import {

enum class Listing {
  Added,
  AlreadyListed,  // a lesson line names it already: the list stays as it is
  ListedHidden,   // only a hidden ("-") line names it: it stays hidden, as the operator put it
};

struct ListEdit {
  Listing listing = Listing::Added;
  std::string bytes;    // the list's new content, with Added
  std::string refusal;  // why the list cannot take the lesson; then nothing is to be written
};

// `existing`: the list's bytes, or nothing when there is no list. The encoding is kept as the
// lesson chooser reads it: UTF-16LE, UTF-8 or 8-bit Windows-1251; a list of plain ASCII takes
// UTF-8. Without a list, the chooser offers the index files of the Ini folder, so a new list
// (UTF-8, CR LF) first names `offered` (those file names), each captioned with its lesson name,
// lest they drop out of "List". `lessonLine`: the index's path below the ini directory, with
// ".ini" for its extension. The lesson counts as listed by the lines the chooser would take for
// it, compared ignoring letter case as the chooser does.
ListEdit AddToLessonList(std::optional<std::string_view> existing, std::u16string_view caption,
                         std::u16string_view lessonLine,
                         const std::vector<std::u16string>& offered);

}  // namespace voxtar::import
