// SPDX-License-Identifier: GPL-3.0-or-later
// A lesson's takes judged the one way that the window and every command of voxtar-lesson judge
// them: the same delivery profile (the lesson's own), the same takes (each recorded prompt's file
// as it is named on disk), measured through the same cache and judged within the same lesson.
// The window measures on a worker as the lesson loads (ListTakes, MeasureTakes, Feed); the
// commands do all of it at once (JudgeLesson). No Qt.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lesson/lesson.h"
#include "measures/delivery_profile.h"
#include "measures/lesson_measures.h"
#include "measures/take_measures.h"
#include "measures/text_check.h"

namespace voxtar::measures {

// The profile a lesson is judged by: `choice` when it is given (--profile: a built-in name, or a
// profile file, a relative path being taken from the current directory), else the profile file
// "delivery.ini" of the lesson's working directory (the folder above its ini folder) when there
// is one, else "course". Unset, with *error, when the profile cannot be read.
std::optional<DeliveryProfile> LessonProfile(std::string_view choice,
                                             std::u16string_view workingDirectory,
                                             ProfileError* error);

// The profiles of the lessons of one run: `choice` for every lesson when it is given, else each
// lesson's own by LessonProfile, each file read once.
class LessonProfiles {
 public:
  explicit LessonProfiles(std::string choice) : choice_(std::move(choice)) {}
  // The profile of the lessons of `workingDirectory`; null, with *error, when it cannot be read.
  const DeliveryProfile* For(std::u16string_view workingDirectory, ProfileError* error);

 private:
  struct Read {
    std::optional<DeliveryProfile> profile;
    ProfileError error;
  };
  std::string choice_;
  std::map<std::u16string, Read, std::less<>> read_;
};

// What a lesson's takes are: its prompts, and the take file of each speakable prompt that the
// scan found recorded, under the file's name on disk, matched as the scan matches it
// (MatchTakeFiles).
struct LessonTakes {
  struct File {
    std::u16string name;               // as on disk
    std::vector<std::size_t> prompts;  // whose take it is
  };
  std::vector<LessonMeasures::Prompt> prompts;  // in order
  std::vector<File> files;                      // in the order of their first prompt
  // Per prompt: its take file in `files`; unset for a short prompt and a missing take.
  std::vector<std::optional<std::size_t>> fileOf;
  std::vector<std::u16string> onDisk;  // every take file of the prompt directory
};
LessonTakes ListTakes(const lesson::Lesson& lesson);

// The names of `files`, as MeasureTakes takes them.
std::vector<std::u16string> FileNames(const std::vector<LessonTakes::File>& files);

// Gives what `file` measured (or that it could not be read) to the prompts whose take it is.
void Feed(const LessonTakes::File& file, const MeasuredTake& measured, LessonMeasures* lesson);

// A take to check against its text: the take of prompt `prompt`, the file `file` of the prompt
// directory, as it was when measured (`stamp`, unset: not kept in the cache).
struct TextTask {
  std::size_t prompt = 0;
  std::u16string file;
  std::optional<FileStamp> stamp;
};

// Checks the takes of `tasks` against their texts with the plugged judge (PluggedTextJudge), as
// `lesson` has their measures and texts, on up to `threads` threads: from `cache` where it has
// them (it may be null), and what is new is stored there. Per task: the check, or unset when the
// profile does not check texts, no judge is plugged in, the take is silent or could not be
// judged. `checked`, when set, is called (one thread at a time) as each task is done.
std::vector<std::optional<TextCheck>> CheckTexts(std::u16string_view promptDirectory,
                                                 const LessonMeasures& lesson,
                                                 const std::vector<TextTask>& tasks,
                                                 MeasureCache* cache, unsigned threads,
                                                 const std::function<void()>& checked = {});

// How a judgement of a lesson goes: what it does ("measuring", "checking texts"), and how many of
// how many takes are done.
using JudgingProgress =
    std::function<void(std::string_view stage, std::size_t done, std::size_t total)>;

struct PromptTake {
  enum class Status { Short, Missing, Unreadable, Measured };
  Status status = Status::Missing;
  std::string error;  // with Unreadable
};

struct JudgedLesson {
  LessonMeasures measures;  // every prompt; Judge(i) judges a measured take within the lesson
  std::vector<PromptTake> prompts;
  std::vector<std::u16string> files;  // per prompt: its take file's name on disk, or empty
};

// Lists the takes of `lesson` (loaded, its recorded prompts scanned), measures them and checks
// them against their texts (CheckTexts) on up to `threads` threads through the user's measure
// cache, which is brought up to date, and gives them to a LessonMeasures judging by `profile`
// (and formats against `expectedFormat`, when set). `progress`, when set, hears how it goes.
JudgedLesson JudgeLesson(const lesson::Lesson& lesson, const DeliveryProfile& profile,
                         std::optional<TakeFormat> expectedFormat, unsigned threads,
                         const JudgingProgress& progress = {});

}  // namespace voxtar::measures
