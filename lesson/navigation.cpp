// SPDX-License-Identifier: GPL-3.0-or-later
// Moving through a loaded lesson, and turning the text box into a prompt's stored text.
#include <optional>
#include <string>
#include <string_view>

#include "lesson/lesson.h"

namespace voxtar::lesson {

namespace {

bool HasEditMarker(std::u16string_view text) {
  return text.starts_with(kEditMarker);
}

std::u16string FlattenBounded(std::u16string_view boxText) {
  std::u16string flattened = FlattenEditText(boxText);
  if (flattened.size() > kMaxPromptTextLength) {
    flattened.resize(kMaxPromptTextLength);
  }
  return flattened;
}

}  // namespace

std::u16string FlattenEditText(std::u16string_view boxText) {
  std::u16string flattened;
  flattened.reserve(boxText.size());
  for (const char16_t unit : boxText) {
    if (unit == u'\r') {
      continue;
    }
    flattened.push_back(unit == u'\n' ? u' ' : unit);
  }
  return flattened;
}

void Lesson::StepBack() {
  if (prompts.count == 0 || current() == nullptr) {
    return;
  }
  auto& index = prompts.currentIndex;
  if (index > 0) {
    --index;
  }
  while (index > 0 && !IsSpeakable(*current())) {
    --index;
  }
}

void Lesson::StepForward() {
  if (prompts.count == 0 || current() == nullptr) {
    return;
  }
  auto& index = prompts.currentIndex;
  const std::int32_t last = prompts.count - 1;
  if (index < last) {
    ++index;
  }
  while (index < last && !IsSpeakable(*current())) {
    ++index;
  }
}

void Lesson::GotoFirstPending() {
  for (std::int32_t i = 0; i < prompts.count; ++i) {
    prompts.currentIndex = i;
    if (IsPending(*current())) {
      return;
    }
  }
}

bool Lesson::GotoNextPending() {
  if (prompts.currentIndex < 0) {
    return false;
  }
  for (std::int32_t step = 1; step < prompts.count; ++step) {
    const std::int32_t index = (prompts.currentIndex + step) % prompts.count;
    if (IsPending(*prompts.entries[static_cast<std::size_t>(index)])) {
      prompts.currentIndex = index;
      return true;
    }
  }
  return false;
}

namespace {

// What CommitEditedText stores for this box over this text, or nothing when it leaves it.
std::optional<std::u16string> CommittedText(std::u16string_view text, std::u16string_view boxText) {
  const std::u16string flattened = FlattenBounded(boxText);
  if (!HasEditMarker(text) && text == flattened) {
    return std::nullopt;
  }
  // The marker stays in front; the end gives way so the field never exceeds its bound.
  std::u16string marked(kEditMarker);
  marked += flattened;
  if (marked.size() > kMaxPromptTextLength) {
    marked.resize(kMaxPromptTextLength);
  }
  if (text == marked) {
    return std::nullopt;
  }
  return marked;
}

}  // namespace

void Lesson::MoveTo(std::int32_t index) {
  if (index >= 0 && index < prompts.count) {
    prompts.currentIndex = index;
  }
}

bool Lesson::CommitEditedText(std::u16string_view boxText) {
  if (prompts.currentIndex < 0) {
    return false;
  }
  PromptEntry* entry = current();
  // A read-only lesson shows its texts as read, which may be longer than a box text is kept.
  if (entry == nullptr || readOnly()) {
    return true;
  }
  if (std::optional<std::u16string> committed = CommittedText(entry->text, boxText)) {
    entry->text = *committed;
    state = LessonState::Modified;
  }
  return true;
}

bool Lesson::CommitWouldChange(std::u16string_view boxText) const {
  const PromptEntry* entry = current();
  return entry != nullptr && !readOnly() && CommittedText(entry->text, boxText).has_value();
}

void Lesson::ReplaceCurrentText(std::u16string_view boxText) {
  if (PromptEntry* entry = current(); entry != nullptr && !readOnly()) {
    entry->text = FlattenBounded(boxText);
  }
}

void Lesson::MarkRecorded() {
  if (PromptEntry* entry = current()) {
    entry->recorded = true;
    state = LessonState::Modified;
  }
}

bool Lesson::ClearEditMarker() {
  PromptEntry* entry = current();
  if (entry == nullptr || !HasEditMarker(entry->text)) {
    return false;
  }
  entry->text.erase(0, kEditMarker.size());
  return true;
}

}  // namespace voxtar::lesson
