#include "session/lesson_judge.h"

#include <algorithm>

#include "measures/delivery_profile.h"

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
  workingDirectory_ = lesson.paths.workingDirectory;
  measures::ProfileError error;
  std::optional<measures::DeliveryProfile> profile =
      measures::ChooseProfile("", workingDirectory_, &error);
  const bool read = profile.has_value();
  if (!read) {
    *profileError = error.Text();
    profile = measures::BuiltInProfile("course");
  }
  lesson_.SetProfile(*profile, std::nullopt);

  std::vector<measures::LessonMeasures::Prompt> prompts;
  std::vector<std::u16string> recorded;
  for (const PromptEntry* entry : lesson.prompts.entries) {
    prompts.push_back({std::u16string(entry->name), std::u16string(entry->text)});
    if (entry->recorded && IsSpeakable(*entry)) {
      recorded.emplace_back(entry->name);
    }
  }
  lesson_.SetPrompts(std::move(prompts));

  cache_ = std::make_unique<measures::MeasureCache>();
  cache_->Load(promptDirectory_);
  auto measure = [this, recorded = std::move(recorded), directory = promptDirectory_,
                  cache = cache_.get()](const std::stop_token& stop,
                                        const OffThread::Handover& handover) {
    for (std::size_t from = 0; from < recorded.size() && !stop.stop_requested(); from += kBatch) {
      const std::vector<std::u16string> names(
          recorded.begin() + static_cast<std::ptrdiff_t>(from),
          recorded.begin() + static_cast<std::ptrdiff_t>(std::min(from + kBatch, recorded.size())));
      std::vector<measures::MeasuredTake> measured =
          measures::MeasureTakes(directory, names, cache, 2);
      Batch batch;
      for (std::size_t i = 0; i < names.size(); ++i) {
        batch.emplace_back(names[i], std::move(measured[i]));
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
    for (const auto& [name, measured] : std::exchange(unstored_, {})) {
      StoreInCache(name, measured);
    }
    std::string ignored;
    cache_->Save(workingDirectory_, &ignored);  // a cache not written only costs time later
    cache_.reset();
  }
  lesson_.SetPrompts({});
}

void LessonJudge::Apply(const Batch& batch) {
  for (const auto& [name, measured] : batch) {
    if (measured.read) {
      lesson_.SetMeasures(name, measured.measures);
    } else {
      lesson_.ForgetMeasures(name);
    }
  }
  emit judgementsChanged();
}

void LessonJudge::Finished() {
  for (const auto& [name, measured] : std::exchange(unstored_, {})) {
    StoreInCache(name, measured);
  }
  std::string ignored;
  cache_->Save(workingDirectory_, &ignored);
}

void LessonJudge::StoreInCache(const std::u16string& name, const measures::TakeMeasures& measured) {
  if (worker_.running()) {
    unstored_.emplace_back(name, measured);
    return;
  }
  if (const std::optional<measures::FileStamp> stamp = measures::StampOf(promptDirectory_ + name)) {
    cache_->Store(name, *stamp, measured);
  }
}

void LessonJudge::TakeSaved(std::size_t index,
                            const std::optional<measures::TakeMeasures>& measured) {
  if (index >= lesson_.size()) {
    return;
  }
  const std::u16string name = lesson_.prompt(index).name;
  if (!measured) {
    lesson_.ForgetMeasures(name);
    return;
  }
  lesson_.SetMeasures(name, *measured);
  if (cache_) {
    StoreInCache(name, *measured);
    if (!worker_.running()) {
      std::string ignored;
      cache_->Save(workingDirectory_, &ignored);
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
