// SPDX-License-Identifier: GPL-3.0-or-later
#include "textcheck/speech_comparison.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "platform/utf8.h"
#include "tests/support/temp_dir.h"
#include "textcheck/reading_file.h"
#include "textcheck/reading_judge.h"
#include "textcheck/speech_synthesis.h"

namespace voxtar::textcheck {
namespace {

// Room before and after the speech.
constexpr std::uint32_t kRoomMs = 400;

// The speech with room either side, under white noise about 50 dB below it.
std::vector<float> InRoom(const Speech& speech) {
  const std::size_t room =
      std::size_t{kRoomMs} * static_cast<std::size_t>(speech.sampleRate) / 1000;
  std::vector<float> samples(room, 0.0F);
  samples.insert(samples.end(), speech.samples.begin(), speech.samples.end());
  samples.resize(samples.size() + room, 0.0F);
  std::uint32_t state = 26;
  for (float& sample : samples) {
    state = state * 1664525u + 1013904223u;
    sample += static_cast<float>((static_cast<double>(state >> 8) / (1u << 24) - 0.5) * 0.006);
  }
  return samples;
}

// The take as a 44.1 kHz stereo file (from the synthesizer's 22,050 Hz, each sample twice, a
// little apart between the channels).
std::u16string StereoFile(const std::vector<float>& samples, const testing::TempDir& dir) {
  const std::string path = (dir / "take.wav").string();
  SF_INFO info{};
  info.samplerate = 44100;
  info.channels = 2;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  EXPECT_NE(file, nullptr);
  std::vector<float> frames;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const float next = i + 1 < samples.size() ? samples[i + 1] : samples[i];
    for (const float value : {samples[i], 0.5F * (samples[i] + next)}) {
      frames.push_back(0.9F * value);
      frames.push_back(1.1F * value);
    }
  }
  sf_writef_float(file, frames.data(), static_cast<sf_count_t>(frames.size() / 2));
  sf_close(file);
  return platform::FromUtf8(path);
}

std::string Words(const TextVerdict& verdict) {
  std::string words;
  for (const TextProblem problem : verdict.problems) {
    words += (words.empty() ? "" : " ") + std::string(ProblemWord(problem));
  }
  return words.empty() ? "ok" : words;
}

// A small lesson in each language, read by a voice, pace and pitch the checker never speaks
// with: right, the next prompt's line, the first half, with extra words; judged against the
// prompt's text with its neighbours. English takes are checked in memory at the synthesizer's
// rate, Russian ones from a 44.1 kHz stereo file, as the recorder checks a take it measured.
TEST(SpeechComparison, FindsWrongLinesMissingHalvesAndExtraWordsInTwoLanguages) {
  struct Language {
    SpeakingStyle reader;
    bool throughFile;
    std::u16string previous, text, next;
    std::u16string firstHalf, extraWords, sameWords;
  };
  const std::map<std::string, Language> languages = {
      {"en",
       {{"en-gb+f3", 170, 66, 60},
        false,
        u"Where is the railway station?",
        u"I would like a cup of coffee, please.",
        u"How much does this ticket cost?",
        u"I would like a cup",
        u"I would like a cup of coffee, please, and a large piece of chocolate cake.",
        u"i would like a cup of coffee please"}},
      {"ru",
       {{"ru+m2", 135, 38, 40},
        true,
        u"Где находится вокзал?",
        u"Я хотел бы чашку кофе, пожалуйста.",
        u"Сколько стоит этот билет?",
        u"Я хотел бы",
        u"Я хотел бы чашку кофе, пожалуйста, и большой кусок шоколадного торта.",
        u"я хотел бы чашку кофе пожалуйста"}},
  };
  enum class Neighbours { Both, None, SameWords };
  struct Row {
    const char* what;
    std::u16string Language::*spoken;
    std::u16string edited;  // put in front of the text
    Neighbours neighbours;
    const char* expected;
  };
  const Row rows[] = {
      {"right", &Language::text, u"", Neighbours::Both, "ok"},
      {"right, edited, a neighbour saying the same words", &Language::text, u"> ",
       Neighbours::SameWords, "ok"},
      {"right, no neighbours", &Language::text, u"", Neighbours::None, "ok"},
      {"the next prompt's line", &Language::next, u"", Neighbours::Both, "text-mismatch"},
      {"another line, no neighbours", &Language::previous, u"", Neighbours::None, "text-mismatch"},
      {"the first half only", &Language::firstHalf, u"", Neighbours::Both, "incomplete"},
      {"extra words", &Language::extraWords, u"", Neighbours::Both, "extra-speech"},
  };
  const testing::TempDir dir;
  SpeechComparison comparison;
  for (const auto& [name, language] : languages) {
    std::map<std::string, double> match;
    for (const Row& row : rows) {
      SCOPED_TRACE(name + ": " + row.what);
      Speech speech;
      std::string error;
      ASSERT_TRUE(Synthesize(language.*row.spoken, language.reader, &speech, &error)) << error;
      const std::vector<float> samples = InRoom(speech);
      const std::u16string text = row.edited + language.text;
      PromptTexts texts;
      texts.text = text;
      if (row.neighbours == Neighbours::Both) {
        texts.neighbours = {language.previous, language.next};
      } else if (row.neighbours == Neighbours::SameWords) {
        texts.neighbours = {language.previous, language.sameWords};
      }
      TextVerdict verdict;
      if (language.throughFile) {
        const auto voiceMs = static_cast<std::uint32_t>(
            speech.samples.size() * 1000 / static_cast<std::size_t>(speech.sampleRate));
        ASSERT_TRUE(JudgeTakeFile(StereoFile(samples, dir), kRoomMs, voiceMs, texts, comparison,
                                  &verdict, &error))
            << error;
      } else {
        ASSERT_TRUE(comparison.Judge({samples, speech.sampleRate}, texts, &verdict, &error))
            << error;
      }
      ASSERT_TRUE(verdict.judged);
      EXPECT_EQ(Words(verdict), row.expected)
          << "textMatch " << verdict.textMatch << ", textCoverage " << verdict.textCoverage
          << ", voiceCoverage " << verdict.voiceCoverage;
      EXPECT_GE(verdict.textMatch, 0.0);
      EXPECT_LE(verdict.textMatch, 1.0);
      match[row.what] = verdict.textMatch;
    }
    EXPECT_GT(match["right"], 0.5) << name;
    EXPECT_GT(match["right"], match["the next prompt's line"] + 0.3) << name;
    EXPECT_GT(match["right, no neighbours"], match["another line, no neighbours"] + 0.3) << name;
  }
}

// Readings the judge has nothing to say about, texts that need care, and what it cannot read.
TEST(SpeechComparison, JudgesOnlyWhatItCanAndNamesWhatItCannotRead) {
  std::string error;
  const auto spoken = [&](std::u16string_view text) {
    Speech speech;
    EXPECT_TRUE(Synthesize(text, {"en-us+m4", 160, 45, 50}, &speech, &error)) << error;
    return Reading{InRoom(speech), speech.sampleRate};
  };
  const Reading morning = spoken(u"Good morning!");
  const Reading noNoNo = spoken(u"No, no, no!");
  const Reading silent{std::vector<float>(22050, 0.0F), 22050};
  const Reading empty;
  struct Case {
    const char* what;
    const Reading& reading;
    std::u16string text;
    std::string voice;
    bool works;
    const char* expected;  // nullptr: nothing judged
  };
  const Case cases[] = {
      {"no words in the text", morning, u"> ...", "", true, nullptr},
      {"a silent reading", silent, u"Good morning!", "", true, nullptr},
      {"an empty reading", empty, u"Good morning!", "", true, nullptr},
      {"the voice named", morning, u"Good morning!", "en-gb", true, "ok"},
      {"words that read the same backwards", noNoNo, u"No, no, no!", "", true, "ok"},
      {"no such voice", morning, u"Good morning!", "xx-nowhere", false, nullptr},
  };
  SpeechComparison comparison;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PromptTexts texts;
    texts.text = c.text;
    texts.voice = c.voice;
    TextVerdict verdict;
    error.clear();
    EXPECT_EQ(comparison.Prepare(texts, 48000, &error), c.works) << error;
    ASSERT_EQ(comparison.Judge(c.reading, texts, &verdict, &error), c.works) << error;
    ASSERT_EQ(verdict.judged, c.expected != nullptr);
    if (verdict.judged) {
      EXPECT_EQ(Words(verdict), c.expected);
    }
    if (!c.works) {
      EXPECT_NE(error.find("\"xx-nowhere\""), std::string::npos) << error;
    }
  }
  const testing::TempDir dir;
  PromptTexts texts;
  texts.text = u"Good morning!";
  TextVerdict verdict;
  EXPECT_FALSE(JudgeTakeFile(dir.wide(true) + u"missing.wav", 100, 800, texts, comparison, &verdict,
                             &error));
  EXPECT_NE(error.find("missing.wav"), std::string::npos) << error;
}

// A verdict kept with a take holds until its text, a neighbour's text or the voice changes; an
// edit marker changes nothing that is said.
TEST(SpeechComparison, VerdictDigestChangesWithWhatIsSaid) {
  const auto digest = [](std::u16string_view text, std::vector<std::u16string_view> neighbours,
                         std::string voice) {
    return VerdictDigest({text, std::move(neighbours), std::move(voice)});
  };
  const std::uint64_t base = digest(u"Good morning!", {u"Hello.", u"Goodbye."}, "");
  EXPECT_EQ(digest(u"> Good morning!", {u"Hello.", u"> Goodbye."}, ""), base);
  EXPECT_NE(digest(u"Good evening!", {u"Hello.", u"Goodbye."}, ""), base);
  EXPECT_NE(digest(u"Good morning!", {u"Hello.", u"Good night."}, ""), base);
  EXPECT_NE(digest(u"Good morning!", {u"Hello."}, ""), base);
  EXPECT_NE(digest(u"Good morning!", {u"Goodbye.", u"Hello."}, ""), base);
  EXPECT_NE(digest(u"Good morning!", {u"Hello.", u"Goodbye."}, "en-gb"), base);
}

}  // namespace
}  // namespace voxtar::textcheck
