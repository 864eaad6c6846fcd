// SPDX-License-Identifier: GPL-3.0-or-later
#include "measures/small_file_p.h"

#include "platform/file_system.h"

namespace voxtar::measures {

std::optional<std::string> ReadSmallFile(std::u16string_view path, std::uint64_t maxSize,
                                         SmallFileError* error) {
  platform::InputFile input;
  if (input.Open(path) != platform::FileError::None) {
    *error = SmallFileError::Unreadable;
    return std::nullopt;
  }
  if (input.size() > maxSize) {
    *error = SmallFileError::TooLarge;
    return std::nullopt;
  }
  std::string text(static_cast<std::size_t>(input.size()), '\0');
  std::size_t got = 0;
  while (got < text.size()) {
    const std::ptrdiff_t read = input.Read(text.data() + got, text.size() - got);
    if (read <= 0) {
      *error = SmallFileError::Unreadable;
      return std::nullopt;
    }
    got += static_cast<std::size_t>(read);
  }
  *error = SmallFileError::None;
  return text;
}

}  // namespace voxtar::measures
