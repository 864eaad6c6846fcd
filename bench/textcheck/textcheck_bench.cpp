// SPDX-License-Identifier: GPL-3.0-or-later
// The text check's accuracy and speed, on a corpus the benchmark makes itself: four lessons of 24
// prompts (two English, two Russian) spoken by eSpeak NG with other voices, paces and pitches
// than the checker's, put into 48 kHz 16-bit takes with room before and after and pink room
// noise, measured as the recorder measures takes, and checked against their prompts with the
// prompts before and after as neighbours. Each prompt is read right three times (three speakers),
// as its next neighbour's line (the wrong line), as a line five further on (a wrong line that is
// no neighbour), as its first half, as its second half, and with extra words.
//
// Reported: the share of takes of each kind that the check flags, and by which problem; then the
// time per take of the check on top of the measures (reading the voice, synthesis of each text
// once per lesson, features, alignments), and per 5 s of voice, on one core.
// Run a Release build: build/<dir>/bench/textcheck/textcheck_bench [--scores FILE]
#include <sndfile.h>
#include <soxr.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <numbers>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "measures/take_measures.h"
#include "platform/utf8.h"
#include "textcheck/reading_file.h"
#include "textcheck/speech_comparison.h"
#include "textcheck/speech_synthesis.h"

namespace voxtar::textcheck {
namespace {

namespace fs = std::filesystem;

struct Lesson {
  const char* name;
  std::vector<const char*> prompts;
  std::vector<SpeakingStyle> speakers;
};

// Voices, paces and pitches the checker never uses (it speaks "en-us" and "ru" plain, at
// SpeechComparison::kWordsPerMinute and pitch 50).
const std::vector<SpeakingStyle> kEnglishSpeakers = {
    {"en-gb+f2", 165, 62, 60},          {"en-us+m3", 130, 38, 40},
    {"en-gb-x-rp+f4", 185, 70, 55},     {"en-us+klatt2", 140, 45, 45},
    {"en-gb-scotland+m1", 200, 44, 65}, {"en-029+f1", 175, 58, 50}};
const std::vector<SpeakingStyle> kRussianSpeakers = {
    {"ru+f2", 140, 65, 60},     {"ru+m3", 180, 35, 45}, {"ru-lv+f4", 165, 56, 55},
    {"ru+klatt3", 130, 42, 40}, {"ru+m1", 200, 46, 65}, {"ru-lv+f1", 175, 60, 50}};

const std::vector<Lesson>& Lessons() {
  static const std::vector<Lesson> kLessons = {
      {"English 1",
       {"Good morning!",
        "Where is the railway station?",
        "I would like a cup of coffee, please.",
        "How much does this ticket cost?",
        "The museum opens at ten o'clock.",
        "Could you speak a little more slowly?",
        "My brother lives in a small town near the sea.",
        "We are going to the cinema tonight.",
        "Excuse me, is this seat free?",
        "It is raining, so take an umbrella.",
        "The shop on the corner sells fresh bread.",
        "Thank you very much.",
        "I have lost my keys again.",
        "Turn left at the second traffic light.",
        "She reads the newspaper every morning.",
        "How long does the journey take?",
        "The children are playing in the garden.",
        "Please write your name here.",
        "Our train leaves from platform four.",
        "I don't understand this word.",
        "What time is it now?",
        "He has been waiting for an hour.",
        "The soup is too hot to eat.",
        "See you tomorrow!"},
       kEnglishSpeakers},
      {"English 2",
       {"I work in a large office in the city centre.",
        "My sister is a doctor.",
        "What do you do in your free time?",
        "We usually have dinner at seven.",
        "The meeting has been moved to Thursday.",
        "Can you send me the report by Friday?",
        "I am looking for a new flat.",
        "The kitchen is next to the living room.",
        "He forgot to switch off the lights.",
        "Do you often travel for work?",
        "The printer on the third floor is broken.",
        "Let's take a short break.",
        "I have never been to Australia.",
        "Her flight was delayed by two hours.",
        "Would you like some more tea?",
        "They moved here three years ago.",
        "The weather will be sunny at the weekend.",
        "I need to buy a present for my mother.",
        "How do you spell your surname?",
        "This road is closed for repairs.",
        "We should leave before it gets dark.",
        "Is there a pharmacy near here?",
        "I'm sorry, I'm late.",
        "Have a nice evening."},
       kEnglishSpeakers},
      {"Russian 1",
       {"Доброе утро!",
        "Где находится вокзал?",
        "Я хотел бы чашку кофе, пожалуйста.",
        "Сколько стоит этот билет?",
        "Музей открывается в десять часов.",
        "Говорите, пожалуйста, медленнее.",
        "Мой брат живёт в маленьком городе у моря.",
        "Сегодня вечером мы идём в кино.",
        "Извините, это место свободно?",
        "Идёт дождь, возьми зонтик.",
        "В магазине на углу продают свежий хлеб.",
        "Большое спасибо.",
        "Я опять потерял ключи.",
        "На втором светофоре поверните налево.",
        "Она читает газету каждое утро.",
        "Сколько времени занимает дорога?",
        "Дети играют в саду.",
        "Напишите здесь своё имя.",
        "Наш поезд отходит от четвёртой платформы.",
        "Я не понимаю это слово.",
        "Который сейчас час?",
        "Он ждёт уже целый час.",
        "Суп слишком горячий.",
        "До завтра!"},
       kRussianSpeakers},
      {"Russian 2",
       {"Я работаю в большом офисе в центре города.",
        "Моя сестра врач.",
        "Чем вы занимаетесь в свободное время?",
        "Обычно мы ужинаем в семь часов.",
        "Совещание перенесли на четверг.",
        "Пришлите мне отчёт до пятницы.",
        "Я ищу новую квартиру.",
        "Кухня находится рядом с гостиной.",
        "Он забыл выключить свет.",
        "Вы часто ездите в командировки?",
        "Принтер на третьем этаже сломался.",
        "Давайте сделаем небольшой перерыв.",
        "Я никогда не был в Австралии.",
        "Её рейс задержали на два часа.",
        "Хотите ещё чаю?",
        "Они переехали сюда три года назад.",
        "В выходные будет солнечно.",
        "Мне нужно купить подарок маме.",
        "Как пишется ваша фамилия?",
        "Эта дорога закрыта на ремонт.",
        "Нам нужно уйти до темноты.",
        "Здесь есть аптека поблизости?",
        "Извините за опоздание.",
        "Хорошего вечера."},
       kRussianSpeakers},
  };
  return kLessons;
}

enum class Kind { Right, WrongLine, FarLine, FirstHalf, SecondHalf, ExtraWords };
constexpr std::array<const char*, 6> kKindNames = {
    "right",           "wrong line (neighbour)", "wrong line (5 away)",
    "first half only", "second half only",       "extra words"};

// The words of a text and where it splits nearest its middle character.
std::vector<std::u16string> SplitWords(std::u16string_view text) {
  std::vector<std::u16string> words;
  std::u16string word;
  for (const char16_t unit : text) {
    if (unit == u' ') {
      if (!word.empty()) {
        words.push_back(word);
      }
      word.clear();
    } else {
      word += unit;
    }
  }
  if (!word.empty()) {
    words.push_back(word);
  }
  return words;
}

std::u16string Join(const std::vector<std::u16string>& words, std::size_t from, std::size_t to) {
  std::u16string text;
  for (std::size_t i = from; i < to; ++i) {
    text += (text.empty() ? u"" : u" ") + words[i];
  }
  return text;
}

std::size_t MiddleWord(const std::vector<std::u16string>& words) {
  std::size_t total = 0;
  for (const auto& word : words) {
    total += word.size() + 1;
  }
  std::size_t best = 1;
  std::size_t at = 0;
  double bestDistance = 1e9;
  for (std::size_t i = 0; i + 1 < words.size(); ++i) {
    at += words[i].size() + 1;
    const double distance = std::fabs(static_cast<double>(at) - static_cast<double>(total) / 2.0);
    if (distance < bestDistance) {
      bestDistance = distance;
      best = i + 1;
    }
  }
  return best;
}

// Pink noise (Kellet's filter over white noise) of RMS 1.
std::vector<float> PinkNoise(std::size_t count, std::mt19937& random) {
  std::normal_distribution<double> white(0.0, 1.0);
  std::array<double, 7> b{};
  std::vector<double> pink(count);
  double squares = 0.0;
  for (double& value : pink) {
    const double w = white(random);
    b[0] = 0.99886 * b[0] + w * 0.0555179;
    b[1] = 0.99332 * b[1] + w * 0.0750759;
    b[2] = 0.96900 * b[2] + w * 0.1538520;
    b[3] = 0.86650 * b[3] + w * 0.3104856;
    b[4] = 0.55000 * b[4] + w * 0.5329522;
    b[5] = -0.7616 * b[5] - w * 0.0168980;
    value = b[0] + b[1] + b[2] + b[3] + b[4] + b[5] + b[6] + w * 0.5362;
    b[6] = w * 0.115926;
    squares += value * value;
  }
  const double scale =
      1.0 / std::sqrt(squares / static_cast<double>(std::max<std::size_t>(count, 1)));
  std::vector<float> noise(count);
  for (std::size_t i = 0; i < count; ++i) {
    noise[i] = static_cast<float>(pink[i] * scale);
  }
  return noise;
}

// A small room: four feedback combs and two all-passes (Schroeder) with a reverberation time of
// `seconds`, mixed `wet` under the direct sound.
void AddRoom(std::vector<float>* sound, int rate, double seconds, double wet) {
  constexpr std::array<double, 4> kCombMs = {29.7, 37.1, 41.1, 43.7};
  constexpr std::array<double, 2> kAllPassMs = {5.0, 1.7};
  std::vector<float> reverb(sound->size(), 0.0F);
  for (const double ms : kCombMs) {
    const auto delay = static_cast<std::size_t>(ms * rate / 1000.0);
    const double feedback = std::pow(10.0, -3.0 * ms / 1000.0 / seconds);
    std::vector<float> line(delay, 0.0F);
    for (std::size_t i = 0; i < sound->size(); ++i) {
      const float out = line[i % delay];
      line[i % delay] = (*sound)[i] + static_cast<float>(feedback) * out;
      reverb[i] += out / 4.0F;
    }
  }
  for (const double ms : kAllPassMs) {
    const auto delay = static_cast<std::size_t>(ms * rate / 1000.0);
    std::vector<float> line(delay, 0.0F);
    std::size_t at = 0;
    for (float& value : reverb) {
      const float delayed = line[at];
      const float input = value + 0.5F * delayed;
      line[at] = input;
      value = delayed - 0.5F * input;
      at = (at + 1) % delay;
    }
  }
  for (std::size_t i = 0; i < sound->size(); ++i) {
    (*sound)[i] += static_cast<float>(wet) * reverb[i];
  }
}

// A take of `spoken` by `speaker`, as a microphone in a small room would give it: room before
// and after, sometimes a breath before the speech, the room's reverberation, pink room noise 20
// to 40 dB under the speech, at 48 kHz mono or 44.1 kHz stereo.
struct TakeSound {
  std::vector<float> samples;  // interleaved
  int rate = 0;
  int channels = 0;
};
TakeSound MakeTake(std::u16string_view spoken, const SpeakingStyle& speaker, std::mt19937& random) {
  Speech speech;
  std::string error;
  if (!Synthesize(spoken, speaker, &speech, &error)) {
    throw std::runtime_error(error);
  }
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  TakeSound take;
  const bool stereo = uniform(random) < 0.3;
  take.rate = stereo ? 44100 : 48000;
  take.channels = stereo ? 2 : 1;
  std::vector<float> voice(static_cast<std::size_t>(
      static_cast<double>(speech.samples.size()) * take.rate / speech.sampleRate + 16));
  std::size_t done = 0;
  const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
  if (soxr_oneshot(speech.sampleRate, take.rate, 1, speech.samples.data(), speech.samples.size(),
                   nullptr, voice.data(), voice.size(), &done, &io, &quality, nullptr) != nullptr) {
    throw std::runtime_error("soxr failed");
  }
  voice.resize(done);
  float peak = 1e-9F;
  for (const float sample : voice) {
    peak = std::max(peak, std::fabs(sample));
  }
  const double gain = std::pow(10.0, (-3.0 - 9.0 * uniform(random)) / 20.0) / peak;
  double squares = 0.0;
  for (float& sample : voice) {
    sample = static_cast<float>(sample * gain);
    squares += static_cast<double>(sample) * sample;
  }
  const double voiceRms =
      std::sqrt(squares / static_cast<double>(std::max<std::size_t>(voice.size(), 1)));

  const auto seconds = [&](double s) { return static_cast<std::size_t>(s * take.rate); };
  std::vector<float> mono(seconds(0.3 + 0.5 * uniform(random)), 0.0F);
  if (uniform(random) < 0.35) {
    // A breath: noise in the band of a breath, swelling and fading over 0.25 to 0.4 s, 25 to 35
    // dB under the speech's RMS, then a short pause.
    const std::size_t length = seconds(0.25 + 0.15 * uniform(random));
    const std::vector<float> noise = PinkNoise(length, random);
    const double level = voiceRms * std::pow(10.0, -(25.0 + 10.0 * uniform(random)) / 20.0);
    double low = 0.0;
    for (std::size_t i = 0; i < length; ++i) {
      low += 0.2 * (noise[i] - low);  // takes the edge off the hiss
      const double swell =
          std::sin(std::numbers::pi * static_cast<double>(i) / static_cast<double>(length));
      mono.push_back(static_cast<float>((noise[i] - low) * level * swell * 2.0));
    }
    mono.resize(mono.size() + seconds(0.1 + 0.15 * uniform(random)), 0.0F);
  }
  mono.insert(mono.end(), voice.begin(), voice.end());
  mono.resize(mono.size() + seconds(0.3 + 0.5 * uniform(random)), 0.0F);
  AddRoom(&mono, take.rate, 0.15 + 0.3 * uniform(random), 0.05 + 0.25 * uniform(random));
  const std::vector<float> noise = PinkNoise(mono.size(), random);
  const double noiseRms = voiceRms * std::pow(10.0, -(20.0 + 20.0 * uniform(random)) / 20.0);
  for (std::size_t i = 0; i < mono.size(); ++i) {
    mono[i] += static_cast<float>(noise[i] * noiseRms);
  }
  for (const float sample : mono) {
    for (int c = 0; c < take.channels; ++c) {
      take.samples.push_back(sample);
    }
  }
  return take;
}

void WriteTake(const TakeSound& take, const fs::path& path) {
  SF_INFO info{};
  info.samplerate = take.rate;
  info.channels = take.channels;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (file == nullptr) {
    throw std::runtime_error("cannot write " + path.string());
  }
  sf_writef_float(
      file, take.samples.data(),
      static_cast<sf_count_t>(take.samples.size() / static_cast<std::size_t>(take.channels)));
  sf_close(file);
}

class ScratchDir {
 public:
  ScratchDir()
      : path_(fs::temp_directory_path() /
              ("voxtar-textcheck-bench-" + std::to_string(::getpid()))) {
    fs::create_directories(path_);
  }
  ~ScratchDir() { fs::remove_all(path_); }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

struct Take {
  Kind kind;
  std::string speaker;
  std::size_t prompt;
  std::u16string spoken;
  fs::path path;
  std::uint32_t voiceStartMs = 0;
  std::uint32_t voiceLengthMs = 0;
};

std::string List(const std::vector<TextFit>& fits, double TextFit::*member) {
  std::string list;
  for (const TextFit& fit : fits) {
    list += (list.empty() ? "" : ",") + std::to_string(fit.*member);
  }
  return list.empty() ? "-" : list;
}

struct Tally {
  int takes = 0;
  int flagged = 0;
  std::array<int, 3> problems{};
  double seconds = 0.0;
};

double CpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// The prompt's text with the texts before and after it as neighbours.
PromptTexts TextsOf(const std::vector<std::u16string>& prompts, std::size_t prompt) {
  PromptTexts texts;
  texts.text = prompts[prompt];
  if (prompt > 0) {
    texts.neighbours.push_back(prompts[prompt - 1]);
  }
  if (prompt + 1 < prompts.size()) {
    texts.neighbours.push_back(prompts[prompt + 1]);
  }
  return texts;
}

// Checks the take as the recorder would after measuring it; the CPU seconds it took.
double Check(SpeechComparison& comparison, const Take& take,
             const std::vector<std::u16string>& prompts, ReadingScores* score) {
  const double start = CpuSeconds();
  Reading reading;
  std::string error;
  if (!ReadReading(platform::FromUtf8(take.path.string()), take.voiceStartMs, take.voiceLengthMs,
                   &reading, &error) ||
      !comparison.Score(reading, TextsOf(prompts, take.prompt), score, &error)) {
    throw std::runtime_error(error);
  }
  return CpuSeconds() - start;
}

void WriteScores(std::ofstream& out, const char* lesson, const Take& take,
                 const ReadingScores& score, const TextVerdict& verdict) {
  std::string names;
  for (const TextProblem problem : verdict.problems) {
    names += (names.empty() ? "" : ",") + std::string(ProblemWord(problem));
  }
  out << lesson << '\t' << take.speaker << '\t' << take.prompt << '\t'
      << kKindNames[static_cast<std::size_t>(take.kind)] << '\t' << score.own.readingCost << '\t'
      << score.own.textCost << '\t' << score.own.textCoverage << '\t' << score.own.voiceCoverage
      << '\t' << score.foil.readingCost << '\t' << score.foil.textCost << '\t'
      << List(score.neighbours, &TextFit::readingCost) << '\t'
      << List(score.neighbours, &TextFit::textCost) << '\t' << verdict.textMatch << '\t'
      << (names.empty() ? "-" : names) << '\n';
}

// Measures a take of `spoken` by `speaker` written to `path`.
Take MakeTakeFile(Kind kind, const SpeakingStyle& speaker, std::size_t prompt,
                  std::u16string spoken, const fs::path& path, std::mt19937& random) {
  Take take{kind, speaker.voice, prompt, std::move(spoken), path, 0, 0};
  WriteTake(MakeTake(take.spoken, speaker, random), take.path);
  measures::TakeMeasures measured;
  std::string error;
  if (!measures::MeasureTakeFile(platform::FromUtf8(take.path.string()), &measured, &error)) {
    throw std::runtime_error(error);
  }
  take.voiceStartMs = measured.headMs;
  take.voiceLengthMs = measured.voicedSpanMs;
  return take;
}

// Right takes of about 5 s of voice (three prompts of a lesson read as one), each checked with
// the three-prompt texts before and after it as neighbours: the mean voice length, and the CPU
// seconds per take of the first check and of a check with every reference ready.
std::array<double, 4> TimeLongTakes(const fs::path& dir, std::mt19937& random) {
  const Lesson& lesson = Lessons().front();
  std::vector<std::u16string> prompts;
  for (std::size_t p = 0; p + 2 < lesson.prompts.size(); p += 3) {
    prompts.push_back(platform::FromUtf8(std::string(lesson.prompts[p]) + " " +
                                         lesson.prompts[p + 1] + " " + lesson.prompts[p + 2]));
  }
  std::vector<Take> takes;
  double voice = 0.0;
  for (std::size_t p = 0; p < prompts.size(); ++p) {
    takes.push_back(MakeTakeFile(Kind::Right, lesson.speakers[p % lesson.speakers.size()], p,
                                 prompts[p], dir / ("long" + std::to_string(p) + ".wav"), random));
    voice += takes.back().voiceLengthMs / 1000.0;
  }
  SpeechComparison comparison;
  std::array<double, 2> seconds{};
  double flagged = 0;
  for (double& pass : seconds) {
    for (const Take& take : takes) {
      ReadingScores score;
      pass += Check(comparison, take, prompts, &score);
      flagged += &pass == &seconds[0] && !JudgeScores(score).problems.empty() ? 1 : 0;
    }
  }
  const auto count = static_cast<double>(takes.size());
  return {voice / count, seconds[0] / count, seconds[1] / count, flagged};
}

}  // namespace
}  // namespace voxtar::textcheck

int main(int argc, char** argv) {
  using namespace voxtar;
  using namespace voxtar::textcheck;
  std::ofstream scores;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::string(argv[i]) == "--scores") {
      scores.open(argv[i + 1]);
      scores
          << "lesson\tspeaker\tprompt\tkind\treadingCost\ttextCost\ttextCoverage\tvoiceCoverage\t"
             "foilReading\tfoilText\tnbReading\tnbText\ttextMatch\tproblems\n";
    }
  }
  const ScratchDir dir;
  std::mt19937 random(26);
  std::map<Kind, Tally> tallies;
  double coldSeconds = 0.0;
  double warmSeconds = 0.0;
  double voiceSeconds = 0.0;
  int checked = 0;
  for (const Lesson& lesson : Lessons()) {
    std::vector<std::u16string> prompts;
    for (const char* prompt : lesson.prompts) {
      prompts.push_back(platform::FromUtf8(prompt));
    }
    const std::size_t count = prompts.size();
    std::vector<Take> takes;
    std::size_t speaker = 0;
    const auto add = [&](Kind kind, std::size_t prompt, std::u16string spoken) {
      const fs::path path = dir.path() / ("take" + std::to_string(takes.size()) + ".wav");
      takes.push_back(MakeTakeFile(kind, lesson.speakers[speaker++ % lesson.speakers.size()],
                                   prompt, std::move(spoken), path, random));
    };
    for (std::size_t p = 0; p < count; ++p) {
      const std::vector<std::u16string> words = SplitWords(prompts[p]);
      const std::vector<std::u16string> far = SplitWords(prompts[(p + 9) % count]);
      for (int n = 0; n < 3; ++n) {
        add(Kind::Right, p, prompts[p]);
      }
      add(Kind::WrongLine, p, prompts[p + 1 < count ? p + 1 : p - 1]);
      add(Kind::FarLine, p, prompts[(p + 5) % count]);
      if (words.size() >= 2) {
        add(Kind::FirstHalf, p, Join(words, 0, MiddleWord(words)));
        add(Kind::SecondHalf, p, Join(words, MiddleWord(words), words.size()));
      }
      // A false start before the line, or words of another line after it.
      add(Kind::ExtraWords, p,
          p % 2 == 0 ? Join(words, 0, std::min<std::size_t>(2, words.size())) + u"... " + prompts[p]
                     : prompts[p] + u" " + Join(far, 0, std::min<std::size_t>(4, far.size())));
    }

    // The check, as on a fresh start: each text is synthesized the first time it is needed;
    // then once more, every reference ready.
    SpeechComparison comparison;
    for (const bool warm : {false, true}) {
      for (const Take& take : takes) {
        ReadingScores score;
        const double seconds = Check(comparison, take, prompts, &score);
        (warm ? warmSeconds : coldSeconds) += seconds;
        if (warm) {
          continue;
        }
        voiceSeconds += take.voiceLengthMs / 1000.0;
        ++checked;
        const TextVerdict verdict = JudgeScores(score);
        Tally& tally = tallies[take.kind];
        ++tally.takes;
        tally.flagged += verdict.problems.empty() ? 0 : 1;
        for (const TextProblem problem : verdict.problems) {
          ++tally.problems[static_cast<std::size_t>(problem)];
        }
        if (scores.is_open()) {
          WriteScores(scores, lesson.name, take, score, verdict);
        }
      }
    }
  }

  std::printf("%-24s %6s %9s %14s %11s %13s\n", "takes", "count", "flagged", "text-mismatch",
              "incomplete", "extra-speech");
  for (const auto& [kind, counted] : tallies) {
    const Tally& tally = counted;
    const auto share = [&](int n) { return 100.0 * n / std::max(tally.takes, 1); };
    std::printf("%-24s %6d %8.1f%% %13.1f%% %10.1f%% %12.1f%%\n",
                kKindNames[static_cast<std::size_t>(kind)], tally.takes, share(tally.flagged),
                share(tally.problems[0]), share(tally.problems[1]), share(tally.problems[2]));
  }
  std::printf("\nThe check on top of the measures, CPU time on one core:\n");
  std::printf(
      "  lesson takes (%.1f s of voice on average), first check (each text synthesized "
      "once): %.1f ms per take\n",
      voiceSeconds / checked, 1000.0 * coldSeconds / checked);
  std::printf("  lesson takes, references ready: %.1f ms per take\n",
              1000.0 * warmSeconds / checked);
  const auto [longVoice, longCold, longWarm, longFlagged] = TimeLongTakes(dir.path(), random);
  std::printf(
      "  takes of %.1f s of voice, first check: %.1f ms per take; references ready: "
      "%.1f ms per take (%.0f of 8 right ones flagged)\n",
      longVoice, 1000.0 * longCold, 1000.0 * longWarm, longFlagged);
  return 0;
}
