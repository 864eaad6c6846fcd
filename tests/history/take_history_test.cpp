// SPDX-License-Identifier: GPL-3.0-or-later
#include "history/take_history.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/file_system.h"
#include "testing/synthetic_take.h"
#include "tests/support/temp_dir.h"

namespace voxtar::history {
namespace {

namespace fs = std::filesystem;
using testing::ReadBytes;

// Takes told apart by their length.
audio::WaveElement Take(double seconds) {
  return audio::SilentTake(SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, seconds);
}

// A working directory with a prompt directory and its take history.
struct Scene {
  Scene() { fs::create_directories(prompts); }

  fs::path Path(const std::string& name) const { return prompts / name; }
  TakeHistory History() const {
    return TakeHistory(platform::FromUtf8(prompts.string()), tmp.wide());
  }
  void Save(const std::string& name, double seconds) const {
    const Result result = History().Save(platform::FromUtf8(name), Take(seconds));
    ASSERT_TRUE(result.ok()) << result.error;
  }
  // Dates the take as saved at `ms` after the epoch.
  void SetSaved(const std::string& name, std::int64_t ms) const {
    const timespec times[2] = {{0, UTIME_OMIT}, {ms / 1000, (ms % 1000) * 1'000'000}};
    ASSERT_EQ(::utimensat(AT_FDCWD, Path(name).c_str(), times, 0), 0);
  }
  std::vector<EarlierTake> Earlier(const std::string& name) const {
    std::vector<EarlierTake> takes;
    const Result result = History().Earlier(platform::FromUtf8(name), &takes);
    EXPECT_TRUE(result.ok()) << result.error;
    return takes;
  }
  // The length of the take, then those of its earlier takes, most recent first.
  std::vector<double> Lengths(const std::string& name) const {
    // 8000 frames of 2 bytes a second after a header of 44 bytes.
    std::vector<double> lengths{static_cast<double>(fs::file_size(Path(name)) - 44) / 16000};
    for (const EarlierTake& take : Earlier(name)) {
      lengths.push_back(take.seconds);
    }
    return lengths;
  }
  // What a failed operation must leave as it was: every file of the prompt directory and of its
  // history, with (a hash of) its content.
  std::vector<std::string> State() const {
    std::vector<std::string> state;
    for (const auto& entry : fs::recursive_directory_iterator(prompts)) {
      const std::size_t content =
          entry.is_regular_file() ? std::hash<std::string>()(ReadBytes(entry.path())) : 0;
      state.push_back(entry.path().string() + " " + std::to_string(content));
    }
    std::sort(state.begin(), state.end());
    return state;
  }

