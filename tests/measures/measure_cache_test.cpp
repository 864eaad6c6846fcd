// SPDX-License-Identifier: GPL-3.0-or-later
#include "measures/measure_cache.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "measures/lesson_judging.h"
#include "measures/lesson_measures.h"
#include "platform/utf8.h"
#include "tests/measures/measures_test_support.h"

namespace voxtar::measures {
namespace {

namespace fs = std::filesystem;
using audio::SpokenTake;

constexpr int kWav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;

// The takes lie in <tmp>/takes, the user's cache in <tmp>/cache.
class Cache : public TakeFiles {
 protected:
  Cache() {
    fs::create_directories(tmp / "takes");
    ::setenv("XDG_CACHE_HOME", (tmp / "cache").c_str(), 1);
  }
  ~Cache() override { ::unsetenv("XDG_CACHE_HOME"); }

  std::u16string Takes() const { return Wide("takes/"); }
  // Measures a.wav and b.wav through the cache and saves it.
  std::vector<MeasuredTake> MeasureBoth(MeasureCache& cache) {
    cache.Load(Takes());
    std::vector<MeasuredTake> measured = MeasureTakes(Takes(), {u"a.wav", u"b.wav"}, &cache, 2);
    std::string error;
    EXPECT_TRUE(cache.Save(&error)) << error;
    return measured;
  }
};

// A take is measured again once it is another file: changed, replaced by another of the same
// size and time, or in a directory that moved.
TEST_F(Cache, AFreshEntryStandsForTheFileUntilItIsAnotherFile) {
  const TakeMeasures a = Measure(SpokenTake(kWav16), "takes/a.wav");
  const TakeMeasures b = Measure(SpokenTake(kWav16, 44100, 1, 0.02), "takes/b.wav");
  MeasureCache cache;
  std::vector<MeasuredTake> measured = MeasureBoth(cache);
  ASSERT_TRUE(measured[0].read && measured[1].read);
  EXPECT_EQ(measured[0].measures, a);
  EXPECT_EQ(measured[1].measures, b);
  // In the user's cache, for its owner only; nothing beside the takes.
  const fs::path file = cache.file();
  EXPECT_EQ(file.parent_path(), tmp / "cache/voxtar");
  EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(fs::status(file.parent_path()).permissions(), fs::perms::owner_all);
  EXPECT_EQ(std::distance(fs::directory_iterator(tmp / "takes"), fs::directory_iterator()), 2);

  // The same file rewritten to the same size and time is still taken from the cache: it is
  // not read again.
  const auto time = fs::last_write_time(tmp / "takes/a.wav");
  const std::string original = testing::ReadBytes(tmp / "takes/a.wav");
  const std::string garbage(original.size(), 'x');
  testing::WriteBytes(tmp / "takes/a.wav", garbage);
  fs::last_write_time(tmp / "takes/a.wav", time);
  MeasureCache reloaded;
  measured = MeasureBoth(reloaded);
  EXPECT_EQ(reloaded.size(), 2u);
  EXPECT_TRUE(measured[0].read);
  EXPECT_EQ(measured[0].measures, a);  // every field read back exactly

  const auto notRead = [&](const char* what) {
    MeasureCache again;
    const std::vector<MeasuredTake> now = MeasureBoth(again);
    EXPECT_FALSE(now[0].read) << what;
    EXPECT_NE(now[0].error.find("not a sound file"), std::string::npos) << what;
    EXPECT_TRUE(now[1].read) << what;
  };
  // Another file of the same size and time in its place.
  testing::WriteBytes(tmp / "takes/other.wav", garbage);
  fs::last_write_time(tmp / "takes/other.wav", time);
  fs::rename(tmp / "takes/other.wav", tmp / "takes/a.wav");
  notRead("replaced");
  // Another time.
  fs::last_write_time(tmp / "takes/a.wav", time + std::chrono::seconds(1));
  notRead("touched");

  // A directory that moved has a cache of its own.
  fs::rename(tmp / "takes", tmp / "moved");
  fs::create_directory_symlink(tmp / "moved", tmp / "takes");
  MeasureCache moved;
  moved.Load(Takes());
  EXPECT_EQ(moved.size(), 0u);
  EXPECT_NE(moved.file(), file);

  // A take that is gone leaves the cache.
  reloaded.Retain({u"b.wav"});
  EXPECT_EQ(reloaded.size(), 1u);
  EXPECT_TRUE(reloaded.changed());
}

TEST_F(Cache, ADamagedForeignOrOldFileIsIgnoredAndWrittenAnew) {
  const TakeMeasures a = Measure(SpokenTake(kWav16), "takes/a.wav");
  Measure(SpokenTake(kWav16), "takes/b.wav");
  MeasureCache cache;
  MeasureBoth(cache);
  const fs::path file = cache.file();
  const std::string good = testing::ReadBytes(file);
  const std::size_t firstLine = good.find('\n', good.find('\n') + 1) + 1;  // after the path
  const std::string line = good.substr(firstLine, good.find('\n', firstLine) + 1 - firstLine);
  const std::string head = good.substr(0, firstLine);
  const std::string damaged[] = {
      "",
      "not a cache at all",
      "voxtar-measures 1\n" + good.substr(firstLine),  // the version that lay beside the takes
      "voxtar-measures 2\n/another/directory\n" + good.substr(firstLine),
      good.substr(0, good.size() - 1),                       // cut short
      good + line.substr(0, line.rfind('\t')) + "\n",        // a line short of a field
      good + line.substr(0, line.size() - 1) + "\t1\n",      // one field too many
      good + "c.wav\tx" + line.substr(line.find('\t', 6)),   // not a number
      head + "\xff\xfe.wav" + line.substr(line.find('\t')),  // not UTF-8
  };
  for (const std::string& text : damaged) {
    testing::WriteBytes(file, text);
    MeasureCache reloaded;
    reloaded.Load(Takes());
    EXPECT_EQ(reloaded.size(), 0u) << text;
    EXPECT_TRUE(reloaded.changed());
    const std::vector<MeasuredTake> measured = MeasureBoth(reloaded);
    EXPECT_EQ(measured[0].measures, a);
    EXPECT_EQ(testing::ReadBytes(file), good);
  }
  // What older versions left beside the takes is neither read nor written.
  testing::WriteBytes(tmp / "takes/.measures", "voxtar-measures 1\n" + good.substr(firstLine));
  fs::remove(file);
  MeasureCache fresh;
  fresh.Load(Takes());
  EXPECT_EQ(fresh.size(), 0u);
  MeasureBoth(fresh);
  EXPECT_EQ(testing::ReadBytes(tmp / "takes/.measures"),
            "voxtar-measures 1\n" + good.substr(firstLine));
}

TEST_F(Cache, NothingIsWrittenWithoutADirectoryACacheFolderOrAChange) {
  MeasureCache cache;
  cache.Load(Wide("gone/"));
  cache.Store(u"a.wav", {1, 2, 3, 4}, {});
  std::string error;
  EXPECT_TRUE(cache.Save(&error));
  EXPECT_FALSE(fs::exists(tmp / "gone"));
  EXPECT_FALSE(fs::exists(tmp / "cache"));

  cache.Load(Takes());
  EXPECT_TRUE(cache.Save(&error));
  EXPECT_FALSE(fs::exists(tmp / "cache"));      // empty and unchanged
  cache.Store(u"tab\t.wav", {1, 2, 3, 4}, {});  // a name that would break the line
  EXPECT_FALSE(cache.changed());

  // Neither an absolute XDG_CACHE_HOME nor HOME: nothing is kept, and nothing fails.
  const std::string home = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
  ::setenv("XDG_CACHE_HOME", "relative", 1);
  ::unsetenv("HOME");
  EXPECT_EQ(CacheFolder(), fs::path());
  cache.Load(Takes());
  cache.Store(u"a.wav", {1, 2, 3, 4}, {});
  EXPECT_TRUE(cache.Save(&error));
  ::setenv("HOME", (tmp / "home").c_str(), 1);
  EXPECT_EQ(CacheFolder(), tmp / "home/.cache/voxtar");
  if (!home.empty()) {
    ::setenv("HOME", home.c_str(), 1);
  }
  EXPECT_FALSE(fs::exists(tmp / "home"));
}

// A judge that counts its checks: a take fits its text when the text starts with "Hello".
class CountingJudge final : public TextJudge {
 public:
  bool KnowsVoice(std::string_view) const override { return true; }
  std::uint64_t Digest(const TextRequest& request) const override {
    return std::hash<std::u16string>()(
        std::u16string(request.text) + u"|" + std::u16string(request.previous) + u"|" +
        std::u16string(request.next) + u"|" + platform::FromUtf8(request.voice));
  }
  bool Check(std::u16string_view, const TakeMeasures&, const TextRequest& request, TextCheck* check,
             std::string*) override {
    ++checks;
    const bool fits = request.text.starts_with(u"Hello");
    *check = {Digest(request), true, fits ? 0.9 : 0.1, 1.0, !fits, false, false};
    return true;
  }
  int checks = 0;
};

// A take's check against its text is kept with its measures until the take, its text, a
// neighbour's text or the voice changes.
TEST_F(Cache, ATextCheckHoldsWhileTheTakeAndTheTextsAreTheSame) {
  Measure(SpokenTake(kWav16), "takes/a.wav");
  Measure(SpokenTake(kWav16, 44100, 1, 0.5), "takes/b.wav");
  CountingJudge judge;
  PlugTextJudge(&judge);
  LessonMeasures lesson(*BuiltInProfile("course"));
  lesson.SetPrompts({{u"a.wav", u"Hello there"}, {u"b.wav", u"Good day"}});
  struct Step {
    const char* what;
    std::function<void()> change;
    int checks;  // made anew; the others came from the cache
  };
  const Step steps[] = {
      {"first", [] {}, 2},
      {"unchanged", [] {}, 0},
      // Each take is checked against the other's text too.
      {"a text, and so its neighbour's", [&] { lesson.SetText(1, u"Good night"); }, 2},
      {"the voice",
       [&] {
         DeliveryProfile profile = lesson.profile();
         profile.voice = "en-gb";
         lesson.SetProfile(profile, std::nullopt);
       },
       2},
      {"a take recorded again", [&] { Measure(SpokenTake(kWav16, 44100, 1, 0.7), "takes/b.wav"); },
       1},
  };
  for (const Step& step : steps) {
    step.change();
    MeasureCache cache;
    const std::vector<MeasuredTake> measured = MeasureBoth(cache);
    std::vector<TextTask> tasks;
    for (std::size_t i = 0; i < 2; ++i) {
      lesson.SetMeasures(lesson.prompt(i).name, measured[i].measures);
      tasks.push_back({i, lesson.prompt(i).name, measured[i].stamp});
    }
    judge.checks = 0;
    const std::vector<std::optional<TextCheck>> checks =
        CheckTexts(Takes(), lesson, tasks, &cache, 2);
    std::string error;
    EXPECT_TRUE(cache.Save(&error)) << error;
    EXPECT_EQ(judge.checks, step.checks) << step.what;
    ASSERT_TRUE(checks[0] && checks[1]) << step.what;
    for (std::size_t i = 0; i < 2; ++i) {
      lesson.SetTextCheck(i, *checks[i]);
    }
    EXPECT_EQ(lesson.Judge(0)->problems(), std::vector<Problem>{}) << step.what;
    EXPECT_EQ(lesson.Judge(1)->problems(), std::vector<Problem>{Problem::TextMismatch})
        << step.what;
  }
  // Its text changed, a take is judged without the check until it is checked again.
  lesson.SetText(0, u"Good morning");
  EXPECT_EQ(lesson.textCheck(0), nullptr);
  EXPECT_EQ(lesson.textCheck(1), nullptr);
  // A profile that does not check texts asks no judge and flags nothing.
  DeliveryProfile off = lesson.profile();
  off.checkText = false;
  lesson.SetProfile(off, std::nullopt);
  EXPECT_FALSE(CheckTexts(Takes(), lesson, {{0, u"a.wav", std::nullopt}}, nullptr, 1)[0]);
  PlugTextJudge(nullptr);
}

}  // namespace
}  // namespace voxtar::measures
