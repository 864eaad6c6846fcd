// SPDX-License-Identifier: GPL-3.0-or-later
#include "lesson/lesson_lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <climits>
#include <csignal>
#include <filesystem>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/file_system.h"
#include "tests/support/temp_dir.h"

namespace voxtar::lesson {
namespace {

namespace fs = std::filesystem;
using Result = LessonLock::Result;
using testing::ReadBytes;
using testing::WriteBytes;

std::string HostName() {
  std::array<char, HOST_NAME_MAX + 1> name{};
  ::gethostname(name.data(), name.size() - 1);
  return name.data();
}

class LessonLockTest : public ::testing::Test {
 protected:
  void SetUp() override { WriteBytes(tmp / "w/Ini/unit01.idx", "a.wav Hello\r\n"); }

  testing::TempDir tmp;
  std::u16string index = tmp.wide(true) + u"w/Ini/unit01.idx";
  fs::path lockFile = tmp / "w/Ini/.unit01.idx.lock";
};

// Two real processes: the second sees the first as holder while it lives, and takes the lock over
// once it was killed, without asking.
TEST_F(LessonLockTest, SecondHolderGetsTheLockOnlyOnceTheFirstIsKilled) {
  std::array<int, 2> ready{};
  ASSERT_EQ(::pipe(ready.data()), 0);
  const pid_t first = ::fork();
  ASSERT_GE(first, 0);
  if (first == 0) {
    LessonLock lock(index);
    const bool acquired = lock.Acquire() == Result::Acquired;
    if (::write(ready[1], acquired ? "y" : "n", 1) != 1 || !acquired) {
      _exit(1);
    }
    for (;;) {
      ::pause();
    }
  }
  char answer = 0;
  ASSERT_EQ(::read(ready[0], &answer, 1), 1);
  ASSERT_EQ(answer, 'y');

  LessonLock second(tmp.wide(true) + u"W/ini/UNIT01.idx");  // another spelling, the same lock
  EXPECT_EQ(second.Acquire(), Result::Held);
  const LessonLock::Holder& holder = second.holder();
  EXPECT_EQ(holder.pid, first);
  EXPECT_EQ(holder.host, HostName());
  EXPECT_FALSE(holder.user.empty());
  EXPECT_FALSE(holder.processGone);
  EXPECT_FALSE(holder.lockGone);
  // No lesson listing shows the lock file.
  EXPECT_TRUE(fs::exists(lockFile));
  EXPECT_EQ(platform::ListDirectory(tmp.wide(true) + u"w/Ini", u"*.idx"),
            std::vector<std::u16string>{u"unit01.idx"});

  ASSERT_EQ(::kill(first, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(first, &status, 0), first);
  EXPECT_EQ(second.Acquire(), Result::Acquired);
  EXPECT_EQ(second.holder().pid, ::getpid());
  EXPECT_NE(ReadBytes(lockFile).find("pid=" + std::to_string(::getpid()) + "\n"),
            std::string::npos);
  second.Release();
  EXPECT_FALSE(fs::exists(lockFile));
  ::close(ready[0]);
  ::close(ready[1]);
}

// Lock files as another host, a crash, an archive or a holder being created leave them.
TEST_F(LessonLockTest, LockFilesAreJudgedByTheirHolder) {
  const pid_t reaped = ::fork();  // a process id that no longer runs
  if (reaped == 0) {
    _exit(0);
  }
  ASSERT_GT(reaped, 0);
  ::waitpid(reaped, nullptr, 0);
  const auto lines = [](const std::string& host, pid_t pid) {
    return "host=" + host + "\npid=" + std::to_string(pid) + "\nuser=op\nsince=2026-12-07\n";
  };
  const auto grace = std::chrono::duration<double>(platform::LockFile::kCreationGrace).count();
  struct Case {
    const char* what;
    std::string content;      // empty with `link`: a symbolic link to a file elsewhere
    double age = 0;           // seconds since it was written
    bool completedMeanwhile;  // a live holder of this process writes its lines a moment later
    Result acquired;
    bool elsewhere = false;
  };
  const std::vector<Case> cases = {
      // Left by a holder killed right after creating it, whatever host it names.
      {"empty, a minute old", "", 60, false, Result::Acquired},
      {"incomplete, a minute old", "host=elsewhere\npid=", 60, false, Result::Acquired},
      {"empty, being created", "", grace - 0.3, false, Result::Acquired},
      {"being created by a live holder", "", 0, true, Result::Held},
      // Another host: the operator decides, with the advisory lock showing its holder is gone.
      {"other host", lines("elsewhere", 1), 0, false, Result::Held, true},
      {"dead process here", lines(HostName(), reaped), 0, false, Result::Acquired},
      // The process id now names a process that is not the holder: it keeps no lock.
      {"reused process id here", lines(HostName(), ::getppid()), 0, false, Result::Acquired},
      {"link", "", 0, false, Result::Failed},
  };
  WriteBytes(tmp / "elsewhere.txt", "precious");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(lockFile);
    if (std::string_view(c.what) == "link") {
      fs::create_symlink(tmp / "elsewhere.txt", lockFile);
    } else {
      WriteBytes(lockFile, c.content);
      const auto written =
          std::chrono::system_clock::now() - std::chrono::duration_cast<std::chrono::nanoseconds>(
                                                 std::chrono::duration<double>(c.age));
      const auto ns = written.time_since_epoch() / std::chrono::nanoseconds(1);
      const timespec times[2] = {{0, UTIME_OMIT}, {ns / 1'000'000'000, ns % 1'000'000'000}};
      ASSERT_EQ(::utimensat(AT_FDCWD, lockFile.c_str(), times, 0), 0);
    }
    platform::Descriptor live;
    std::thread holder;
    if (c.completedMeanwhile) {
      holder = std::thread([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        live.Reset(::open(lockFile.c_str(), O_RDWR | O_CLOEXEC));
        // As a holder does: the one looking at the file may hold its lock a moment.
        while (platform::TryLockWhole(live.get()) == platform::LockAttempt::HeldElsewhere) {
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        const std::string content = lines(HostName(), ::getpid());
        EXPECT_EQ(::write(live.get(), content.data(), content.size()),
                  static_cast<ssize_t>(content.size()));
      });
    }
    LessonLock lock(index);
    const Result acquired = lock.Acquire();
    if (holder.joinable()) {
      holder.join();
    }
    EXPECT_EQ(acquired, c.acquired) << lock.error();
    if (acquired == Result::Held) {
      EXPECT_FALSE(lock.holder().incomplete);
      EXPECT_EQ(lock.holder().elsewhere, c.elsewhere);
      EXPECT_EQ(lock.holder().lockGone, c.elsewhere);  // nobody keeps the other host's lock
      EXPECT_EQ(lock.TakeOver(), Result::Acquired);
    }
    if (lock.held()) {
      EXPECT_EQ(lock.holder().pid, ::getpid());
      EXPECT_NE(ReadBytes(lockFile).find("pid=" + std::to_string(::getpid()) + "\n"),
                std::string::npos);
    }
  }
  EXPECT_EQ(ReadBytes(tmp / "elsewhere.txt"), "precious");
  EXPECT_TRUE(fs::is_symlink(lockFile));
}

}  // namespace
}  // namespace voxtar::lesson
