// Primitives on 0-terminated UTF-16 strings in caller-owned buffers, and the two path operations
// the lesson loader and the line reader use. Every primitive treats each code unit by itself;
// surrogate pairs get no special treatment. None checks a destination's size except CopyBounded.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace voxtar {

// Capacity of the one process-wide narrow path buffer (511 bytes and the terminator).
inline constexpr std::size_t kNarrowPathCapacity = 512;

std::size_t StringLength(const char16_t* s);
char16_t* CopyString(char16_t* destination, const char16_t* source);
char16_t* AppendString(char16_t* destination, const char16_t* source);
// a[i] - b[i] at the first difference (both unsigned 16-bit), 0 when both end together.
int CompareStrings(const char16_t* a, const char16_t* b);
// First position holding `unit`; the terminator never matches, so searching for 0 gives null.
const char16_t* FindChar(const char16_t* s, char16_t unit);
char16_t* FindChar(char16_t* s, char16_t unit);
// First position of the whole pattern; null when none, and for an empty text or pattern.
const char16_t* FindSubstring(const char16_t* text, const char16_t* pattern);
char16_t* FindSubstring(char16_t* text, const char16_t* pattern);
// Copies at most count - 1 units (indices 0..count-2), the terminator included when it comes
// earlier; destination[count - 1] is never written. count must be at least 2.
char16_t* CopyBounded(char16_t* destination, const char16_t* source, std::size_t count);
// Lower-cases A-Z, U+00C0..U+00DE and U+0410..U+042F in place; returns the terminator position.
char16_t* FoldLower(char16_t* s);
void FoldLower(std::u16string& s);

// Takes a path apart at its last separator and the last dot of its file part. Any output may be
// null. drive + directory is exactly the path up to and including its last separator; on a
// system without drive letters the drive is empty. A path without a separator is all file part.
void SplitPath(const char16_t* path, char16_t* drive, char16_t* directory, char16_t* name,
               char16_t* extension);

struct PathParts {
  std::u16string drive;
  std::u16string directory;
  std::u16string name;
  std::u16string extension;
};
PathParts SplitPath(std::u16string_view path);

// Converts a wide path to its 8-bit form (Latin-1 as is, Windows-1251 Cyrillic, the Armenian and
// Georgian 8-bit letter codes; combining marks and Greek dropped; anything else "?") in the one
// process-wide buffer, which the next call overwrites. Never writes past the buffer: output
// beyond 511 bytes is cut.
const char* NarrowPath(const char16_t* path);

}  // namespace voxtar
