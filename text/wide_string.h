// SPDX-License-Identifier: GPL-3.0-or-later
// The two text operations of the lesson rules on UTF-16 strings: the letter-case folding that
// lesson names, take names and the "ini" rule compare by, and taking a path apart.
#pragma once

#include <string>
#include <string_view>

namespace voxtar::text {

// Lower-cases A-Z, U+00C0..U+00DE and U+0410..U+042F in place, unit by unit: the folding the
// lesson list, the recorded-prompt scan and the "ini" rule are defined by (Ё, Greek and
// Armenian capitals stay as they are).
void FoldLower(std::u16string& s);

struct PathParts {
  std::u16string drive;  // always empty: no drive letters here
  std::u16string directory;
  std::u16string name;
  std::u16string extension;
};
// Takes a path apart at its last separator and the last dot of its file part; only the part
// before an embedded terminator counts. drive + directory is exactly the path up to and including
// its last separator; a path without a separator is all file part.
PathParts SplitPath(std::u16string_view path);

}  // namespace voxtar::text
