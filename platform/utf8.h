// SPDX-License-Identifier: GPL-3.0-or-later
// UTF-8 <-> UTF-16, as file names and UTF-8 text files need it, and the UTF-16LE byte form of
// index files. No Qt.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace voxtar::platform {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// UTF-16 <-> UTF-8. Unpaired surrogates and invalid UTF-8 become U+FFFD.
std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view text);

// Decodes the code point at text[i] and advances i. A byte that does not start a well-formed
// sequence (overlong forms, surrogates and values above U+10FFFF included) gives U+FFFD and
// advances by one byte. i must be below text.size().
char32_t DecodeUtf8(std::string_view text, std::size_t& i);

// Appends each code unit as two bytes, low byte first.
void AppendUtf16Le(std::string& bytes, std::u16string_view text);

// Whether every byte belongs to a well-formed UTF-8 sequence.
bool IsValidUtf8(std::string_view text);

// The same test over text that arrives in pieces; a sequence may straddle two pieces.
class Utf8Validator {
 public:
  void Feed(std::string_view piece);
  // Whether everything fed so far is well-formed and complete.
  bool valid() const { return valid_ && pending_ == 0; }
  // Whether a byte beyond ASCII was fed.
  bool nonAscii() const { return nonAscii_; }

 private:
  int pending_ = 0;  // continuation bytes still expected
  unsigned char low_ = 0x80;
  unsigned char high_ = 0xBF;
  bool valid_ = true;
  bool nonAscii_ = false;
};

}  // namespace voxtar::platform
