// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/takes_command.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "testing/synthetic_take.h"
#include "tests/cli/cli_test_support.h"
#include "tests/support/temp_dir.h"

namespace voxtar::cli {
namespace {

namespace fs = std::filesystem;
using audio::AddTone;
using audio::SilentTake;
using audio::SpokenTake;
using audio::WaveElement;
using testing::ReadBytes;
using testing::WriteBytes;

constexpr int kWav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;

class Takes : public LessonTool {
 protected:
  void Save(const WaveElement& take, std::string_view relative) const {
    fs::create_directories((tmp / relative).parent_path());
    std::string why;
    ASSERT_TRUE(audio::WriteWaveFile(take, platform::FromUtf8((tmp / relative).string()), &why))
        << why;
  }

  // The template and a lesson with a take of every kind.
  void MakeLesson() const {
    Save(SpokenTake(kWav16), "w/sample.wav");
    WriteBytes(tmp / "w/ini/l.idx",
               "a.wav Hello there\r\nb.wav Good morning\r\nc.wav 12\r\nd.wav Good night\r\n"
               "e.wav See you soon\r\nf.wav Thank you\r\ng.wav Not at all\r\n"
               "h.wav Welcome back\r\n");
    Save(SpokenTake(kWav16), "w/Prompt/l/a.wav");
    Save(SpokenTake(kWav16, 44100, 1, 1.3), "w/Prompt/l/b.wav");
    WaveElement cut = SilentTake(kWav16, 44100, 1, 2.4);
    AddTone(&cut, 0.3, 2.4, 0.5);
    Save(cut, "w/Prompt/l/E.WAV");  // found whatever its letter case, as the recorder does
    Save(SpokenTake(kWav16, 22050), "w/Prompt/l/f.wav");
    Save(SilentTake(kWav16, 44100, 1, 2.4), "w/Prompt/l/g.wav");
    WriteBytes(tmp / "w/Prompt/l/h.wav", "RIFF");
  }
};

TEST_F(Takes, OneLinePerPromptWithItsVerdictsAndFigures) {
  MakeLesson();
  const std::string index = Path("w/ini/l.idx");
  const std::string before = ReadBytes(tmp / "w/ini/l.idx");
  const Result result = Run({"takes", "--template", Path("w/sample.wav"), index});
  EXPECT_EQ(result.status, kExitFailed);
  EXPECT_EQ(result.err, "");
  std::istringstream lines(result.out);
  std::vector<std::string> got;
  for (std::string line; std::getline(lines, line);) {
    got.push_back(line);
  }
  ASSERT_EQ(got.size(), 9u) << result.out;
  EXPECT_EQ(got[0], index + ": 8 prompts, 6 takes, 5 not ok");
  EXPECT_EQ(got[1], "1\ta.wav\tok\t2.40 s\tpeak -6.0 dB\tRMS -9.0 dB\tlead 0.30 s\ttrail 0.50 s");
  EXPECT_EQ(got[2].rfind("2\tb.wav\tclipped\t2.40 s\tpeak 0.0 dB\t", 0), 0u) << got[2];
  EXPECT_EQ(got[3], "3\tc.wav\tshort");
  EXPECT_EQ(got[4], "4\td.wav\tmissing");
  EXPECT_EQ(got[5],
            "5\te.wav\tcut at the end\t2.40 s\tpeak -6.0 dB\tRMS -9.0 dB\tlead 0.30 s\ttrail "
            "0.00 s");
  EXPECT_EQ(got[6].rfind("6\tf.wav\tformat mismatch (22050 Hz, mono, 16-bit, not 44100 Hz, mono, "
                         "16-bit)\t2.40 s\tpeak -6.0 dB",
                         0),
            0u)
      << got[6];
  EXPECT_EQ(got[7],
            "7\tg.wav\tsilent\t2.40 s\tpeak -120.0 dB\tRMS -120.0 dB\tlead 2.40 s\ttrail 2.40 s");
  EXPECT_EQ(got[8].rfind("8\th.wav\tunreadable: The file is not a sound file", 0), 0u) << got[8];
  EXPECT_EQ(ReadBytes(tmp / "w/ini/l.idx"), before);  // a dry run: nothing written
}

TEST_F(Takes, ExitsOkWhenEveryRecordedTakeIsOkAndReadsTheTemplateHere) {
  MakeLesson();
  WriteBytes(tmp / "w/ini/m.idx", "a.wav Hello there\r\nb.wav Good day\r\nc.wav 12\r\n");
  Save(SpokenTake(kWav16), "w/Prompt/m/a.wav");
  WriteBytes(tmp / "w/ini/n.idx", "a.wav Hello there\r\n");  // no prompt directory at all

  const fs::path previous = fs::current_path();
  fs::current_path(tmp / "w");
  const Result ok = Run({"takes", "ini/m.idx", "ini/n.idx"});
  const Result notOk = Run({"takes", "ini/m.idx", "ini/l.idx"});
  fs::current_path(tmp.path());
  const Result noTemplate = Run({"takes", "w/ini/m.idx"});
  fs::current_path(previous);

  EXPECT_EQ(ok.status, kExitOk) << ok.out;
  EXPECT_EQ(ok.out,
            "ini/m.idx: 3 prompts, 1 take, 0 not ok\n"
            "1\ta.wav\tok\t2.40 s\tpeak -6.0 dB\tRMS -9.0 dB\tlead 0.30 s\ttrail 0.50 s\n"
            "2\tb.wav\tmissing\n"
            "3\tc.wav\tshort\n"
            "ini/n.idx: 1 prompt, 0 takes, 0 not ok\n"
            "1\ta.wav\tmissing\n");
  EXPECT_FALSE(fs::exists(tmp / "w/Prompt/n"));
  EXPECT_EQ(notOk.status, kExitFailed);

  EXPECT_EQ(noTemplate.status, kExitFailed);
  EXPECT_EQ(noTemplate.out, "");
  EXPECT_EQ(noTemplate.err.rfind("sample.wav: cannot read the template recording: ", 0), 0u)
      << noTemplate.err;
}

TEST_F(Takes, JsonForMachines) {
  MakeLesson();
  const std::string good = Path("w/ini/l.idx");
  const std::string gone = Path("w/ini/gone.idx");
  const Result result = Run({"takes", "--json", "--template=" + Path("w/sample.wav"), good, gone});
  EXPECT_EQ(result.status, kExitFailed);
  const std::string& json = result.out;
  EXPECT_EQ(json.rfind("{\"template\": {\"path\": \"" + Path("w/sample.wav") +
                           "\", \"format\": \"44100 Hz, mono, 16-bit\"},",
                       0),
            0u)
      << json;
  EXPECT_NE(json.find("{\"number\": 1, \"name\": \"a.wav\", \"status\": \"checked\", \"ok\": "
                      "true, \"verdicts\": [\"ok\"], \"duration\": 2.400, \"peakDb\": -6.0, "
                      "\"rmsDb\": -9.0, \"clippedSamples\": 0, \"leadingSilence\": 0.300, "
                      "\"trailingSilence\": 0.500, \"format\": \"44100 Hz, mono, 16-bit\", "
                      "\"loudnessLufs\": -11.1, \"loudnessRangeLu\": null, \"truePeakDbtp\": -6.0, "
                      "\"noiseFloorDb\": -120.0, \"snrDb\": 111.0, \"speechRate\": 6.88, "
                      "\"textMatch\": null, \"textCoverage\": null, "
                      "\"profile\": \"course\", \"problems\": []}"),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("{\"number\": 3, \"name\": \"c.wav\", \"status\": \"short\"}"),
            std::string::npos);
  EXPECT_NE(json.find("{\"number\": 4, \"name\": \"d.wav\", \"status\": \"missing\"}"),
            std::string::npos);
  EXPECT_NE(json.find("\"verdicts\": [\"cut at the end\"]"), std::string::npos);
  EXPECT_NE(json.find("\"status\": \"unreadable\", \"error\": \"The file is not a sound file"),
            std::string::npos);
  EXPECT_NE(json.find("{\"index\": \"" + gone + "\", \"error\": \"file not found\"}"),
            std::string::npos);
  EXPECT_EQ(json.substr(json.size() - 4), "}]}\n");
}

TEST_F(Takes, NamesAndErrorsAreEscapedAndJsonStaysValid) {
  Save(SpokenTake(kWav16), "w/sample.wav");
  WriteBytes(tmp / "w/ini/l.idx", Utf16Index(u"\x1b[2j.wav Hello there\r\n"));
  WriteBytes(tmp / "w/Prompt/l/\x1b[2j.wav", "RIFF");  // its error names it again
  const std::string badName = Path("w/ini/\xff.idx");
  const std::string sample = "--template=" + Path("w/sample.wav");

  const Result text = Run({"takes", sample, Path("w/ini/l.idx"), badName});
  EXPECT_EQ(text.out.find('\x1b'), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("\n1\t\\x1b[2j.wav\tunreadable: "), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("/\\x1b[2j.wav"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find(Path("w/ini/\\xff.idx") + ": file name is not valid UTF-8\n"),
            std::string::npos)
      << text.out;

  const Result json = Run({"takes", "--json", sample, Path("w/ini/l.idx"), badName});
  EXPECT_TRUE(platform::IsValidUtf8(json.out));
  EXPECT_EQ(json.out.find('\x1b'), std::string::npos);
  EXPECT_NE(json.out.find("\"name\": \"\\u001b[2j.wav\""), std::string::npos) << json.out;
  EXPECT_NE(json.out.find("{\"index\": \"" + Path("w/ini/\\ufffd.idx") +
                          "\", \"error\": \"file name is not valid UTF-8\"}"),
            std::string::npos)
      << json.out;
}

// A loud take (-11 LUFS) and a quiet one (-25 LUFS) judged by the profile chosen on the
// command line, in the working directory's profile file, or by default.
TEST_F(Takes, JudgedByTheProfileChosen) {
  Save(SpokenTake(kWav16), "w/sample.wav");
  WriteBytes(tmp / "w/ini/m.idx", "a.wav Hello there\r\nb.wav Good morning\r\n");
  Save(SpokenTake(kWav16), "w/Prompt/m/a.wav");
  Save(SpokenTake(kWav16, 44100, 1, 0.1), "w/Prompt/m/b.wav");
  const std::string figures = "\t2.40 s\tpeak -6.0 dB\tRMS -9.0 dB\tlead 0.30 s\ttrail 0.50 s";
  const std::string quiet = "\t2.40 s\tpeak -20.0 dB\tRMS -23.0 dB\tlead 0.30 s\ttrail 0.50 s";
  struct Case {
    std::string profileFile;  // delivery.ini, when not empty
    std::vector<std::string> options;
    int status;
    std::string out;
    std::string err;
  };
  const Case cases[] = {
      {"",
       {},
       kExitOk,
       "ini/m.idx: 2 prompts, 2 takes, 0 not ok\n1\ta.wav\tok" + figures + "\n2\tb.wav\tok" +
           quiet + "\n",
       ""},
      {"",
       {"--profile", "ebu-r128"},
       kExitFailed,
       "ini/m.idx: 2 prompts, 2 takes, 2 not ok\n"
       "1\ta.wav\tloudness off target, loudness unlike the lesson" +
           figures + "\t-11.1 LUFS\ttrue peak -6.0 dBTP\n" +
           "2\tb.wav\tloudness off target, loudness unlike the lesson" + quiet +
           "\t-25.1 LUFS\ttrue peak -20.0 dBTP\n",
       ""},
      {"profile = ebu-r128\nloudness = -11\nloudness-consistency = off\nmax-true-peak = off\n",
       {},
       kExitFailed,
       "ini/m.idx: 2 prompts, 2 takes, 1 not ok\n1\ta.wav\tok" + figures +
           "\t-11.1 LUFS\ttrue peak -6.0 dBTP\n2\tb.wav\tloudness off target" + quiet +
           "\t-25.1 LUFS\ttrue peak -20.0 dBTP\n",
       ""},
      {"profile = tts\n",
       {"--profile=course"},
       kExitOk,
       "ini/m.idx: 2 prompts, 2 takes, 0 not ok\n1\ta.wav\tok" + figures + "\n2\tb.wav\tok" +
           quiet + "\n",
       ""},
      {"profile = ebu\n",
       {},
       kExitFailed,
       "",
       Path("w/delivery.ini") + ":1: profile: unknown profile 'ebu'\n"},
      {"",
       {"--profile", "none.ini"},
       kExitFailed,
       "",
       "none.ini: neither a built-in profile (course, acx, ebu-r128, tts) nor a file\n"},
  };
  const fs::path previous = fs::current_path();
  fs::current_path(tmp / "w");
  for (const Case& c : cases) {
    fs::remove(tmp / "w/delivery.ini");
    if (!c.profileFile.empty()) {
      WriteBytes(tmp / "w/delivery.ini", c.profileFile);
    }
    std::vector<std::string> args = {"takes"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.emplace_back("ini/m.idx");
    const Result result = Run(args);
    EXPECT_EQ(result.status, c.status) << c.profileFile << result.out;
    EXPECT_EQ(result.out, c.out) << c.profileFile;
    EXPECT_EQ(result.err, c.err) << c.profileFile;
  }
  const Result json = Run({"takes", "--json", "--profile", "acx", "ini/m.idx"});
  fs::current_path(previous);
  EXPECT_NE(json.out.find("\"medianLoudnessLufs\": -18.1, \"medianSpeechRate\": 7.19,"),
            std::string::npos)
      << json.out;
  EXPECT_NE(json.out.find("\"profile\": \"acx\", \"problems\": [\"too-loud\", \"cut-start\", "
                          "\"cut-end\", \"inconsistent-loudness\"]}"),
            std::string::npos)
      << json.out;
}

// Every command judges a lesson by the profile of its own working directory, wherever it is run
// from, as the window does; --profile overrides it. The lesson's profile flags the loud take;
// the one in the current directory would not.
TEST_F(Takes, EveryCommandJudgesByTheProfileOfTheLessonsWorkingDirectory) {
  Save(SpokenTake(kWav16), "w/sample.wav");
  WriteBytes(tmp / "w/ini/m.idx", "a.wav Hello there\r\n");
  Save(SpokenTake(kWav16), "w/Prompt/m/a.wav");
  WriteBytes(tmp / "w/delivery.ini", "profile = ebu-r128\nloudness-consistency = off\n");
  WriteBytes(tmp / "delivery.ini", "profile = course\n");
  struct Case {
    std::vector<std::string> args;
    std::string says;  // in what the command wrote, or in its report file
  };
  const std::string index = Path("w/ini/m.idx");
  const Case cases[] = {
      {{"takes", "--template", Path("w/sample.wav"), index}, "a.wav\tloudness off target"},
      {{"takes", "--template", Path("w/sample.wav"), "--profile", "course", index}, "a.wav\tok"},
      {{"takes", "--json", "--template", Path("w/sample.wav"), index},
       "\"profile\": \"" + Path("w/delivery.ini") + " (based on ebu-r128)\""},
      {{"report", "-o", Path("r.html"), index},
       "delivery profile <b>" + Path("w/delivery.ini") + " (based on ebu-r128)</b>"},
      {{"export", "--to", Path("out"), index}, "a.wav: left out: loudness"},
      {{"export", "--profile", "delivery.ini", "--to", Path("out"), index}, "1 exported"},
  };
  const fs::path previous = fs::current_path();
  fs::current_path(tmp.path());
  for (const Case& c : cases) {
    const Result result = Run(c.args);
    const std::string said =
        result.out + result.err + (fs::exists(tmp / "r.html") ? ReadBytes(tmp / "r.html") : "");
    EXPECT_NE(said.find(c.says), std::string::npos) << c.args.front() << ": " << said;
  }
  fs::current_path(previous);
}

// The measures are kept in the user's cache, none beside the takes; a cache that cannot be
// written changes nothing.
TEST_F(Takes, MeasuresAreCachedInTheUsersCache) {
  MakeLesson();
  const std::vector<std::string> args = {"takes", "--template", Path("w/sample.wav"),
                                         Path("w/ini/l.idx")};
  const Result first = Run(args);
  EXPECT_FALSE(fs::exists(tmp / "w/Prompt/l/.measures"));
  ASSERT_EQ(std::distance(fs::directory_iterator(tmp / "cache/voxtar"), fs::directory_iterator()),
            1);
  const fs::path cache = fs::directory_iterator(tmp / "cache/voxtar")->path();
  const std::string cached = ReadBytes(cache);
  EXPECT_NE(cached.find("\nE.WAV\t"), std::string::npos);  // under its name on disk
  EXPECT_EQ(cached.find("h.wav"), std::string::npos);      // unreadable: nothing to keep

  EXPECT_EQ(Run(args).out, first.out);  // from the cache
  EXPECT_EQ(ReadBytes(cache), cached);

  WriteBytes(cache, "voxtar-measures 2\nbroken");
  fs::permissions(cache, fs::perms::owner_read);
  const Result readOnly = Run(args);
  EXPECT_EQ(readOnly.status, first.status);
  EXPECT_EQ(readOnly.out, first.out);
  EXPECT_EQ(readOnly.err, "");
  EXPECT_EQ(ReadBytes(cache), "voxtar-measures 2\nbroken");
}

// Prompts named with capitals (as imported LJSpeech ids are) find their takes in every command,
// whatever the letter case of the file.
TEST_F(Takes, EveryCommandFindsTakesWhateverTheLetterCaseOnEitherSide) {
  Save(SpokenTake(kWav16), "w/sample.wav");
  WriteBytes(tmp / "w/ini/l.idx", "LJ001-0001.wav Hello there\r\nLJ001-0002.wav Good morning\r\n");
  Save(SpokenTake(kWav16), "w/Prompt/l/LJ001-0001.wav");
  Save(SpokenTake(kWav16), "w/Prompt/l/lj001-0002.WAV");
  const std::string index = Path("w/ini/l.idx");

  EXPECT_EQ(Run({"check", index}).out, index + ": 2 prompts, 2 recorded, 0 pending\n");
  const Result takes = Run({"takes", "--template", Path("w/sample.wav"), index});
  EXPECT_EQ(takes.status, kExitOk) << takes.out;
  EXPECT_EQ(takes.out.rfind(index + ": 2 prompts, 2 takes, 0 not ok\n", 0), 0u) << takes.out;
  const Result exported = Run({"export", "--to", Path("out"), index});
  EXPECT_EQ(exported.status, kExitOk) << exported.out << exported.err;
  EXPECT_TRUE(fs::exists(tmp / "out/wavs/LJ001-0001.wav"));
  EXPECT_TRUE(fs::exists(tmp / "out/wavs/LJ001-0002.wav"));
}

TEST_F(Takes, BadUsage) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"takes"},
                                             {"takes", "--json"},
                                             {"takes", "--template"},
                                             {"takes", "--template=", "a.idx"},
                                             {"takes", "--frob", "a.idx"}}) {
    const Result result = Run(args);
    EXPECT_EQ(result.status, kExitUsage) << ::testing::PrintToString(args);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("Try 'voxtar-lesson --help'"), std::string::npos);
  }
  const Result help = Run({"takes", "--help"});
  EXPECT_EQ(help.status, kExitOk);
  EXPECT_EQ(help.out, Run({"--help"}).out);
  EXPECT_NE(help.out.find("voxtar-lesson takes [--template PATH] [--profile NAME|FILE] [--json] "
                          "INDEX..."),
            std::string::npos);
}

}  // namespace
}  // namespace voxtar::cli
