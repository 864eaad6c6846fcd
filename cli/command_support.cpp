// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/command_support.h"

#include <charconv>
#include <cstdio>

#include "lesson/lesson_paths.h"
#include "lesson/working_directory.h"
#include "platform/file_system.h"
#include "text/text_line_reader.h"

namespace voxtar::cli {

namespace {

void AppendHex(std::string& out, std::string_view prefix, unsigned char byte) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += prefix;
  out += kHex[byte >> 4];
  out += kHex[byte & 0xF];
}

void AppendEscaped(std::string& out, char32_t c) {
  switch (c) {
    case U'\t':
      out += "\\t";
      return;
    case U'\n':
      out += "\\n";
      return;
    case U'\r':
      out += "\\r";
      return;
    case U'\\':
      out += "\\\\";
      return;
    default:
      break;
  }
  // C1 controls too, which some terminals obey as well.
  AppendHex(out, c < 0x80 ? "\\x" : "\\u00", static_cast<unsigned char>(c));
}

bool IsControl(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == U'\\';
}

std::string DescribeFailure(lesson::LoadFailure failure) {
  switch (failure) {
    case lesson::LoadFailure::None:
    case lesson::LoadFailure::NotFound:
      break;
    case lesson::LoadFailure::PermissionDenied:
      return "permission denied";
    case lesson::LoadFailure::NotRegularFile:
      return "not a regular file";
    case lesson::LoadFailure::PathTooLong:
      return "path too long";
    case lesson::LoadFailure::TooLarge:
      return "file too large (more than " +
             std::to_string(text::TextLineReader::kMaxFileSize >> 20) + " MiB)";
    case lesson::LoadFailure::TooManyPrompts:
      return "more than " + std::to_string(lesson::kMaxPrompts) + " prompts";
    case lesson::LoadFailure::ReadFailed:
      return "read error";
    case lesson::LoadFailure::OutOfMemory:
      return "out of memory";
    case lesson::LoadFailure::Other:
      return "cannot be opened";
    case lesson::LoadFailure::LessonStillOpen:
      return "the lesson open before could not be written back";
  }
  return "file not found";
}

}  // namespace

// The backslash is escaped too, so that the escapes read back unambiguously.
std::string Printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t start = i;
    const char32_t c = platform::DecodeUtf8(text, i);
    if (c == platform::kReplacementCharacter && i - start == 1) {
      AppendHex(out, "\\x", static_cast<unsigned char>(text[start]));
    } else if (IsControl(c)) {
      AppendEscaped(out, c);
    } else {
      out.append(text, start, i - start);
    }
  }
  return out;
}

std::string Printable(std::u16string_view text) {
  return Printable(std::string_view(platform::ToUtf8(text)));
}

bool LoadNamed(lesson::Lesson& lesson, const std::string& path, lesson::Lesson::LoadOptions options,
               std::string& why, lesson::LoadOutcome* outcome) {
  // Such a name could only be passed on with its bytes replaced, naming some other file or none.
  if (!platform::IsValidUtf8(path)) {
    why = "file name is not valid UTF-8";
    return false;
  }
  const lesson::LoadOutcome loaded = lesson.LoadLesson(AbsolutePath(path), options);
  if (outcome != nullptr) {
    *outcome = loaded;
  }
  if (loaded.result != lesson::LoadResult::Loaded) {
    why = Describe(loaded);
    return false;
  }
  return true;
}

std::optional<int> Number(std::string_view text, int least) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || text.front() < '0' || text.front() > '9' || error != std::errc() ||
      end != text.data() + text.size() || value < least) {
    return std::nullopt;
  }
  return value;
}

std::string HeldLockText(const platform::LockFile::Holder& holder) {
  std::string text = lesson::DescribeHolder(holder);
  if (holder.incomplete) {
    text += "; if it stays so, run again with --take-over";
  } else if (holder.elsewhere) {
    text += "; if that computer no longer runs Voxtar on this lesson, run again with --take-over";
  } else {
    text +=
        "; close the lesson there first, or run again with --take-over if that process no "
        "longer uses it";
  }
  return text;
}

bool LockForWriting(lesson::LessonLock& lock, bool takeOver, std::string& why) {
  if ((takeOver ? lock.TakeOver() : lock.Acquire()) == lesson::LessonLock::Result::Held) {
    why = HeldLockText(lock.holder());
    return false;
  }
  return true;
}

std::u16string AbsolutePath(const std::string& given) {
  std::u16string path = platform::FromUtf8(given);
  if (!path.empty() && path.front() == platform::kSeparator) {
    return path;
  }
  std::u16string absolute = platform::CurrentDirectory();
  if (absolute.empty() || absolute.back() != platform::kSeparator) {
    absolute += platform::kSeparator;
  }
  return absolute + path;
}

std::string Describe(const lesson::LoadOutcome& outcome) {
  switch (outcome.result) {
    case lesson::LoadResult::Loaded:
      return "loaded";
    case lesson::LoadResult::InvalidDirectory:
      return "invalid directory";
    case lesson::LoadResult::FileNotFound:
      return DescribeFailure(outcome.failure);
    case lesson::LoadResult::FileEmpty:
      return "file is empty";
    case lesson::LoadResult::BadLine:
      break;
  }
  return "line " + std::to_string(outcome.badLine) + ": no space";
}

// The index file a path given for a lesson names, as the user wrote its directory: the lines of
// the file are named as FILE:LINE.
std::string IndexFileAsGiven(const std::string& given, const lesson::Lesson& lesson) {
  return Printable(given.substr(0, given.rfind('/') + 1) + platform::ToUtf8(lesson.lessonName) +
                   platform::ToUtf8(lesson::workdir::kIndexExtension));
}

}  // namespace voxtar::cli
