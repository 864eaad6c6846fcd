// SPDX-License-Identifier: GPL-3.0-or-later
#include "lesson/lesson.h"

#include "lesson/working_directory.h"
#include "platform/large_blocks.h"

namespace voxtar::lesson {

namespace {

constexpr std::size_t kSpeakableLength = 5;

// The arena's first block: a lesson of a few thousand prompts fits, and one huge page is the
// least the large blocks hand out anyway.
constexpr std::size_t kFirstBlock = std::size_t{2} << 20;

}  // namespace

bool IsSpeakable(const PromptEntry& entry) {
  return entry.text.size() >= kSpeakableLength;
}

bool IsPending(const PromptEntry& entry) {
  // Only the first character counts: ">Hello" is pending though it carries no edit marker.
  return IsSpeakable(entry) && (entry.text.front() == u'>' || !entry.recorded);
}

PromptList::PromptList() : arena_(kFirstBlock, platform::LargeBlocks()), entries(&arena_) {}

PromptList::~PromptList() {
  Clear();
}

PromptEntry& PromptList::Add() {
  // Strings and all live in the arena; Clear ends them together.
  auto* entry = std::pmr::polymorphic_allocator<>(&arena_).new_object<PromptEntry>();
  entries.push_back(entry);
  count = static_cast<std::int32_t>(entries.size());
  return *entry;
}

void PromptList::Clear() {
  // The entries are not destroyed one by one: all they hold is in the arena, which goes whole.
  entries = std::pmr::vector<PromptEntry*>(&arena_);
  count = 0;
  arena_.release();
}

PromptEntry* Lesson::current() {
  if (prompts.currentIndex < 0 || prompts.currentIndex >= prompts.count) {
    return nullptr;
  }
  return prompts.entries[static_cast<std::size_t>(prompts.currentIndex)];
}

const PromptEntry* Lesson::current() const {
  return const_cast<Lesson*>(this)->current();
}

std::u16string Lesson::PromptFilePath() const {
  const PromptEntry* entry = current();
  std::u16string path = paths.promptDirectory;
  if (entry != nullptr) {
    path += entry->name;
  }
  return path;
}

std::u16string Lesson::IndexPath() const {
  return paths.lessonDirectory + lessonName + std::u16string(workdir::kIndexExtension);
}

}  // namespace voxtar::lesson
