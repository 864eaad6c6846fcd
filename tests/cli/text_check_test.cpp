// SPDX-License-Identifier: GPL-3.0-or-later
// takes judges every take against its text with the judge the program plugs in: the speech of a
// lesson read by a voice, pace and pitch the judge never speaks with, in English and Russian.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "measures/text_check.h"
#include "tests/cli/cli_test_support.h"
#include "tests/support/temp_dir.h"
#include "textcheck/speech_synthesis.h"
#include "textcheck/take_text_judge.h"

namespace voxtar::cli {
namespace {

namespace fs = std::filesystem;

class TextCheck : public LessonTool {
 protected:
  TextCheck() { textcheck::PlugSpeechCheck(); }
  ~TextCheck() override { measures::PlugTextJudge(nullptr); }

  // `text` spoken by `reader` as a 22,050 Hz take with 0.4 s of faint room either side.
  void Say(std::u16string_view text, const textcheck::SpeakingStyle& reader,
           const fs::path& path) const {
    textcheck::Speech speech;
    std::string error;
    ASSERT_TRUE(textcheck::Synthesize(text, reader, &speech, &error)) << error;
    const std::size_t room = static_cast<std::size_t>(speech.sampleRate) * 2 / 5;
    std::vector<float> samples(room, 0.0F);
    samples.insert(samples.end(), speech.samples.begin(), speech.samples.end());
    samples.resize(samples.size() + room, 0.0F);
    std::uint32_t state = 7;
    for (float& sample : samples) {
      state = state * 1664525u + 1013904223u;
      sample += static_cast<float>((static_cast<double>(state >> 8) / (1u << 24) - 0.5) * 0.004);
    }
    fs::create_directories(path.parent_path());
    SF_INFO info{};
    info.samplerate = speech.sampleRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    sf_writef_float(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(file);
  }

  // The JSON object of prompt `name` in takes' output.
  static std::string PromptOf(const std::string& json, const std::string& name) {
    const std::size_t at = json.find("\"name\": \"" + name + "\"");
    return at == std::string::npos ? "" : json.substr(at, json.find('}', at) - at);
  }
  // Its textMatch, -1 when it has none.
  static double MatchOf(const std::string& prompt) {
    const std::size_t at = prompt.find("\"textMatch\": ");
    return at == std::string::npos ? -1.0 : std::strtod(prompt.c_str() + at + 13, nullptr);
  }
};

// Right, the next prompt's line, the first half, with extra words: each flagged as it is, the
// right ones matching their texts better than the wrong line; an edit of the texts is judged
// anew, and a profile that does not check texts has no figures.
TEST_F(TextCheck, TakesFlagsWrongLinesHalvesAndExtraWordsInTwoLanguages) {
  struct Lesson {
    textcheck::SpeakingStyle reader;
    std::u16string a, b, c, cHalf, d, dMore, e;
  };
  const std::map<std::string, Lesson> lessons = {
      {"en",
       {{"en-gb+m3", 175, 62, 65},
        u"Where is the nearest chemist?",
        u"I would like to book a table for two.",
        u"How much is a ticket to the city centre?",
        u"How much is a ticket",
        u"The museum opens at nine in the morning.",
        u"The museum opens at nine in the morning and closes at six, except on Mondays.",
        u"Thank you very much for your help."}},
      {"ru",
       {{"ru+f2", 140, 70, 60},
        u"Где здесь ближайшая аптека?",
        u"Я хотел бы заказать столик на двоих.",
        u"Сколько стоит билет до центра города?",
        u"Сколько стоит билет",
        u"Музей открывается в девять часов утра.",
        u"Музей открывается в девять часов утра и закрывается в шесть, кроме понедельника.",
        u"Большое спасибо за вашу помощь."}},
  };
  struct Row {
    const char* take;
    std::u16string Lesson::*spoken;
    const char* problems;
  };
  const Row rows[] = {
      {"a.wav", &Lesson::a, "[]"},
      {"b.wav", &Lesson::c, "[\"text-mismatch\"]"},  // the next prompt's line
      {"c.wav", &Lesson::cHalf, "[\"incomplete\"]"},
      {"d.wav", &Lesson::dMore, "[\"extra-speech\"]"},
      {"e.wav", &Lesson::e, "[]"},
  };
  for (const auto& entry : lessons) {
    const Lesson& lesson = entry.second;  // captured below, which a structured binding cannot be
    const std::string& language = entry.first;
    SCOPED_TRACE(language);
    const fs::path work = tmp / language;
    const auto index = [&](std::u16string_view b) {
      testing::WriteBytes(
          work / "ini/l.idx",
          Utf16Index(u"a.wav " + lesson.a + u"\r\nb.wav " + std::u16string(b) + u"\r\nc.wav " +
                     lesson.c + u"\r\nd.wav " + lesson.d + u"\r\ne.wav " + lesson.e + u"\r\n"));
    };
    index(lesson.b);
    for (const Row& row : rows) {
      Say(lesson.*row.spoken, lesson.reader, work / "Prompt/l" / row.take);
    }
    fs::copy_file(work / "Prompt/l/a.wav", work / "sample.wav");
    const auto takes = [&] {
      return Run({"takes", "--json", "--template", (work / "sample.wav").string(),
                  (work / "ini/l.idx").string()})
          .out;
    };
    std::string json = takes();
    for (const Row& row : rows) {
      const std::string prompt = PromptOf(json, row.take);
      EXPECT_NE(prompt.find(std::string("\"problems\": ") + row.problems), std::string::npos)
          << prompt;
      EXPECT_NE(prompt.find("\"textCoverage\": "), std::string::npos) << prompt;
      EXPECT_GE(MatchOf(prompt), 0.0) << prompt;
      EXPECT_LE(MatchOf(prompt), 1.0) << prompt;
    }
    EXPECT_GT(MatchOf(PromptOf(json, "a.wav")), MatchOf(PromptOf(json, "b.wav")) + 0.3);
    EXPECT_GT(MatchOf(PromptOf(json, "e.wav")), MatchOf(PromptOf(json, "b.wav")) + 0.3);

    // The text edited to what its take says: no longer the wrong line, cache or not.
    index(lesson.c);
    json = takes();
    EXPECT_NE(PromptOf(json, "b.wav").find("\"problems\": []"), std::string::npos) << json;
    EXPECT_GT(MatchOf(PromptOf(json, "b.wav")), 0.5) << json;

    testing::WriteBytes(work / "delivery.ini", "check-text = off\n");
    json = takes();
    EXPECT_NE(PromptOf(json, "c.wav").find("\"textMatch\": null, \"textCoverage\": null"),
              std::string::npos)
        << json;
    EXPECT_NE(PromptOf(json, "c.wav").find("\"problems\": []"), std::string::npos) << json;
  }
}

}  // namespace
}  // namespace voxtar::cli
