// SPDX-License-Identifier: GPL-3.0-or-later
// The window's judgement of a lesson's takes against the delivery profile of its working
// directory: each take alone and within the lesson (a take much louder or faster than the others
// is flagged), kept up to date as takes are saved, so the strip can say "4.1 LU louder than the
// lesson" and F3 can find the next flagged take. The profile, the takes and the way their
// measures reach the judgement are those of voxtar-lesson (measures/lesson_judging.h). When a
// lesson is loaded, its recorded takes are measured on a worker thread, from the user's measure
// cache where it is fresh; judgements grow as the measures come in (judgementsChanged). Then, and
// for each take saved, the takes are checked against their texts on a worker as well: a check
// takes a tenth of a second, which the window must not wait for. The judge is the one the program
// plugged in at start (measures::PlugTextJudge); without one, texts are not checked.
//
// Ownership: the recording flow owns it. Threads: GUI thread, apart from its worker.
#pragma once

#include <QObject>
#include <deque>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "lesson/lesson.h"
#include "measures/lesson_judging.h"
#include "measures/lesson_measures.h"
#include "measures/measure_cache.h"
#include "session/off_thread.h"

namespace voxtar::session {

class LessonJudge : public QObject {
  Q_OBJECT

 public:
  explicit LessonJudge(QObject* parent = nullptr);
  ~LessonJudge() override;
  LessonJudge(const LessonJudge&) = delete;
  LessonJudge& operator=(const LessonJudge&) = delete;

  // Judges `lesson` (just loaded) from now on. False, with the profile file's error (file, line
  // and key) in *profileError, when the working directory's profile cannot be read: the lesson is
  // then judged by the built-in "course" profile, and the caller says so.
  bool Start(const lesson::Lesson& lesson, std::string* profileError);
  // The lesson is gone: the measuring stops, the cache is written.
  void Stop();

  // A take just saved, measured on the thread that saved it; nothing when it cannot be read.
  void TakeSaved(std::size_t index, const std::optional<measures::TakeMeasures>& measured);
  void TextChanged(std::size_t index, const std::u16string& text);

  const measures::DeliveryProfile& profile() const { return lesson_.profile(); }
  std::optional<measures::Judgement> Judge(std::size_t index) const;
  // What the take of prompt `index` measured; null when not (yet) known.
  const measures::TakeMeasures* Measures(std::size_t index) const {
    return lesson_.measures(index);
  }
  // The next prompt after `from` whose take has a problem (going round); unset when none.
  std::optional<std::size_t> NextFlagged(std::size_t from) const;
  bool measuring() const { return worker_.running(); }

 signals:
  // Measures came in: the judgements, and the lesson's medians, may have changed.
  void judgementsChanged();
  // The take of prompt `index` was checked against its text: its judgement may have changed.
  void textChecked(std::size_t index);

 private:
  // Take files (by their place in files_) and what each measured.
  using Batch = std::vector<std::pair<std::size_t, measures::MeasuredTake>>;
  // A take checked against its text: its prompt, the measures it was checked with, the check.
  struct TextChecked {
    std::size_t prompt = 0;
    measures::TakeMeasures take;
    measures::TextCheck check;
    std::optional<measures::FileStamp> stamp;
  };
  void Apply(const Batch& batch);
  void ApplyText(const TextChecked& checked);
  // Checks the take of prompt `index` against its text on the text worker, after those queued.
  void QueueTextCheck(std::size_t index);
  void CheckNextText();
  void Finished();
  void KeepCache();
  std::u16string OnDiskName(const std::u16string& name) const;
  void StoreInCache(const std::u16string& name, const measures::TakeMeasures& measured);

  measures::LessonMeasures lesson_;
  std::u16string promptDirectory_;
  std::vector<measures::LessonTakes::File> files_;  // the takes measured as the lesson loaded
  // The prompt directory's takes as it loaded, until the cache has dropped the others.
  std::optional<std::vector<std::u16string>> onDisk_;
  // The worker's while it measures; the GUI thread's after.
  std::unique_ptr<measures::MeasureCache> cache_;
  // Takes saved while the worker had the cache, to store once it is back.
  std::vector<std::pair<std::u16string, measures::TakeMeasures>> unstored_;
  std::vector<TextChecked> unstoredTexts_;
  std::deque<std::size_t> textsToCheck_;  // prompts whose saved take waits for its check
  // Prompts whose take was saved since the lesson's takes began to be measured: what the scan
  // measured of them is older than the save's own measures, and is not applied.
  std::set<std::size_t> savedDuringScan_;
  OffThread worker_;
  OffThread textWorker_;
};

}  // namespace voxtar::session
