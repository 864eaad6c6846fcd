#include "lesson/lesson_lock.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <climits>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "tests/support/temp_dir.h"

namespace voxtar {
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

// Lock files that no live holder keeps, as another host, a crash or an archive leaves them.
TEST_F(LessonLockTest, LeftoverLockFilesAreJudgedByTheirHolder) {
  const pid_t reaped = ::fork();  // a process id that no longer runs
  if (reaped == 0) {
    _exit(0);
  }
  ASSERT_GT(reaped, 0);
  ::waitpid(reaped, nullptr, 0);
  const auto lines = [](const std::string& host, pid_t pid) {
    return "host=" + host + "\npid=" + std::to_string(pid) + "\nuser=op\nsince=2026-12-07\n";
  };
  struct Case {
    const char* what;
    std::string content;  // empty: a symbolic link to a file elsewhere
    Result acquired;
    bool lockGone;
  };
  const std::vector<Case> cases = {
      // Another host: the operator decides, the advisory lock shows its holder is gone.
      {"other host", lines("elsewhere", 1), Result::Held, true},
      {"dead process here", lines(HostName(), reaped), Result::Acquired, true},
      // The process id now names a process that is not the holder: it keeps no lock.
      {"reused process id here", lines(HostName(), ::getppid()), Result::Acquired, true},
      {"being written", "host=", Result::Held, false},
      {"link", "", Result::Failed, false},
  };
  WriteBytes(tmp / "elsewhere.txt", "precious");
  for (const Case& c : cases) {
    fs::remove(lockFile);
    if (c.content.empty()) {
      fs::create_symlink(tmp / "elsewhere.txt", lockFile);
    } else {
      WriteBytes(lockFile, c.content);
    }
    LessonLock lock(index);
    EXPECT_EQ(lock.Acquire(), c.acquired) << c.what << ": " << lock.error();
    if (c.acquired == Result::Held) {
      EXPECT_EQ(lock.holder().lockGone, c.lockGone) << c.what;
      EXPECT_EQ(lock.TakeOver(), Result::Acquired) << c.what;
      EXPECT_EQ(lock.holder().pid, ::getpid()) << c.what;
    }
  }
  EXPECT_EQ(ReadBytes(tmp / "elsewhere.txt"), "precious");
  EXPECT_TRUE(fs::is_symlink(lockFile));
}

}  // namespace
}  // namespace voxtar
