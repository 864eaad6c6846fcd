#include "lesson/lesson.h"

namespace voxtar {

namespace {

constexpr std::size_t kSpeakableLength = 5;

}  // namespace

bool IsSpeakable(const PromptEntry& entry) {
  return entry.text.size() >= kSpeakableLength;
}

bool IsPending(const PromptEntry& entry) {
  // Only the first character counts: ">Hello" is pending though it carries no edit marker.
  return IsSpeakable(entry) && (entry.text.front() == u'>' || !entry.recorded);
}

PromptEntry* Lesson::current() {
  if (prompts.currentIndex < 0 || prompts.currentIndex >= prompts.count) {
    return nullptr;
  }
  return prompts.entries[static_cast<std::size_t>(prompts.currentIndex)].get();
}

const PromptEntry* Lesson::current() const {
  return const_cast<Lesson*>(this)->current();
}

std::u16string Lesson::PromptFilePath() const {
  const PromptEntry* entry = current();
  return entry == nullptr ? paths.promptDirectory : paths.promptDirectory + entry->name;
}

std::u16string Lesson::IndexPath() const {
  return paths.lessonDirectory + lessonName + u".idx";
}

}  // namespace voxtar
