// SPDX-License-Identifier: GPL-3.0-or-later
#include "textcheck/speech_synthesis.h"

#include <espeak-ng/espeak_ng.h>

#include <array>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/utf8.h"

namespace voxtar::textcheck {

namespace {

// Longer speech is cut off: no prompt takes this long to say.
constexpr std::size_t kMaxSeconds = 120;

constexpr std::u16string_view kEditMarker = u"> ";

// The library, set up once. Every member is guarded by `mutex`.
struct Engine {
  std::mutex mutex;
  bool tried = false;
  std::string failure;      // why it could not be set up
  int sampleRate = 0;       // of its output
  std::string voice;        // the voice it was last given
  locale_t utf8 = nullptr;  // the character classes it reads text with
  std::vector<float>* output = nullptr;
  std::size_t maxSamples = 0;
};

Engine& TheEngine() {
  static Engine engine;
  return engine;
}

std::string StatusText(espeak_ng_STATUS status) {
  std::array<char, 512> text{};
  espeak_ng_GetStatusCodeMessage(status, text.data(), text.size());
  text.back() = '\0';
  return text.data();
}

// Receives the samples of the synthesis in progress (the engine's lock is held by its caller).
int Collect(short* wav, int count, espeak_EVENT* /*events*/) {
  Engine& engine = TheEngine();
  if (wav == nullptr || count <= 0 || engine.output == nullptr) {
    return 0;
  }
  for (int i = 0; i < count; ++i) {
    engine.output->push_back(static_cast<float>(wav[i]) / 32768.0F);
  }
  return engine.output->size() > engine.maxSamples ? 1 : 0;  // 1 stops the synthesis
}

// Sets the library up on first use; the lock is held. Its set-up switches the process's
// character classes to UTF-8 (it reads text with them); that is undone at once, and each
// synthesis switches only its own thread.
bool Ready(Engine& engine, std::string* error) {
  if (!engine.tried) {
    engine.tried = true;
    const char* current = std::setlocale(LC_CTYPE, nullptr);
    const std::string saved = current != nullptr ? current : "C";
    espeak_ng_InitializePath(nullptr);
    espeak_ng_ERROR_CONTEXT context = nullptr;
    espeak_ng_STATUS status = espeak_ng_Initialize(&context);
    espeak_ng_ClearErrorContext(&context);
    std::setlocale(LC_CTYPE, saved.c_str());
    if (status == ENS_OK) {
      status = espeak_ng_InitializeOutput(ENOUTPUT_MODE_SYNCHRONOUS, 0, nullptr);
    }
    if (status != ENS_OK) {
      engine.failure = "eSpeak NG cannot be started (" + StatusText(status) +
                       "); the text check needs the package espeak-ng-data";
    } else {
      espeak_SetSynthCallback(&Collect);
      engine.sampleRate = espeak_ng_GetSampleRate();
      engine.utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
      if (engine.utf8 == nullptr) {
        engine.utf8 = newlocale(LC_CTYPE_MASK, "en_US.UTF-8", nullptr);
      }
    }
  }
  if (!engine.failure.empty()) {
    *error = engine.failure;
    return false;
  }
  return true;
}

// The voice file of a language ("en-gb" is "gmw/en"): the one that names it with the highest
// priority. Empty when no voice speaks it.
std::string VoiceFileFor(std::string_view language) {
  std::string best;
  int bestPriority = 0;
  for (const espeak_VOICE* const* voice = espeak_ListVoices(nullptr);
       voice != nullptr && *voice != nullptr; ++voice) {
    // Pairs of a priority byte and a language name, ending with a zero byte.
    for (const char* entry = (*voice)->languages; entry != nullptr && *entry != 0;
         entry += 2 + std::strlen(entry + 1)) {
      const int priority = static_cast<unsigned char>(*entry);
      if (std::string_view(entry + 1) == language && (best.empty() || priority < bestPriority)) {
        best = (*voice)->identifier;
        bestPriority = priority;
      }
    }
  }
  return best;
}

bool UseVoice(Engine& engine, const std::string& voice, std::string* error) {
  if (voice == engine.voice) {
    return true;
  }
  engine.voice.clear();
  espeak_ng_STATUS status = espeak_ng_SetVoiceByName(voice.c_str());
  if (status != ENS_OK) {
    // A language with a variant ("en-gb+f2"): by the file of the language's voice.
    const std::size_t plus = voice.find('+');
    const std::string file = VoiceFileFor(std::string_view(voice).substr(0, plus));
    if (!file.empty()) {
      status = espeak_ng_SetVoiceByName(
          (file + (plus == std::string::npos ? "" : voice.substr(plus))).c_str());
    }
  }
  if (status != ENS_OK) {
    *error = "eSpeak NG has no voice \"" + voice + "\" (" + StatusText(status) + ")";
    return false;
  }
  engine.voice = voice;
  return true;
}

// Switches the calling thread to the engine's character classes for as long as it lives.
class ThreadLocale {
 public:
  explicit ThreadLocale(locale_t locale)
      : previous_(locale != nullptr ? uselocale(locale) : nullptr) {}
  ~ThreadLocale() {
    if (previous_ != nullptr) {
      uselocale(previous_);
    }
  }
  ThreadLocale(const ThreadLocale&) = delete;
  ThreadLocale& operator=(const ThreadLocale&) = delete;

