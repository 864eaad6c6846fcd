// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/lesson_judge.h"

#include <algorithm>

#include "measures/delivery_profile.h"
#include "measures/lesson_judging.h"
#include "platform/file_system.h"
#include "session/failure_texts.h"

namespace voxtar::session {

namespace {

// Measured and handed to the window a few at a time, so judgements come in while a large lesson
// is still being measured and a stop is quick.
constexpr std::size_t kBatch = 16;

}  // namespace

std::u16string LessonJudge::OnDiskName(const std::u16string& name) const {
  // Kept under the take's name on disk, as ListTakes names it.
  return platform::FromUtf8(platform::ResolvePath(promptDirectory_ + name).filename().native());
}

LessonJudge::LessonJudge(QObject* parent) : QObject(parent) {}

LessonJudge::~LessonJudge() {
  Stop();
}

bool LessonJudge::Start(const lesson::Lesson& lesson, std::string* profileError) {
  Stop();
  promptDirectory_ = lesson.paths.promptDirectory;
  measures::ProfileError error;
  std::optional<measures::DeliveryProfile> profile =
      measures::LessonProfile("", lesson.paths.workingDirectory, &error);
  const bool read = profile.has_value();
  if (!read) {
    *profileError = OperatorText(error).toStdString();
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
                  cache = cache_.get(), files = files_, mirror = lesson_](
                     const std::stop_token& stop, const OffThread::Handover& handover) mutable {
    std::vector<measures::TextTask> tasks;
    for (std::size_t from = 0; from < names.size() && !stop.stop_requested(); from += kBatch) {
      const std::size_t to = std::min(from + kBatch, names.size());
      std::vector<measures::MeasuredTake> measured = measures::MeasureTakes(
          directory,
          std::vector<std::u16string>(names.begin() + static_cast<std::ptrdiff_t>(from),
                                      names.begin() + static_cast<std::ptrdiff_t>(to)),
          cache, 2);
      Batch batch;
      for (std::size_t i = from; i < to; ++i) {
        measures::Feed(files[i], measured[i - from], &mirror);
        if (measured[i - from].read) {
          for (const std::size_t prompt : files[i].prompts) {
            tasks.push_back({prompt, names[i], measured[i - from].stamp});
          }
        }
        batch.emplace_back(i, std::move(measured[i - from]));
      }
      // Dropped on the GUI thread if the lesson was stopped meanwhile.
      handover([this, batch = std::move(batch)] { Apply(batch); });
    }
    // Then each take against its text, once every judgement of its measures is in.
    for (std::size_t from = 0; from < tasks.size() && !stop.stop_requested(); from += kBatch) {
      const std::vector<measures::TextTask> some(
          tasks.begin() + static_cast<std::ptrdiff_t>(from),
          tasks.begin() + static_cast<std::ptrdiff_t>(std::min(from + kBatch, tasks.size())));
      const std::vector<std::optional<measures::TextCheck>> checks =
          measures::CheckTexts(directory, mirror, some, cache, 2);
      for (std::size_t t = 0; t < some.size(); ++t) {
        if (checks[t]) {
          // Already in the cache: no stamp to store it by again.
          handover([this, checked = TextChecked{some[t].prompt, *mirror.measures(some[t].prompt),
                                                *checks[t], std::nullopt}] { ApplyText(checked); });
        }
      }
    }
  };
  worker_.Start(std::move(measure), [this] { Finished(); });
  return read;
}

void LessonJudge::Stop() {
  worker_.Stop();
  textWorker_.Stop();
  textsToCheck_.clear();
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
  for (const TextChecked& checked : std::exchange(unstoredTexts_, {})) {
    if (checked.stamp && checked.prompt < lesson_.size()) {
      cache_->StoreText(OnDiskName(lesson_.prompt(checked.prompt).name), *checked.stamp,
                        checked.check);
    }
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
    cache_->Store(OnDiskName(name), *stamp, measured);
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
  QueueTextCheck(index);
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
    // Its take and its neighbours' are checked against the new text.
    for (std::size_t i = index == 0 ? 0 : index - 1; i <= index + 1 && i < lesson_.size(); ++i) {
      QueueTextCheck(i);
    }
  }
}

void LessonJudge::QueueTextCheck(std::size_t index) {
  const measures::TakeMeasures* take = lesson_.measures(index);
  if (measures::PluggedTextJudge() == nullptr || !lesson_.profile().checkText || take == nullptr ||
      !take->voiced) {
    return;
  }
  textsToCheck_.push_back(index);
  if (!textWorker_.running()) {
    CheckNextText();
  }
}

void LessonJudge::CheckNextText() {
  measures::TextJudge* judge = measures::PluggedTextJudge();
  while (!textsToCheck_.empty()) {
    const std::size_t index = textsToCheck_.front();
    textsToCheck_.pop_front();
    const measures::TakeMeasures* take = index < lesson_.size() ? lesson_.measures(index) : nullptr;
    if (judge == nullptr || take == nullptr) {
      continue;
    }
    // What the worker needs, copied: the lesson may change while it works.
    struct Job {
      std::u16string path;
      std::u16string text, previous, next;
      std::string voice;
      TextChecked checked;
    };
    const measures::TextRequest request = lesson_.TextRequestAt(index);
    const std::u16string path = promptDirectory_ + lesson_.prompt(index).name;
    auto job = std::make_shared<Job>(Job{path,
                                         std::u16string(request.text),
                                         std::u16string(request.previous),
                                         std::u16string(request.next),
                                         std::string(request.voice),
                                         {index, *take, {}, measures::StampOf(path)}});
    textWorker_.Run(
        [judge, job] {
          std::string ignored;
          return judge->Check(job->path, job->checked.take,
                              {job->text, job->previous, job->next, job->voice},
                              &job->checked.check, &ignored);
        },
        [this, job](bool checked) {
          if (checked) {
            ApplyText(job->checked);
          }
          CheckNextText();
        });
    return;
  }
}

void LessonJudge::ApplyText(const TextChecked& checked) {
  measures::TextJudge* judge = measures::PluggedTextJudge();
  const std::size_t index = checked.prompt;
  // Only while it is still that take, checked against those texts.
  const measures::TakeMeasures* take = index < lesson_.size() ? lesson_.measures(index) : nullptr;
  if (judge == nullptr || take == nullptr || !(*take == checked.take) ||
      judge->Digest(lesson_.TextRequestAt(index)) != checked.check.digest) {
    return;
  }
  lesson_.SetTextCheck(index, checked.check);
  if (cache_ && checked.stamp) {
    if (worker_.running()) {
      unstoredTexts_.push_back(checked);
    } else {
      cache_->StoreText(OnDiskName(lesson_.prompt(index).name), *checked.stamp, checked.check);
      std::string ignored;
      cache_->Save(&ignored);
    }
  }
  emit judgementsChanged();
  emit textChecked(index);
}

std::optional<measures::Judgement> LessonJudge::Judge(std::size_t index) const {
  return index < lesson_.size() ? lesson_.Judge(index) : std::nullopt;
}

std::optional<std::size_t> LessonJudge::NextFlagged(std::size_t from) const {
  return lesson_.NextFlagged(from);
}

}  // namespace voxtar::session
