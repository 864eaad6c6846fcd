// SPDX-License-Identifier: GPL-3.0-or-later
#include "measures/lesson_judging.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <new>
#include <thread>

#include "lesson/working_directory.h"
#include "measures/measure_cache.h"
#include "platform/file_system.h"

namespace voxtar::measures {

std::optional<DeliveryProfile> LessonProfile(std::string_view choice,
                                             std::u16string_view workingDirectory,
                                             ProfileError* error) {
  if (!choice.empty()) {
    return ChooseProfile(choice, platform::CurrentDirectory(), error);
  }
  // The lesson's paths keep the separator after the working directory.
  std::u16string_view directory = workingDirectory;
  while (directory.size() > 1 && directory.back() == platform::kSeparator) {
    directory.remove_suffix(1);
  }
  return ChooseProfile({}, directory, error);
}

const DeliveryProfile* LessonProfiles::For(std::u16string_view workingDirectory,
                                           ProfileError* error) {
  const std::u16string key = choice_.empty() ? std::u16string(workingDirectory) : u"";
  auto found = read_.find(key);
  if (found == read_.end()) {
    Read read;
    read.profile = LessonProfile(choice_, key, &read.error);
    found = read_.emplace(key, std::move(read)).first;
  }
  if (!found->second.profile) {
    *error = found->second.error;
    return nullptr;
  }
  return &*found->second.profile;
}

LessonTakes ListTakes(const lesson::Lesson& lesson) {
  LessonTakes takes;
  takes.onDisk =
      platform::ListDirectory(lesson.paths.promptDirectory, lesson::workdir::kTakePattern);
  // By the rule the scan marks prompts recorded by.
  const std::vector<std::size_t> takeOf = MatchTakeFiles(lesson.prompts.entries, takes.onDisk);
  std::map<std::u16string_view, std::size_t> fileAt;
  const auto& entries = lesson.prompts.entries;
  takes.prompts.reserve(entries.size());
  takes.fileOf.resize(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const lesson::PromptEntry& entry = *entries[i];
    takes.prompts.push_back({std::u16string(entry.name), std::u16string(entry.text)});
    if (!IsSpeakable(entry) || !entry.recorded) {
      continue;
    }
    if (takeOf[i] == lesson::kNoTakeFile) {
      continue;  // gone since the scan
    }
    const std::u16string_view onDisk = takes.onDisk[takeOf[i]];
    const auto [at, added] = fileAt.emplace(onDisk, takes.files.size());
    if (added) {
      takes.files.push_back({std::u16string(onDisk), {}});
    }
    takes.files[at->second].prompts.push_back(i);
    takes.fileOf[i] = at->second;
  }
  return takes;
}

std::vector<std::u16string> FileNames(const std::vector<LessonTakes::File>& files) {
  std::vector<std::u16string> names;
  names.reserve(files.size());
  for (const LessonTakes::File& file : files) {
    names.push_back(file.name);
  }
  return names;
}

void Feed(const LessonTakes::File& file, const MeasuredTake& measured, LessonMeasures* lesson) {
  for (const std::size_t prompt : file.prompts) {
    const std::u16string& name = lesson->prompt(prompt).name;
    if (measured.read) {
      lesson->SetMeasures(name, measured.measures);
    } else {
      lesson->ForgetMeasures(name);
    }
  }
}

std::vector<std::optional<TextCheck>> CheckTexts(std::u16string_view promptDirectory,
                                                 const LessonMeasures& lesson,
                                                 const std::vector<TextTask>& tasks,
                                                 MeasureCache* cache, unsigned threads,
                                                 const std::function<void()>& checked) {
  std::vector<std::optional<TextCheck>> results(tasks.size());
  TextJudge* judge = PluggedTextJudge();
  if (judge == nullptr || !lesson.profile().checkText) {
    return results;
  }
  std::vector<char> fresh(tasks.size(), 0);
  std::atomic<std::size_t> next{0};
  std::mutex telling;
  const auto work = [&] {
    for (std::size_t i = next++; i < tasks.size(); i = next++) {
      const TextTask& task = tasks[i];
      const TakeMeasures* take = lesson.measures(task.prompt);
      if (take != nullptr && take->voiced) {
        const TextRequest request = lesson.TextRequestAt(task.prompt);
        const std::uint64_t digest = judge->Digest(request);
        const TextCheck* cached = cache != nullptr && task.stamp
                                      ? cache->FindText(task.file, *task.stamp, digest)
                                      : nullptr;
        TextCheck check;
        std::string error;
        if (cached != nullptr) {
          results[i] = *cached;
        } else {
          try {
            if (judge->Check(std::u16string(promptDirectory) + task.file, *take, request, &check,
                             &error)) {
              results[i] = check;
              fresh[i] = 1;
            }
          } catch (const std::bad_alloc&) {
            // Left unchecked: the other judgements stand.
          }
        }
      }
      if (checked) {
        const std::lock_guard lock(telling);
        checked();
      }
    }
  };
  const auto helpers = static_cast<std::size_t>(std::max(threads, 1u)) - 1;
  {
    std::vector<std::jthread> pool;
    for (std::size_t t = 0; t < std::min(helpers, tasks.size()); ++t) {
      pool.emplace_back(work);
    }
    work();
  }
  if (cache != nullptr) {
    for (std::size_t i = 0; i < tasks.size(); ++i) {
      if (fresh[i] != 0 && tasks[i].stamp) {
        cache->StoreText(tasks[i].file, *tasks[i].stamp, *results[i]);
      }
    }
  }
  return results;
}

JudgedLesson JudgeLesson(const lesson::Lesson& lesson, const DeliveryProfile& profile,
                         std::optional<TakeFormat> expectedFormat, unsigned threads,
                         const JudgingProgress& progress) {
  LessonTakes takes = ListTakes(lesson);
  MeasureCache cache;
  cache.Load(lesson.paths.promptDirectory);
  std::size_t done = 0;
  const auto tell = [&](std::string_view stage, std::size_t total) {
    return [&progress, &done, stage, total] {
      if (progress) {
        progress(stage, ++done, total);
      }
    };
  };
  const std::vector<MeasuredTake> measured =
      MeasureTakes(lesson.paths.promptDirectory, FileNames(takes.files), &cache, threads,
                   tell("measuring", takes.files.size()));

  JudgedLesson judged{LessonMeasures(profile, expectedFormat), {}, {}};
  judged.measures.SetPrompts(std::move(takes.prompts));
  judged.prompts.resize(takes.fileOf.size());
  judged.files.resize(takes.fileOf.size());
  for (std::size_t f = 0; f < takes.files.size(); ++f) {
    Feed(takes.files[f], measured[f], &judged.measures);
  }
  std::vector<TextTask> tasks;
  for (std::size_t i = 0; i < takes.fileOf.size(); ++i) {
    if (const std::optional<std::size_t> file = takes.fileOf[i]; file && measured[*file].read) {
      tasks.push_back({i, takes.files[*file].name, measured[*file].stamp});
    }
  }
  done = 0;
  const std::vector<std::optional<TextCheck>> checks =
      CheckTexts(lesson.paths.promptDirectory, judged.measures, tasks, &cache, threads,
                 tell("checking texts", tasks.size()));
  for (std::size_t t = 0; t < tasks.size(); ++t) {
    if (checks[t]) {
      judged.measures.SetTextCheck(tasks[t].prompt, *checks[t]);
    }
  }
  cache.Retain(takes.onDisk);
  std::string ignored;
  cache.Save(&ignored);  // a cache not written only costs time next time

  for (std::size_t i = 0; i < takes.fileOf.size(); ++i) {
    PromptTake& prompt = judged.prompts[i];
    if (!IsSpeakable(*lesson.prompts.entries[i])) {
      prompt.status = PromptTake::Status::Short;
    } else if (!takes.fileOf[i]) {
      prompt.status = PromptTake::Status::Missing;
    } else {
      const MeasuredTake& take = measured[*takes.fileOf[i]];
      prompt.status = take.read ? PromptTake::Status::Measured : PromptTake::Status::Unreadable;
      prompt.error = take.error;
      judged.files[i] = takes.files[*takes.fileOf[i]].name;
    }
  }
  return judged;
}

}  // namespace voxtar::measures
