#include "session/lesson_judge.h"

#include <algorithm>

#include "measures/delivery_profile.h"
#include "measures/lesson_judging.h"
#include "platform/file_system.h"

namespace voxtar {

namespace {

// Measured and handed to the window a few at a time, so judgements come in while a large lesson
// is still being measured and a stop is quick.
constexpr std::size_t kBatch = 16;

}  // namespace

LessonJudge::LessonJudge(QObject* parent) : QObject(parent) {}

LessonJudge::~LessonJudge() {
  Stop();
}

bool LessonJudge::Start(const Lesson& lesson, std::string* profileError) {
  Stop();
  promptDirectory_ = lesson.paths.promptDirectory;
  measures::ProfileError error;
  std::optional<measures::DeliveryProfile> profile =
      measures::LessonProfile("", lesson.paths.workingDirectory, &error);
  const bool read = profile.has_value();
  if (!read) {
    *profileError = error.Text();
    profile = measures::BuiltInProfile("course");
  }
  lesson_.SetProfile(*profile, std::nullopt);

  measures::LessonTakes takes = measures::ListTakes(lesson);
  lesson_.SetPrompts(std::move(takes.prompts));
  files_ = std::move(takes.files);
  onDisk_ = std::move(takes.onDisk);

  cache_ = std::make_unique<measures::MeasureCache>();
  cache_->Load(promptDirectory_);
  auto measure = [this, names = measures::FileNames(files_), directory = promptDirectory_,
                  cache = cache_.get()](const std::stop_token& stop,
                                        const OffThread::Handover& handover) {
    for (std::size_t from = 0; from < names.size() && !stop.stop_requested(); from += kBatch) {
      const std::size_t to = std::min(from + kBatch, names.size());
      std::vector<measures::MeasuredTake> measured = measures::MeasureTakes(
          directory,
          std::vector<std::u16string>(names.begin() + static_cast<std::ptrdiff_t>(from),
                                      names.begin() + static_cast<std::ptrdiff_t>(to)),
          cache, 2);
      Batch batch;
      for (std::size_t i = from; i < to; ++i) {
        batch.emplace_back(i, std::move(measured[i - from]));
      }
      // Dropped on the GUI thread if the lesson was stopped meanwhile.
      handover([this, batch = std::move(batch)] { Apply(batch); });
    }
  };
  worker_.Start(std::move(measure), [this] { Finished(); });
  return read;
}

void LessonJudge::Stop() {
  worker_.Stop();
  if (cache_) {
    KeepCache();
    cache_.reset();
  }
  lesson_.SetPrompts({});
  files_.clear();
  onDisk_.reset();
  savedDuringScan_.clear();
}

void LessonJudge::Apply(const Batch& batch) {
  for (const auto& [file, measured] : batch) {
    const std::vector<std::size_t>& prompts = files_[file].prompts;
    if (std::none_of(prompts.begin(), prompts.end(),
                     [this](std::size_t index) { return savedDuringScan_.contains(index); })) {
      measures::Feed(files_[file], measured, &lesson_);
    }
  }
  emit judgementsChanged();
}

void LessonJudge::Finished() {
  KeepCache();
}

void LessonJudge::KeepCache() {
  if (onDisk_) {
    cache_->Retain(*onDisk_);
    onDisk_.reset();
  }
  for (const auto& [name, measured] : std::exchange(unstored_, {})) {
    StoreInCache(name, measured);
  }
  std::string ignored;
  cache_->Save(&ignored);  // a cache not written only costs time later
}

void LessonJudge::StoreInCache(const std::u16string& name, const measures::TakeMeasures& measured) {
  if (worker_.running()) {
    unstored_.emplace_back(name, measured);
    return;
  }
  // Kept under the take's name on disk, as ListTakes names it.
  const std::u16string path = promptDirectory_ + name;
  if (const std::optional<measures::FileStamp> stamp = measures::StampOf(path)) {
    cache_->Store(platform::FromUtf8(platform::ResolvePath(path).filename().native()), *stamp,
                  measured);
  }
}

void LessonJudge::TakeSaved(std::size_t index,
                            const std::optional<measures::TakeMeasures>& measured) {
  if (index >= lesson_.size()) {
    return;
  }
  const std::u16string name = lesson_.prompt(index).name;
  // A batch of the scan may still be on its way.
  savedDuringScan_.insert(index);
  if (!measured) {
    lesson_.ForgetMeasures(name);
    return;
  }
  lesson_.SetMeasures(name, *measured);
  if (cache_) {
    StoreInCache(name, *measured);
    if (!worker_.running()) {
      std::string ignored;
      cache_->Save(&ignored);
    }
  }
}

void LessonJudge::TextChanged(std::size_t index, const std::u16string& text) {
  if (index < lesson_.size() && lesson_.prompt(index).text != text) {
    lesson_.SetText(index, text);
  }
}

std::optional<measures::Judgement> LessonJudge::Judge(std::size_t index) const {
  return index < lesson_.size() ? lesson_.Judge(index) : std::nullopt;
}

std::optional<std::size_t> LessonJudge::NextFlagged(std::size_t from) const {
  return lesson_.NextFlagged(from);
}

}  // namespace voxtar