  testing::TempDir tmp;
  fs::path prompts = tmp / "Prompt/l";
};

constexpr std::int64_t kSaved = 1'615'000'000'123;  // 2021-03-06T03-06-40.123Z

TEST(TakeHistory, SaveKeepsTheEarlierTakeByLinkAndTheHistorySurvives) {
  const Scene scene;
  scene.Save("a.wav", 1.0);
  EXPECT_EQ(scene.History().CountEarlier(u"a.wav"), 0);
  EXPECT_FALSE(fs::exists(scene.Path(".history")));  // made for the first earlier take
  scene.SetSaved("a.wav", kSaved);
  struct stat before {};
  ASSERT_EQ(::stat(scene.Path("a.wav").c_str(), &before), 0);
  scene.Save("a.wav", 2.0);
  scene.SetSaved("a.wav", kSaved);  // the second take saved in the same millisecond
  scene.Save("a.wav", 3.0);

  // Any TakeHistory of the directory sees them, under any letter case of the name, in the order
  // they were replaced, each with the time it was saved.
  const std::vector<EarlierTake> takes = scene.Earlier("A.WAV");
  ASSERT_EQ(takes.size(), 2u);
  EXPECT_EQ(scene.Lengths("a.wav"), (std::vector<double>{3.0, 2.0, 1.0}));
  EXPECT_EQ(takes[0].saved, SavedTime(std::chrono::milliseconds(kSaved)));
  EXPECT_EQ(takes[1].saved, SavedTime(std::chrono::milliseconds(kSaved)));
  EXPECT_GT(takes[0].replaced, takes[1].replaced);
  EXPECT_GT(takes[1].replaced, SavedTime(std::chrono::milliseconds(kSaved)));
  EXPECT_TRUE(
      takes[0].path.starts_with(platform::FromUtf8(scene.Path(".history/a.wav.").string())));
  EXPECT_TRUE(takes[0].path.ends_with(u"Z.take"));
  // The first take itself, not a copy.
  struct stat kept {};
  ASSERT_EQ(::stat(platform::ToUtf8(takes[1].path).c_str(), &kept), 0);
  EXPECT_EQ(kept.st_ino, before.st_ino);
  EXPECT_EQ(kept.st_nlink, 1u);
  EXPECT_EQ(scene.History().CountEarlier(u"a.wav"), 2);
  // The scan for takes and course software listing *.wav see the take only.
  EXPECT_EQ(platform::ListDirectory(platform::FromUtf8(scene.prompts.string()), u"*.wav"),
            std::vector<std::u16string>{u"a.wav"});
}

// Restore 1 swaps the last two takes whatever came before, also with earlier takes as an earlier
// version kept them, named by the time each was saved.
TEST(TakeHistory, RestoreSwapsTheLastTwoTakesWhateverCameBefore) {
  const Scene scene;
  fs::create_directories(scene.Path(".history"));
  for (const std::int64_t i : {0, 1, 2}) {  // A, B and C
    scene.Save("x.wav", 1.0 + static_cast<double>(i));
    scene.SetSaved("x.wav", kSaved + i * 1000);
    fs::rename(scene.Path("x.wav"),
               scene.Path(".history/a.wav.2021-03-06T03-06-4" + std::to_string(i) + ".123Z.take"));
  }
  scene.Save("a.wav", 4.0);  // D
  scene.Save("b.wav", 1.5);
  const TakeHistory history = scene.History();
  const std::vector<EarlierTake> legacy = scene.Earlier("a.wav");
  ASSERT_EQ(legacy.size(), 3u);
  EXPECT_EQ(legacy[2].saved, SavedTime(std::chrono::milliseconds(kSaved)));
  EXPECT_EQ(scene.Lengths("a.wav"), (std::vector<double>{4.0, 3.0, 2.0, 1.0}));

  ASSERT_TRUE(history.Restore(u"a.wav", 3).ok());
  EXPECT_EQ(scene.Lengths("a.wav"), (std::vector<double>{1.0, 4.0, 3.0, 2.0}));
  ASSERT_TRUE(history.Restore(u"a.wav", 1).ok());
  EXPECT_EQ(scene.Lengths("a.wav"), (std::vector<double>{4.0, 1.0, 3.0, 2.0}));
  ASSERT_TRUE(history.Restore(u"A.WAV", 1).ok());
  EXPECT_EQ(scene.Lengths("a.wav"), (std::vector<double>{1.0, 4.0, 3.0, 2.0}));
  // The restored take keeps the time it was saved.
  struct stat restored {};
  ASSERT_EQ(::stat(scene.Path("a.wav").c_str(), &restored), 0);
  EXPECT_EQ(restored.st_mtim.tv_sec, kSaved / 1000);

  const std::vector<std::string> state = scene.State();
  for (const auto& [name, number] : std::vector<std::pair<std::u16string, int>>{
           {u"a.wav", 0}, {u"a.wav", 4}, {u"a.wav", -1}, {u"b.wav", 1}, {u"c.wav", 1}}) {
    const Result result = history.Restore(name, number);
    EXPECT_EQ(result.status, Status::NoSuchTake) << number;
    EXPECT_EQ(result.error, "There is no earlier take " + std::to_string(number) + " of " +
                                platform::ToUtf8(name));
  }
  EXPECT_EQ(scene.State(), state);
}

// Every way a change can fail leaves the take and the history as they were.
TEST(TakeHistory, FailuresLeaveTakeAndHistoryAsTheyWere) {
  const auto makeLink = [](const Scene& scene) {
    fs::create_directory(scene.tmp / "elsewhere");
    fs::remove_all(scene.Path(".history"));
    fs::create_directory_symlink(scene.tmp / "elsewhere", scene.Path(".history"));
  };
  struct Case {
    const char* what;
    std::function<void(const Scene&)> arrange;
    std::function<Result(const TakeHistory&)> act;
    Status status;
    std::string because;  // in the error
    Problem problem;
  };
  const std::vector<Case> cases = {
      {"a read-only take",
       [](const Scene& scene) { fs::permissions(scene.Path("a.wav"), fs::perms::owner_read); },
       [](const TakeHistory& history) { return history.Save(u"a.wav", Take(3.0)); }, Status::Failed,
       "read-only", Problem::TakeNotWritten},
      {"a take turned read-only while the new one was written", [](const Scene&) {},
       [](const TakeHistory& history) {
         const std::unique_ptr<platform::SaveFile> file = history.NewTakeFile(u"a.wav");
         std::string error;
         EXPECT_TRUE(audio::WriteWave(Take(3.0), *file, &error)) << error;
         fs::permissions(file->target(), fs::perms::owner_read);
         return history.Commit(*file);  // keeps the earlier take, then cannot replace it
       },
       Status::Failed, "read-only", Problem::TakeNotSaved},
      {"nothing captured", [](const Scene&) {},
       [](const TakeHistory& history) { return history.Save(u"a.wav", Take(0.0)); },
       Status::NothingCaptured, "Nothing was captured", Problem::NothingCaptured},
      {"a name leading out of the prompt directory", [](const Scene&) {},
       [](const TakeHistory& history) { return history.Save(u"../a.wav", Take(3.0)); },
       Status::Failed, "Not the name of a take", Problem::NotATakeName},
      {"a linked history, saving", makeLink,
       [](const TakeHistory& history) { return history.Save(u"a.wav", Take(3.0)); }, Status::Failed,
       "symbolic link", Problem::FolderIsLink},
      {"a linked history, restoring", makeLink,
       [](const TakeHistory& history) { return history.Restore(u"a.wav", 1); }, Status::Failed,
       "symbolic link", Problem::FolderIsLink},
      {"a linked history, pruning", makeLink,
       [](const TakeHistory& history) {
         Freed freed;
         return history.Prune(0, &freed);
       },
       Status::Failed, "symbolic link", Problem::FolderIsLink},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Scene scene;
    scene.Save("a.wav", 1.0);
    scene.Save("a.wav", 2.0);
    fs::create_directory(scene.tmp / "elsewhere");
    fs::copy_file(scene.Path("a.wav"), scene.tmp / "elsewhere/a.wav.2000-01-01T00-00-00.000Z.take");
    c.arrange(scene);
    const std::vector<std::string> state = scene.State();
    const Result result = c.act(scene.History());
    EXPECT_EQ(result.status, c.status);
    EXPECT_NE(result.error.find(c.because), std::string::npos) << result.error;
    EXPECT_EQ(result.problem, c.problem);
    EXPECT_EQ(scene.State(), state);
    EXPECT_EQ(std::distance(fs::directory_iterator(scene.tmp / "elsewhere"), {}), 1);
  }
}

// A save or a restore killed after each of its steps, in a child process that ends there as a
// kill would end it: the take is whole, the history lists what it did before or after the change,
// and the next changes do what they say.
TEST(TakeHistory, AChangeKilledAtEachStepHeals) {
  using Lengths = std::vector<double>;
  struct Case {
    const char* what;
    Step step;
    std::function<Result(const TakeHistory&)> act;
    Lengths left;  // the take, then its earlier takes
  };
  const auto save = [](const TakeHistory& history) { return history.Save(u"a.wav", Take(4.0)); };
  const auto restore = [](const TakeHistory& history) { return history.Restore(u"a.wav", 2); };
  const std::vector<Case> cases = {
      {"save, written", Step::TakeWritten, save, {3.0, 2.0, 1.0}},
      {"save, kept", Step::EarlierKept, save, {3.0, 2.0, 1.0}},
      {"save, replaced", Step::TakeReplaced, save, {4.0, 3.0, 2.0, 1.0}},
      {"restore, kept", Step::EarlierKept, restore, {3.0, 2.0, 1.0}},
      {"restore, replaced", Step::TakeReplaced, restore, {1.0, 3.0, 2.0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Scene scene;
    for (const double seconds : {1.0, 2.0, 3.0}) {
      scene.Save("a.wav", seconds);
    }
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      TakeHistory history = scene.History();
      history.OnStep([&c](Step step) {
        if (step == c.step) {
          ::_exit(0);
        }
      });
      c.act(history);
      ::_exit(1);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the step was not reached";

    EXPECT_EQ(scene.Lengths("a.wav"), c.left);
    EXPECT_EQ(scene.History().CountEarlier(u"a.wav"), static_cast<int>(c.left.size()) - 1);
    // Restore 1 swaps the last two, twice, and a save keeps the take it replaces.
    Lengths swapped = c.left;
    std::swap(swapped[0], swapped[1]);
    ASSERT_TRUE(scene.History().Restore(u"a.wav", 1).ok());
    EXPECT_EQ(scene.Lengths("a.wav"), swapped);
    ASSERT_TRUE(scene.History().Restore(u"a.wav", 1).ok());
    EXPECT_EQ(scene.Lengths("a.wav"), c.left);
    scene.Save("a.wav", 5.0);
    Lengths saved{5.0};
    saved.insert(saved.end(), c.left.begin(), c.left.end());
    EXPECT_EQ(scene.Lengths("a.wav"), saved);
    // Nothing is left in the history but the earlier takes.
    EXPECT_EQ(std::distance(fs::directory_iterator(scene.Path(".history")), {}),
              static_cast<std::ptrdiff_t>(c.left.size()));
  }
}

TEST(TakeHistory, PruneKeepsTheMostRecentAndCountsTheBytesItFrees) {
  const Scene scene;
  for (const double seconds : {1.0, 2.0, 3.0, 4.0}) {
    scene.Save("a.wav", seconds);
  }
  scene.Save("b.wav", 1.0);
  scene.Save("b.wav", 2.0);
  scene.Save("c.wav", 1.0);
  testing::WriteBytes(scene.Path(".history/notes.txt"), "not a take");
  // The oldest take of a.wav has another link, so removing it frees nothing.
  const std::vector<EarlierTake> a = scene.Earlier("a.wav");
  ASSERT_EQ(a.size(), 3u);
  fs::create_hard_link(platform::ToUtf8(a[2].path), scene.tmp / "backup.wav");
  const std::uintmax_t freedBytes = fs::file_size(platform::ToUtf8(a[1].path));

  Freed freed;
  ASSERT_TRUE(scene.History().Prune(1, &freed).ok());
  EXPECT_EQ(freed.files, 2u);
  EXPECT_EQ(freed.bytes, freedBytes);
  EXPECT_EQ(scene.Lengths("a.wav"), (std::vector<double>{4.0, 3.0}));
  EXPECT_EQ(scene.Lengths("b.wav"), (std::vector<double>{2.0, 1.0}));

  ASSERT_TRUE(scene.History().Prune(0, &freed).ok());
  EXPECT_EQ(freed.files, 2u);
  EXPECT_EQ(scene.Lengths("a.wav"), std::vector<double>{4.0});
  EXPECT_TRUE(fs::exists(scene.Path(".history/notes.txt")));
  EXPECT_TRUE(fs::exists(scene.tmp / "backup.wav"));
  EXPECT_EQ(scene.History().Prune(-1, &freed).status, Status::Failed);
}

}  // namespace
}  // namespace voxtar::history
