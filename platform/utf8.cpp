// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/utf8.h"

#include <bit>
#include <cstring>

namespace voxtar::platform {

namespace {

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

}  // namespace

char32_t DecodeUtf8(std::string_view text, std::size_t& i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) {
    ++i;
    return lead;
  }
  std::size_t length = 0;
  char32_t c = 0;
  char32_t minimum = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    c = lead & 0x1Fu;
    minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    c = lead & 0x0Fu;
    minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    c = lead & 0x07u;
    minimum = 0x10000;
  } else {
    ++i;
    return kReplacementCharacter;
  }
  if (i + length > text.size()) {
    ++i;
    return kReplacementCharacter;
  }
  for (std::size_t k = 1; k < length; ++k) {
    const unsigned char next = byte(i + k);
    if ((next & 0xC0) != 0x80) {
      ++i;
      return kReplacementCharacter;
    }
    c = (c << 6) | (next & 0x3Fu);
  }
  if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
    ++i;
    return kReplacementCharacter;
  }
  i += length;
  return c;
}

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      const char32_t c = 0x10000 + ((char32_t{unit} - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
      AppendUtf8(out, c);
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      AppendUtf8(out, kReplacementCharacter);
    } else {
      AppendUtf8(out, unit);
    }
  }
  return out;
}

std::u16string FromUtf8(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const char32_t c = DecodeUtf8(text, i);
    if (c >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
  }
  return out;
}

void AppendUtf16Le(std::string& bytes, std::u16string_view text) {
  if constexpr (std::endian::native == std::endian::little) {
    // The units are in that order in memory already.
    bytes.append(reinterpret_cast<const char*>(text.data()), 2 * text.size());
  } else {
    for (const char16_t unit : text) {
      bytes.push_back(static_cast<char>(unit & 0xFF));
      bytes.push_back(static_cast<char>(unit >> 8));
    }
  }
}

bool IsValidUtf8(std::string_view text) {
  Utf8Validator validator;
  validator.Feed(text);
  return validator.valid();
}

void Utf8Validator::Feed(std::string_view piece) {
  // The well-formed byte sequences of the Unicode standard: the first continuation byte's range
  // depends on the lead byte, which excludes overlong forms, surrogates and values beyond U+10FFFF.
  for (const char c : piece) {
    if (!valid_) {
      return;
    }
    const auto byte = static_cast<unsigned char>(c);
    if (pending_ > 0) {
      valid_ = byte >= low_ && byte <= high_;
      low_ = 0x80;
      high_ = 0xBF;
      --pending_;
      continue;
    }
    if (byte < 0x80) {
      continue;
    }
    nonAscii_ = true;
    if (byte >= 0xC2 && byte <= 0xDF) {
      pending_ = 1;
    } else if (byte >= 0xE0 && byte <= 0xEF) {
      pending_ = 2;
      low_ = byte == 0xE0 ? 0xA0 : 0x80;
      high_ = byte == 0xED ? 0x9F : 0xBF;
    } else if (byte >= 0xF0 && byte <= 0xF4) {
      pending_ = 3;
      low_ = byte == 0xF0 ? 0x90 : 0x80;
      high_ = byte == 0xF4 ? 0x8F : 0xBF;
    } else {
      valid_ = false;
    }
  }
}

}  // namespace voxtar::platform
