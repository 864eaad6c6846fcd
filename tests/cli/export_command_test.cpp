// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/export_command.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "measures/take_measures.h"
#include "platform/utf8.h"
#include "testing/synthetic_take.h"
#include "tests/cli/cli_test_support.h"
#include "tests/support/small_file_system.h"
#include "tests/support/temp_dir.h"

namespace voxtar::cli {
namespace {

namespace fs = std::filesystem;
using audio::SpokenTake;
using audio::WaveElement;
using testing::ReadBytes;
using testing::WriteBytes;

constexpr int kWav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;

void Put(const WaveElement& take, const fs::path& path) {
  fs::create_directories(path.parent_path());
  std::string why;
  ASSERT_TRUE(audio::WriteWaveFile(take, platform::FromUtf8(path.string()), &why)) << why;
}

// Every file below `root` (hidden ones too), by path, with its bytes.
std::map<std::string, std::string> Files(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) {
      files[entry.path().string()] = ReadBytes(entry.path());
    }
  }
  return files;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

measures::TakeMeasures Measured(const fs::path& file) {
  measures::TakeMeasures measured;
  std::string error;
  EXPECT_TRUE(measures::MeasureTakeFile(platform::FromUtf8(file.string()), &measured, &error))
      << error;
  return measured;
}

using Export = LessonTool;

TEST_F(Export, SendsOutTheTakesThatPassAndSaysWhyTheOthersStay) {
  WriteBytes(tmp / "w/ini/l.idx",
             "a.wav Hello | \"there\", you\r\nb.wav > Edited after the take\r\nc.wav Good "
             "morning\r\nd.wav 12\r\ne.wav Clipped one\r\nf.wav Unreadable take\r\ng|h.wav Bad "
             "name here\r\ni.wav Second good one\r\n");
  WriteBytes(tmp / "w/ini/m.idx", "a.wav Hello again\r\n");
  for (const char* name : {"a", "b", "g|h", "i"}) {
    Put(SpokenTake(kWav16), tmp / "w/Prompt/l" / (std::string(name) + ".wav"));
  }
  Put(SpokenTake(kWav16, 44100, 1, 1.3), tmp / "w/Prompt/l/e.wav");
  WriteBytes(tmp / "w/Prompt/l/f.wav", "RIFF");
  Put(SpokenTake(kWav16), tmp / "w/Prompt/m/a.wav");
  const std::string l = Path("w/ini/l.idx");
  const std::string m = Path("w/ini/m.idx");
  const std::string out = Path("out");

  const Result result = Run({"export", "--to", out, l, m});
  EXPECT_EQ(result.status, kExitFailed);
  EXPECT_EQ(result.out, l + ": a.wav -> wavs/a.wav: 2.40 s, -11.1 LUFS, gain +0.0 dB\n" + l +
                            ": i.wav -> wavs/i.wav: 2.40 s, -11.1 LUFS, gain +0.0 dB\n" + out +
                            ": 2 exported, 0 skipped as up to date, 6 left out\n");
  const std::vector<std::string> leftOut = {
      l + ": b.wav: left out: pending (text edited after the take)",
      l + ": c.wav: left out: missing",
      l + ": e.wav: left out: clipped",
      l + ": f.wav: left out: unreadable: The file is not a sound file that can be read: ",
      l + ": g|h.wav: left out: its name cannot name a file",
      m + ": a.wav: left out: its file name is taken by " + l + ": a.wav"};
  const std::vector<std::string> err = Lines(result.err);
  ASSERT_EQ(err.size(), leftOut.size()) << result.err;
  for (std::size_t i = 0; i < err.size(); ++i) {
    EXPECT_EQ(err[i].rfind(leftOut[i], 0), 0u) << err[i];
  }
  // A "|" would start a column: it is the fullwidth line in the list.
  EXPECT_EQ(ReadBytes(tmp / "out/metadata.csv"),
            "a|Hello \xEF\xBD\x9C \"there\", you|Hello \xEF\xBD\x9C \"there\", you\n"
            "i|Second good one|Second good one\n");
  std::set<std::string> wavs;
  for (const auto& entry : fs::directory_iterator(tmp / "out/wavs")) {
    wavs.insert(entry.path().filename().string());
  }
  EXPECT_EQ(wavs, (std::set<std::string>{"a.wav", "i.wav"}));

  // With flagged takes, into the same directory: the good ones are up to date.
  struct Case {
    std::string format;
    std::string firstLine;
    std::string file;
    std::vector<std::string> holds;
  };
  const Case cases[] = {
      {"csv",
       l + ": e.wav -> wavs/e.wav: 2.40 s, -4.0 LUFS, gain +0.0 dB, flagged: clipped",
       "takes.csv",
       {"file,lesson,prompt,text,seconds,rate,channels,bits,loudness_lufs,true_peak_dbtp,"
        "peak_dbfs,gain_db,held_by,noise_floor_db,snr_db,speech_rate,problems,converted_from\r\n"
        "wavs/a.wav," +
            l +
            ",a.wav,\"Hello | \"\"there\"\", you\",2.400,44100,1,16,-11.1,,-6.0,0.0,,"
            "-120.0,111.0,12.50,,\r\n",
        ",e.wav,Clipped one,2.400,44100,1,16,", ",clipped,\r\n"}},
      {"json",
       out + ": 0 exported, 3 skipped as up to date, 4 left out, 1 removed",
       "takes.json",
       {"[\n  {\"file\": \"wavs/a.wav\", \"lesson\": \"" + l +
            "\", \"prompt\": \"a.wav\", \"text\": \"Hello | \\\"there\\\", you\", \"seconds\": "
            "2.400, \"rate\": 44100, \"channels\": 1, \"bits\": 16, \"float\": false, "
            "\"loudnessLufs\": -11.1, \"truePeakDbtp\": null, \"peakDbfs\": -6.0, \"gainDb\": 0.0, "
            "\"noiseFloorDb\": -120.0, \"snrDb\": 111.0, \"speechRate\": 12.50, \"heldBy\": "
            "null, \"convertedFrom\": null, \"problems\": []},\n",
        "\"prompt\": \"e.wav\"", "\"problems\": [\"clipped\"]},\n", "\"prompt\": \"i.wav\"",
        "[]}\n]\n"}},
  };
  for (const Case& c : cases) {
    const Result flagged =
        Run({"export", "--include-flagged", "--format=" + c.format, "--to", out, l});
    EXPECT_EQ(flagged.status, kExitFailed) << c.format;
    EXPECT_EQ(Lines(flagged.out).front(), c.firstLine);
    const std::string list = ReadBytes(tmp / "out" / c.file);
    for (const std::string& part : c.holds) {
      EXPECT_NE(list.find(part), std::string::npos) << part << "\n" << list;
    }
  }
}

// A second run makes only what changed; no run writes into the working directory, neither
// takes' nor export's, not even for a take changed since it was last measured.
TEST_F(Export, FilesUpToDateAreSkippedAndTheWorkingDirectoryIsNeverWritten) {
  WriteBytes(tmp / "w/ini/n.idx", "a.wav Hello there\r\nb.wav Good morning\r\n");
  Put(SpokenTake(kWav16), tmp / "w/Prompt/n/a.wav");
  Put(SpokenTake(kWav16), tmp / "w/Prompt/n/b.wav");
  const std::string index = Path("w/ini/n.idx");
  std::map<std::string, std::string> working = Files(tmp / "w");
  ASSERT_EQ(Run({"takes", "--template", Path("w/Prompt/n/a.wav"), index}).status, kExitOk);
  EXPECT_EQ(Files(tmp / "w"), working);
  const auto run = [&](const std::string& rate) {
    return Run({"export", "--trim", "--rate", rate, "--to", Path("out"), index});
  };
  const auto tally = [&](const std::string& counts) {
    return Path("out") + ": " + counts + ", 0 left out\n";
  };

  EXPECT_EQ(run("22050").status, kExitOk);
  const std::map<std::string, std::string> first = Files(tmp / "out");
  const Result again = run("22050");
  EXPECT_EQ(again.status, kExitOk);
  EXPECT_EQ(again.out, tally("0 exported, 2 skipped as up to date"));
  EXPECT_EQ(Files(tmp / "out"), first);
  EXPECT_EQ(Files(tmp / "w"), working);

  Put(SpokenTake(kWav16, 48000), tmp / "w/Prompt/n/b.wav");
  working = Files(tmp / "w");
  const Result changed = run("22050");
  EXPECT_EQ(Lines(changed.out).front().rfind(index + ": b.wav -> wavs/b.wav: 2.00 s, ", 0), 0u)
      << changed.out;
  EXPECT_EQ(Lines(changed.out).back() + "\n", tally("1 exported, 1 skipped as up to date"));
  EXPECT_EQ(Files(tmp / "w"), working);

  EXPECT_EQ(Lines(run("16000").out).back() + "\n", tally("2 exported, 0 skipped as up to date"));
  fs::remove(tmp / "out/wavs/a.wav");
  EXPECT_EQ(Lines(run("16000").out).back() + "\n", tally("1 exported, 1 skipped as up to date"));
  EXPECT_EQ(Measured(tmp / "out/wavs/a.wav").format.sampleRate, 16000);
  EXPECT_EQ(Files(tmp / "w"), working);
}

// Whatever a run comes to, the list names exactly the files in "wavs" that export wrote: a
// narrower run removes what it leaves out, and says so; a run that fails midway (a full disk)
// leaves the earlier list and its files as they were.
TEST_F(Export, TheFolderMatchesItsListAtEveryEndOfARun) {
  WriteBytes(tmp / "w/ini/l.idx", "a.wav Hello there\r\ne.wav Clipped one\r\ni.wav Good day\r\n");
  Put(SpokenTake(kWav16), tmp / "w/Prompt/l/a.wav");
  Put(SpokenTake(kWav16, 44100, 1, 1.3), tmp / "w/Prompt/l/e.wav");
  Put(SpokenTake(kWav16), tmp / "w/Prompt/l/i.wav");
  // Three takes of 16 bits fit; the files of a second run in 32-bit float do not fit beside them.
  const testing::SmallFileSystem disk(tmp / "disk", "size=1200k");
  if (!disk.mounted()) {
    GTEST_SKIP() << "mounting a small file system needs root";
  }
  const fs::path out = tmp / "disk/out";
  const std::string index = Path("w/ini/l.idx");
  const auto run = [&](std::vector<std::string> options) {
    options.insert(options.begin(), "export");
    options.insert(options.end(), {"--to", out.string(), index});
    return Run(options);
  };
  const auto wavs = [&] {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(out / "wavs")) {
      names.insert(entry.path().filename().string());
    }
    return names;
  };

