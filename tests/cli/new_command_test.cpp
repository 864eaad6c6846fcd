#include "cli/new_command.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/cli/cli_test_support.h"

namespace voxtar::cli {
namespace {

namespace fs = std::filesystem;
using testing::ReadBytes;
using testing::WriteBytes;

// The README's example, on a copy of the demo with paths relative to it.
TEST_F(LessonTool, NewMakesALessonTheCheckCounts) {
  fs::copy(VOXTAR_DEMO_DIR, tmp.path(), fs::copy_options::recursive);
  WriteBytes(tmp / "sentences.txt", "Two coffees, please.\nWith milk?\nHow much is it?\n");
  WriteBytes(tmp / "bad.txt", "a\tHi\nb\x1b\tHo\n");
  WriteBytes(tmp / "more.txt", "a\tThe bill, please.\nb\tThank you!\n");
  const fs::path previous = fs::current_path();
  fs::current_path(tmp.path());
  const Result made =
      Run({"new", "Ini/unit05.idx", "--from", "sentences.txt", "--caption=Unit 5. At the cafe"});
  const Result again = Run({"new", "Ini/unit05.idx", "--from", "sentences.txt"});
  const Result bad = Run({"new", "--force", "--from", "bad.txt", "--", "Ini/unit05.idx"});
  const Result forced = Run({"new", "Ini/unit05.ini", "--force", "--from=more.txt"});
  const Result check = Run({"check", "Ini/unit05.idx"});
  fs::current_path(previous);

  EXPECT_EQ(made.status, kExitOk);
  EXPECT_EQ(made.out, "Ini/unit05.idx: 3 prompts, added to Ini/lessons.ini\n");
  EXPECT_EQ(again.status, kExitFailed);
  EXPECT_EQ(again.err, "Ini/unit05.idx: exists already (--force replaces it)\n");
  EXPECT_EQ(bad.status, kExitFailed);
  EXPECT_EQ(bad.err, "bad.txt:2: name \"b\\x1b.wav\" has a control character (U+001B)\n");
  EXPECT_EQ(forced.out, "Ini/unit05.idx: 2 prompts, already in Ini/lessons.ini\n");
  EXPECT_EQ(check.out, "Ini/unit05.idx: 2 prompts, 0 recorded, 2 pending\n");
}

// Every file and link below the directory with its bytes or target.
std::map<std::string, std::string> Tree(const fs::path& root) {
  std::map<std::string, std::string> tree;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    tree[entry.path().string()] = entry.is_symlink()     ? "-> " + fs::read_symlink(entry).string()
                                  : entry.is_directory() ? "/"
                                                         : ReadBytes(entry.path());
  }
  return tree;
}

// A lesson stays inside the "ini" folder of its working directory, its names inside its prompt
// directory, and its texts clear of the edit marker; otherwise nothing at all is written.
TEST_F(LessonTool, NewRefusesPathsAndNamesLeadingOutAndTheEditMarker) {
  WriteBytes(tmp / "w/Ini/lessons.ini", "Unit 1\r\nunit01.ini\r\n");
  WriteBytes(tmp / "s.txt", "Hello\nGood day\n");
  WriteBytes(tmp / "marked.txt", "Hello\n> Good day\n");
  fs::create_directories(tmp / "outside");
  fs::create_directory_symlink(tmp / "outside", tmp / "w/Ini/link");
  fs::create_directories(tmp / "w2");
  fs::create_directory_symlink(tmp / "outside", tmp / "w2/Ini");
  const std::string outside = fs::canonical(tmp / "outside").string();
  const std::string leadsTo = ": it leads to " + outside + ", not into the \"ini\" folder of its ";
  const std::string tooLong(28, 'x');
  const struct {
    std::vector<std::string> args;  // after "new", with --from s.txt
    int status;
    std::string err;
  } cases[] = {
      {{Path("w/Ini/../../outside/y.idx")},
       kExitUsage,
       Path("w/Ini/../../outside/y.idx") +
           ": \"..\" in the path: a lesson lies in the \"ini\" folder or a folder below it\n"},
      {{Path("w/Ini/./y.idx")},
       kExitUsage,
       Path("w/Ini/./y.idx") +
           ": \".\" in the path: a lesson lies in the \"ini\" folder or a folder below it\n"},
      {{Path("w/Ini/...idx")}, kExitUsage, Path("w/Ini/...idx") + ": the path names no lesson\n"},
      {{Path("w/Ini/link/y.idx")},
       kExitUsage,
       Path("w/Ini/link/y.idx") + leadsTo + "working directory " +
           fs::canonical(tmp / "w").string() + "\n"},
      {{Path("w2/Ini/y.idx")},
       kExitUsage,
       Path("w2/Ini/y.idx") + leadsTo + "working directory " + fs::canonical(tmp / "w2").string() +
           "\n"},
      {{Path("w/other/y.idx")},
       kExitUsage,
       Path("w/other/y.idx") +
           ": invalid directory: an index lies below a directory named \"ini\"\n"},
      {{Path("w/Ini/y.idx"), "--prefix", "../../x"},
       kExitUsage,
       Path("w/Ini/y.idx") +
           ": made name \"../../x001.wav\" cannot be a file name; choose another prefix\n"},
      {{Path("w/Ini/y.idx"), "--prefix", tooLong},
       kExitUsage,
       Path("w/Ini/y.idx") + ": made name \"" + tooLong +
           "001.wav\" is longer than 31 characters; choose another prefix\n"},
      {{Path("w/Ini/y.idx"), "--from", Path("marked.txt")},
       kExitFailed,
       Path("marked.txt") + ":2: text begins with \"> \", the mark of an edited prompt\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.front());
    const auto before = Tree(tmp.path());
    std::vector<std::string> args{"new", "--from", Path("s.txt")};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Result result = Run(args);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(Tree(tmp.path()), before);
  }
}

}  // namespace
}  // namespace voxtar::cli