 private:
  locale_t previous_;
};

bool InRange(char16_t unit, char16_t first, char16_t last) {
  return unit >= first && unit <= last;
}

}  // namespace

std::string VoiceForText(std::u16string_view text) {
  // Letters of each script: Latin, Cyrillic, Greek, Armenian, Georgian.
  constexpr std::array<const char*, 5> kVoices = {"en-us", "ru", "el", "hy", "ka"};
  std::array<int, kVoices.size()> letters{};
  for (const char16_t unit : text) {
    if (InRange(unit, u'\u0400', u'\u052F')) {
      ++letters[1];
    } else if (InRange(unit, u'\u0370', u'\u03FF')) {
      ++letters[2];
    } else if (InRange(unit, u'\u0530', u'\u058F')) {
      ++letters[3];
    } else if (InRange(unit, u'\u10A0', u'\u10FF')) {
      ++letters[4];
    } else if (InRange(unit, u'A', u'Z') || InRange(unit, u'a', u'z') ||
               InRange(unit, u'\u00C0', u'\u024F')) {
      ++letters[0];
    }
  }
  std::size_t best = 0;  // Latin without any letters
  for (std::size_t script = 0; script < letters.size(); ++script) {
    if (letters[script] > letters[best]) {
      best = script;
    }
  }
  return kVoices[best];
}

std::u16string_view ReadableText(std::u16string_view text) {
  if (text.starts_with(kEditMarker)) {
    text.remove_prefix(kEditMarker.size());
  }
  return text;
}

bool HasSpeakableText(std::u16string_view text) {
  for (const char16_t unit : text) {
    const bool ascii =
        InRange(unit, u'0', u'9') || InRange(unit, u'A', u'Z') || InRange(unit, u'a', u'z');
    // Beyond ASCII: letters of every script, leaving out the signs of Latin-1, general
    // punctuation and symbols, and CJK punctuation.
    const bool beyond = unit >= u'\u00C0' && unit != u'\u00D7' && unit != u'\u00F7' &&
                        !InRange(unit, u'\u2000', u'\u2BFF') &&
                        !InRange(unit, u'\u3000', u'\u303F');
    if (ascii || beyond) {
      return true;
    }
  }
  return false;
}

bool Synthesize(std::u16string_view text, const SpeakingStyle& style, Speech* speech,
                std::string* error) {
  const std::string utf8 = platform::ToUtf8(text);
  Engine& engine = TheEngine();
  const std::lock_guard lock(engine.mutex);
  if (!Ready(engine, error) || !UseVoice(engine, style.voice, error)) {
    return false;
  }
  espeak_ng_SetParameter(espeakRATE, style.wordsPerMinute, 0);
  espeak_ng_SetParameter(espeakPITCH, style.pitch, 0);
  espeak_ng_SetParameter(espeakRANGE, style.pitchRange, 0);
  espeak_ng_SetParameter(espeakVOLUME, 100, 0);
  std::vector<float> samples;
  engine.output = &samples;
  engine.maxSamples = kMaxSeconds * static_cast<std::size_t>(engine.sampleRate);
  espeak_ng_STATUS status = ENS_OK;
  {
    const ThreadLocale locale(engine.utf8);
    status = espeak_ng_Synthesize(utf8.c_str(), utf8.size() + 1, 0, POS_CHARACTER, 0,
                                  espeakCHARS_UTF8, nullptr, nullptr);
  }
  engine.output = nullptr;
  if (status != ENS_OK && status != ENS_SPEECH_STOPPED) {
    *error = "eSpeak NG cannot speak the text (" + StatusText(status) + ")";
    return false;
  }
  speech->samples = std::move(samples);
  speech->sampleRate = engine.sampleRate;
  return true;
}

bool IsKnownVoice(std::string_view name) {
  Engine& engine = TheEngine();
  const std::lock_guard lock(engine.mutex);
  std::string error;
  return Ready(engine, &error) && UseVoice(engine, std::string(name), &error);
}

}  // namespace voxtar::textcheck