  ASSERT_EQ(run({"--include-flagged"}).status, kExitOk);
  EXPECT_EQ(wavs(), (std::set<std::string>{"a.wav", "e.wav", "i.wav"}));
  WriteBytes(out / "wavs/mine.wav", "not export's");  // never removed

  const Result narrower = run({});
  EXPECT_EQ(narrower.status, kExitFailed);  // e.wav is left out
  EXPECT_EQ(narrower.out,
            out.string() + ": 0 exported, 2 skipped as up to date, 1 left out, 1 removed\n");
  EXPECT_NE(
      narrower.err.find(out.string() + ": removed wavs/e.wav, which the list no longer names\n"),
      std::string::npos)
      << narrower.err;
  EXPECT_EQ(ReadBytes(out / "metadata.csv"), "a|Hello there|Hello there\ni|Good day|Good day\n");
  EXPECT_EQ(wavs(), (std::set<std::string>{"a.wav", "i.wav", "mine.wav"}));

  const std::map<std::string, std::string> before = Files(out);
  const Result full = run({"--bits", "32f"});
  EXPECT_EQ(full.status, kExitFailed);
  EXPECT_NE(full.err.find("No space left on device"), std::string::npos) << full.err;
  EXPECT_NE(full.err.find(out.string() +
                          ": not complete: the earlier list and the files it names are kept\n"),
            std::string::npos)
      << full.err;
  EXPECT_EQ(Files(out), before);  // the new files, and the new list, are gone
  // The record is whole: nothing of the earlier run is made again.
  EXPECT_EQ(Lines(run({}).out).back(),
            out.string() + ": 0 exported, 2 skipped as up to date, 1 left out");
}

