// SPDX-License-Identifier: GPL-3.0-or-later
// The lesson index file: one prompt per line, the name, one space, the text. Read as UTF-16LE
// (byte-order mark FF FE) or 8-bit text; always written as UTF-16LE with the mark, every line
// ending in CR LF.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "lesson/lesson.h"

namespace voxtar::lesson {

// Splits one line (as the reader returns it) at its first space into the entry's name and text,
// both whole; NoSpace leaves the entry as it was.
BadLineReason ParseIndexLine(std::u16string_view line, PromptEntry& entry);
// The limit of the index form the entry's name or text breaks, if any.
LineLimit LineLimitOf(const PromptEntry& entry);

// The bytes of the index file for these entries: FF FE, then per entry name, space, text, CR LF,
// all UTF-16LE.
std::string EncodeIndex(const PromptList& prompts);
// The same bytes handed to `write` in pieces; stops and returns false when a write fails.
bool EncodeIndex(const PromptList& prompts, const std::function<bool(std::string_view)>& write);

}  // namespace voxtar::lesson
