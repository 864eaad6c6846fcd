// SPDX-License-Identifier: GPL-3.0-or-later
// A 64-bit FNV-1a hash of a UTF-16 text: the same text always gives the same number, for the
// dither of a file and the folder of a lesson's measures.
#pragma once

#include <cstdint>
#include <string_view>

namespace voxtar::exporting {

inline std::uint64_t NameHash(std::u16string_view text) {
  std::uint64_t hash = 14695981039346656037u;
  for (const char16_t unit : text) {
    hash = (hash ^ unit) * 1099511628211u;
  }
  return hash;
}

}  // namespace voxtar::exporting