TEST_F(Export, LoudnessGoesToTheTargetUnlessTheTruePeakLimitHoldsItBack) {
  WriteBytes(tmp / "w/ini/l.idx", "a.wav Hello there\r\nb.wav Good morning\r\n");
  Put(SpokenTake(kWav16, 44100, 1, 0.1), tmp / "w/Prompt/l/a.wav");
  WaveElement clicked = SpokenTake(kWav16, 44100, 1, 0.05);
  audio::PutSample(&clicked, 44100, 0.9);
  Put(clicked, tmp / "w/Prompt/l/b.wav");
  WriteBytes(tmp / "p.ini", "export-true-peak = -1\n");

  const Result result = Run({"export", "--loudness", "-16", "--profile", Path("p.ini"), "--to",
                             Path("out"), Path("w/ini/l.idx")});
  EXPECT_EQ(result.status, kExitOk) << result.err;
  const std::vector<std::string> lines = Lines(result.out);
  ASSERT_EQ(lines.size(), 3u) << result.out;
  EXPECT_NE(lines[0].find(": a.wav -> wavs/a.wav: 2.40 s, -16.0 LUFS, gain +9."), std::string::npos)
      << lines[0];
  EXPECT_EQ(lines[0].find("held back"), std::string::npos);
  EXPECT_NE(lines[1].find(", held back by the true-peak limit (-1.0 dBTP)"), std::string::npos)
      << lines[1];
  EXPECT_NEAR(*Measured(tmp / "out/wavs/a.wav").loudnessLufs, -16.0, 0.5);
  const measures::TakeMeasures held = Measured(tmp / "out/wavs/b.wav");
  EXPECT_LE(held.truePeakDbtp, -0.95);
  EXPECT_LT(*held.loudnessLufs, -20.0);
}

