// SPDX-License-Identifier: GPL-3.0-or-later
// A course folder handed over with symbolic links planted where Voxtar writes: no command, and
// not the window's save, writes through one onto another file.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "audio/wave_element.h"
#include "history/take_history.h"
#include "measures/measure_cache.h"
#include "platform/utf8.h"
#include "testing/synthetic_take.h"
#include "tests/cli/cli_test_support.h"
#include "tests/support/temp_dir.h"

namespace voxtar::cli {
namespace {

namespace fs = std::filesystem;
using testing::ReadBytes;
using testing::WriteBytes;

constexpr int kWav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;

using PlantedLinks = LessonTool;

// Each row gets a course of its own, <tmp>/N: the working directory w with the lesson Ini/l.idx,
// its takes a.wav and b.wav and the lesson list; an export folder "out"; and the user's cache.
TEST_F(PlantedLinks, NoWriteGoesThroughALinkOntoAnotherFile) {
  struct Case {
    std::string link;                  // where it is planted
    std::string leadsTo;               // as the link says
    std::string target;                // the file it leads to, which must stay as it was
    std::vector<std::string> command;  // "{w}" and "{out}" stand for the folders; "window" saves
    bool refused;                      // exit status non-zero, saying `says`
    std::string says;
  };
  const std::string cache = "{cache}";  // the user's cache file of Prompt/l
  const std::vector<Case> cases = {
      // What older versions kept beside the takes is nothing to write now.
      {"w/Prompt/l/.measures",
       "a.wav",
       "w/Prompt/l/a.wav",
       {"takes", "--template", "{w}/sample.wav", "{w}/Ini/l.idx"},
       false,
       ""},
      {cache,
       "../../w/Prompt/l/a.wav",
       "w/Prompt/l/a.wav",
       {"takes", "--template", "{w}/sample.wav", "{w}/Ini/l.idx"},
       false,
       ""},
      {cache,
       "../../w/Ini/l.idx",
       "w/Ini/l.idx",
       {"report", "-o", "{w}/r.html", "{w}/Ini/l.idx"},
       false,
       ""},
      {"w/r.html",
       "Prompt/l/a.wav",
       "w/Prompt/l/a.wav",
       {"report", "-o", "{w}/r.html", "{w}/Ini/l.idx"},
       true,
       "r.html\": it is a symbolic link"},
      {"w/r.html",
       "Ini/l.idx",
       "w/Ini/l.idx",
       {"report", "-o", "{w}/r.html", "{w}/Ini/l.idx"},
       true,
       "r.html\": it is a symbolic link"},
      {"out/wavs",
       "../w/Prompt/l",
       "w/Prompt/l/a.wav",
       {"export", "--include-flagged", "--rate", "22050", "--trim", "--to", "{out}",
        "{w}/Ini/l.idx"},
       true,
       "out/wavs\" is a symbolic link"},
      {"out/.voxtar-export",
       "../w/Prompt/l",
       "w/Prompt/l/a.wav",
       {"export", "--to", "{out}", "{w}/Ini/l.idx"},
       true,
       "out/.voxtar-export\" is a symbolic link"},
      {"out/.voxtar-export/new",
       "../../w/Prompt/l",
       "w/Prompt/l/a.wav",
       {"export", "--to", "{out}", "{w}/Ini/l.idx"},
       true,
       ".voxtar-export/new\" is a symbolic link"},
      {"out/.voxtar-export/files",
       "../../w/Ini/l.idx",
       "w/Ini/l.idx",
       {"export", "--to", "{out}", "{w}/Ini/l.idx"},
       true,
       ".voxtar-export/files\" is a symbolic link"},
      {"out/takes.json",
       "../w/Prompt/l/a.wav",
       "w/Prompt/l/a.wav",
       {"export", "--to", "{out}", "{w}/Ini/l.idx"},
       true,
       "out/takes.json\" is a symbolic link"},
      // In the place of an exported file: the export's own file replaces the link.
      {"out/wavs/a.wav",
       "../../w/Prompt/l/b.wav",
       "w/Prompt/l/b.wav",
       {"export", "--to", "{out}", "{w}/Ini/l.idx"},
       false,
       ""},
      {"w/Ini/l.idx",
       "readme.txt",
       "w/Ini/readme.txt",
       {"normalize", "{w}/Ini/l.idx"},
       true,
       "not a file of its kind"},
      {"w/Ini/l.idx",
       "../Prompt/l/a.wav",
       "w/Prompt/l/a.wav",
       {"normalize", "{w}/Ini/l.idx"},
       true,
       "no space"},
      {"w/Ini/lessons.ini",
       "../Prompt/l/a.wav",
       "w/Prompt/l/a.wav",
       {"new", "{w}/Ini/m.idx", "--from", "{w}/../s.txt"},
       true,
       "not a file of its kind"},
      {"w/Ini/m.idx",
       "../Prompt/l/a.wav",
       "w/Prompt/l/a.wav",
       {"new", "{w}/Ini/m.idx", "--from", "{w}/../s.txt", "--force"},
       true,
       "not a file of its kind"},
      {"w/Prompt/l/.history",
       "../../Ini",
       "w/Ini/l.idx",
       {"restore", "{w}/Ini/l.idx", "a.wav"},
       true,
       ".history (it is a symbolic link"},
      {"w/Prompt/l/.history",
       "../../Ini",
       "w/Ini/l.idx",
       {"prune", "--keep", "0", "{w}/Ini/l.idx"},
       true,
       ".history (it is a symbolic link"},
      {"w/Prompt/l/.history",
       "../../Ini",
       "w/Ini/l.idx",
       {"history", "{w}/Ini/l.idx"},
       true,
       ".history (it is a symbolic link"},
      {"w/Prompt/l/a.wav",
       "../../Ini/l.idx",
       "w/Ini/l.idx",
       {"window", "a.wav"},
       true,
       "not a file of its kind"},
      {"w/Prompt/l/.history",
       "../../Ini",
       "w/Ini/l.idx",
       {"window", "b.wav"},
       true,
       ".history (it is a symbolic link"},
  };
  for (std::size_t row = 0; row < cases.size(); ++row) {
    const Case& c = cases[row];
    const fs::path root = tmp / std::to_string(row);
    const fs::path w = root / "w";
    ::setenv("XDG_CACHE_HOME", (root / "cache").c_str(), 1);
    WriteBytes(w / "Ini/l.idx", "a.wav Hello there\r\nb.wav Good morning\r\n");
    WriteBytes(w / "Ini/lessons.ini", "Unit one\r\nl.ini\r\n");
    WriteBytes(w / "Ini/readme.txt", "Record in a quiet room\r\n");
    WriteBytes(root / "s.txt", "Good evening\n");
    for (const char* name : {"sample.wav", "Prompt/l/a.wav", "Prompt/l/b.wav"}) {
      fs::create_directories((w / name).parent_path());
      std::string why;
      ASSERT_TRUE(audio::WriteWaveFile(audio::SpokenTake(kWav16),
                                       platform::FromUtf8((w / name).string()), &why))
          << why;
    }
    measures::MeasureCache measureCache;
    measureCache.Load(platform::FromUtf8((w / "Prompt/l/").string()));
    const fs::path link = c.link == cache ? measureCache.file() : root / c.link;
    fs::create_directories(link.parent_path());
    fs::remove(link);
    fs::create_symlink(c.leadsTo, link);
    const std::string before = ReadBytes(root / c.target);
    ASSERT_FALSE(before.empty()) << c.link;

    Result result;
    if (c.command.front() == "window") {
      // The window saves a take through the take history, as RecordingFlow::SaveTake does.
      const history::TakeHistory history(platform::FromUtf8((w / "Prompt/l/").string()),
                                         platform::FromUtf8(w.string()));
      const history::Result saved =
          history.Save(platform::FromUtf8(c.command[1]), audio::SpokenTake(kWav16, 22050));
      result.status = saved.ok() ? kExitOk : kExitFailed;
      result.err = saved.error;
    } else {
      std::vector<std::string> args;
      for (std::string arg : c.command) {
        for (const auto& [name, path] : {std::pair<std::string, fs::path>{"{w}", w},
                                         std::pair<std::string, fs::path>{"{out}", root / "out"}}) {
          if (const std::size_t at = arg.find(name); at != std::string::npos) {
            arg.replace(at, name.size(), path.string());
          }
        }
        args.push_back(arg);
      }
      result = Run(args);
    }
    const std::string said = result.out + result.err;
    EXPECT_EQ(ReadBytes(root / c.target), before) << c.link << " -> " << c.leadsTo;
    EXPECT_TRUE(fs::is_symlink(link) || (!c.refused && c.link.starts_with("out/wavs/"))) << c.link;
    EXPECT_EQ(result.status != kExitOk, c.refused) << c.link << ": " << said;
    if (c.refused) {
      EXPECT_NE(said.find(c.says), std::string::npos) << c.link << ": " << said;
    }
  }
}

}  // namespace
}  // namespace voxtar::cli
