// SPDX-License-Identifier: GPL-3.0-or-later
// The lesson index load on any file content: a dry run and a real load agree, a failed load
// changes nothing on disk, and a loaded lesson is written back in the form that reads back the
// same.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "lesson/index_file.h"
#include "lesson/lesson.h"
#include "platform/utf8.h"

namespace {

bool SameEntries(const voxtar::lesson::Lesson& a, const voxtar::lesson::Lesson& b) {
  if (a.prompts.count != b.prompts.count) {
    return false;
  }
  for (std::size_t i = 0; i < a.prompts.entries.size(); ++i) {
    if (a.prompts.entries[i]->name != b.prompts.entries[i]->name ||
        a.prompts.entries[i]->text != b.prompts.entries[i]->text) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace voxtar;
  namespace fs = std::filesystem;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const fs::path root = fuzz::ScratchDirectory() / "w";
  fs::remove_all(root);
  fs::create_directories(root / "ini");
  const fs::path index = root / "ini/l.idx";
  fuzz::WriteFile(index, bytes);
  const std::u16string chosen = platform::FromUtf8(index.string());

  lesson::Lesson dry;
  const voxtar::lesson::LoadOutcome dryOutcome = dry.LoadLesson(chosen, {.dryRun = true});
  if (fuzz::ReadFile(index) != bytes || fs::exists(root / "Prompt")) {
    fuzz::Fail("a dry run changed the disk");
  }
  lesson::Lesson real;
  const voxtar::lesson::LoadOutcome outcome = real.LoadLesson(chosen);
  if (outcome.result != dryOutcome.result || outcome.badLine != dryOutcome.badLine ||
      outcome.failure != dryOutcome.failure || !SameEntries(dry, real)) {
    fuzz::Fail("the dry run and the load disagree");
  }
  if (outcome.result != voxtar::lesson::LoadResult::Loaded) {
    if (real.state != voxtar::lesson::LessonState::NoLesson || real.prompts.count != 0) {
      fuzz::Fail("a failed load left a lesson");
    }
    if (fuzz::ReadFile(index) != bytes || fs::exists(root / "Prompt")) {
      fuzz::Fail("a failed load changed the disk");
    }
    return 0;
  }
  if (outcome.overlongCount > 0) {
    // Beyond the limits: read-only, nothing created or written.
    if (outcome.saved || !real.readOnly() || fuzz::ReadFile(index) != bytes ||
        fs::exists(root / "Prompt")) {
      fuzz::Fail("a lesson beyond the limits was written");
    }
    return 0;
  }
  if (!outcome.saved || fuzz::ReadFile(index) != lesson::EncodeIndex(real.prompts)) {
    fuzz::Fail("the write-back is not the written form of the entries");
  }
  lesson::Lesson again;
  if (again.LoadLesson(chosen, {.dryRun = true}).result != voxtar::lesson::LoadResult::Loaded ||
      !SameEntries(real, again)) {
    fuzz::Fail("the written index does not read back the same");
  }
  return 0;
}