// A take in another rate or with other channels than the lesson's template recording goes out
// in the lesson's format, flagged or not, unless --rate or --channels say otherwise: what is
// delivered is uniform, and the line and the list say which takes were converted from what.
TEST_F(Export, TakesOfAnotherFormatGoOutInTheLessonsFormat) {
  Put(SpokenTake(kWav16, 48000), tmp / "w/sample.wav");
  WriteBytes(tmp / "w/ini/l.idx", "a.wav Hello there\r\nb.wav Good morning\r\nc.wav Good day\r\n");
  Put(SpokenTake(kWav16, 48000), tmp / "w/Prompt/l/a.wav");
  Put(SpokenTake(kWav16, 44100, 2, 1.3), tmp / "w/Prompt/l/b.wav");  // clipped, and stereo
  Put(SpokenTake(kWav16, 22050), tmp / "w/Prompt/l/c.wav");
  const std::string l = Path("w/ini/l.idx");
  struct Case {
    std::vector<std::string> options;
    int rate;
    int channels;
    std::string file;                // the list
    std::vector<std::string> holds;  // in the list, or in what was written out
  };
  const Case cases[] = {
      {{"--include-flagged", "--format=json"},
       48000,
       1,
       "takes.json",
       {": b.wav -> wavs/b.wav: 2.40 s, -4.0 LUFS, gain -0.0 dB, converted from 44100 Hz, stereo,",
        "stereo, held back by full scale, flagged: clipped\n",
        ": c.wav -> wavs/c.wav: 2.40 s, -11.1 LUFS, gain +0.0 dB, converted from 22050 Hz, mono\n",
        "\"rate\": 48000, \"channels\": 1, \"bits\": 16, \"float\": false, \"loudnessLufs\"",
        "\"heldBy\": null, \"convertedFrom\": null, \"problems\": []}",
        "\"convertedFrom\": {\"rate\": 44100, \"channels\": 2}, \"problems\": [\"clipped\"]}",
        "\"convertedFrom\": {\"rate\": 22050, \"channels\": 1}, \"problems\": []}"}},
      {{"--include-flagged", "--rate", "16000", "--format=csv"},
       16000,
       1,
       "takes.csv",
       {",a.wav,Hello there,2.400,16000,1,16,", ",clipped,\"44100 Hz, stereo\"\r\n",
        ",\"22050 Hz, mono\"\r\n"}},
      {{"--include-flagged", "--channels", "2", "--bits", "32f", "--format=json"},
       48000,
       2,
       "takes.json",
       {"\"channels\": 2, \"bits\": 32, \"float\": true,"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"export", "--to", Path("out")};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back(l);
    const Result result = Run(args);
    EXPECT_EQ(result.status, kExitOk) << result.err;
    const std::string said = result.out + ReadBytes(tmp / "out" / c.file);
    for (const std::string& part : c.holds) {
      EXPECT_NE(said.find(part), std::string::npos) << part << "\n" << said;
    }
    for (const char* name : {"a", "b", "c"}) {
      const measures::TakeMeasures made = Measured(tmp / "out/wavs" / (std::string(name) + ".wav"));
      EXPECT_EQ(made.format.sampleRate, c.rate) << name << " " << c.file;
      EXPECT_EQ(made.format.channels, c.channels) << name << " " << c.file;
    }
  }

  // Without a template recording nothing says which format is the lesson's: each take keeps its
  // own, and the run says so.
  fs::remove(tmp / "w/sample.wav");
  const Result own = Run({"export", "--include-flagged", "--to", Path("own"), l});
  EXPECT_EQ(own.err, l + ": the takes have different rates or channels, and no template "
                         "recording (sample.wav) in the lesson's working directory says which to "
                         "convert them to: each keeps its own (--rate and --channels set one for "
                         "all)\n");
  EXPECT_EQ(Measured(tmp / "own/wavs/b.wav").format.sampleRate, 44100);
  EXPECT_EQ(Measured(tmp / "own/wavs/c.wav").format.sampleRate, 22050);

  // Lessons of two courses recorded in different formats: each is uniform, the whole is not.
  Put(SpokenTake(kWav16, 48000), tmp / "w/sample.wav");
  Put(SpokenTake(kWav16, 44100), tmp / "v/sample.wav");
  WriteBytes(tmp / "v/ini/m.idx", "d.wav Good evening\r\n");
  Put(SpokenTake(kWav16, 44100), tmp / "v/Prompt/m/d.wav");
  const Result two =
      Run({"export", "--include-flagged", "--to", Path("two"), l, Path("v/ini/m.idx")});
  EXPECT_EQ(two.status, kExitOk);
  EXPECT_EQ(two.err, Path("two") +
                         ": the lessons' files differ in rate or channels (44100 Hz, "
                         "mono; 48000 Hz, mono): --rate and --channels set one for all\n");
  EXPECT_EQ(Run({"export", "--rate", "16000", "--to", Path("one"), l, Path("v/ini/m.idx")}).err,
            l + ": b.wav: left out: clipped\n");
}

TEST_F(Export, BadUsageIsRefusedBeforeAnythingIsWritten) {
  WriteBytes(tmp / "w/ini/l.idx", "a.wav Hello there\r\n");
  const std::string to = Path("out");
  const std::string index = Path("w/ini/l.idx");
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{index}, "export needs --to DIR, the directory to export into"},
      {{index, "--to"}, "--to needs a value"},
      {{"--to", to}, "export needs at least one INDEX"},
      {{"--to", to, "--format", "wav", index}, "--format is ljspeech, csv or json, not 'wav'"},
      {{"--to", to, "--rate=44.1", index},
       "--rate is a rate in Hz from 1000 to 768000, not '44.1'"},
      {{"--to", to, "--rate", "999", index},
       "--rate is a rate in Hz from 1000 to 768000, not '999'"},
      {{"--to", to, "--bits", "8", index}, "--bits is 16, 24 or 32f, not '8'"},
      {{"--to", to, "--channels", "3", index}, "--channels is 1 or 2, not '3'"},
      {{"--to", to, "--loudness", "+3", index},
       "--loudness is a loudness in LUFS from -70 to 0, not '+3'"},
      {{"--to", to, "--loudness=loud", index},
       "--loudness is a loudness in LUFS from -70 to 0, not 'loud'"},
      {{"--to", to, "--profile=", index}, "--profile needs a NAME or FILE"},
      {{"--to", to, "--json", index}, "unknown option '--json'"},
      {{"--to", Path("w/Prompt/out"), index},
       "--to " + Path("w/Prompt/out") + " lies inside the working directory of " + index +
           ", which export never writes"},
  };
  for (const auto& [args, message] : cases) {
    std::vector<std::string> command = {"export"};
    command.insert(command.end(), args.begin(), args.end());
    const Result result = Run(command);
    EXPECT_EQ(result.status, kExitUsage) << message;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err,
              "voxtar-lesson: " + message + "\nTry 'voxtar-lesson --help' for more information.\n");
  }
  EXPECT_FALSE(fs::exists(to));
  EXPECT_FALSE(fs::exists(tmp / "w/Prompt"));
}

}  // namespace
}  // namespace voxtar::cli
