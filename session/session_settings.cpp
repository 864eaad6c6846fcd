// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/session_settings.h"

#include <QSettings>

namespace voxtar::session {

namespace {

constexpr auto kWaveform = "view/waveform";
constexpr auto kPreRoll = "recording/preRollMs";
constexpr auto kPostRoll = "recording/postRollMs";
constexpr auto kAutoAdvance = "recording/autoAdvance";
constexpr auto kAutoPlay = "recording/autoPlay";
constexpr auto kHandsFree = "recording/handsFree";
constexpr auto kEndSilence = "recording/endSilenceMs";
constexpr auto kWaitForVoice = "recording/waitForVoiceS";
constexpr auto kEndTick = "recording/endTick";
constexpr auto kTextZoom = "view/textZoom";

bool ReadBool(const QSettings& settings, const char* key, bool fallback) {
  const QString text = settings.value(QLatin1String(key)).toString().trimmed().toLower();
  if (text == QLatin1String("true") || text == QLatin1String("1")) {
    return true;
  }
  if (text == QLatin1String("false") || text == QLatin1String("0")) {
    return false;
  }
  return fallback;
}

// A whole number within [lowest, highest], else `fallback`.
qlonglong ReadNumber(const QSettings& settings, const char* key, qlonglong lowest,
                     qlonglong highest, qlonglong fallback) {
  bool ok = false;
  const qlonglong value = settings.value(QLatin1String(key)).toString().trimmed().toLongLong(&ok);
  return ok && value >= lowest && value <= highest ? value : fallback;
}

std::uint32_t ReadMargin(const QSettings& settings, const char* key) {
  return static_cast<std::uint32_t>(
      ReadNumber(settings, key, 0, SessionSettings::kLongestMarginMs, 0));
}

}  // namespace

SessionSettings SessionSettings::Load(const QString& file) {
  SessionSettings loaded;
  if (file.isEmpty()) {
    return loaded;
  }
  const QSettings settings(file, QSettings::IniFormat);
  loaded.waveform = ReadBool(settings, kWaveform, loaded.waveform);
  loaded.preRollMs = ReadMargin(settings, kPreRoll);
  loaded.postRollMs = ReadMargin(settings, kPostRoll);
  loaded.autoAdvance = ReadBool(settings, kAutoAdvance, loaded.autoAdvance);
  loaded.autoPlay = ReadBool(settings, kAutoPlay, loaded.autoPlay);
  loaded.handsFree = ReadBool(settings, kHandsFree, loaded.handsFree);
  loaded.endSilenceMs = static_cast<std::uint32_t>(ReadNumber(
      settings, kEndSilence, kShortestEndSilenceMs, kLongestEndSilenceMs, loaded.endSilenceMs));
  loaded.waitForVoiceS = static_cast<std::uint32_t>(
      ReadNumber(settings, kWaitForVoice, 1, kLongestWaitForVoiceS, loaded.waitForVoiceS));
  loaded.endTick = ReadBool(settings, kEndTick, loaded.endTick);
  loaded.textZoom =
      static_cast<int>(ReadNumber(settings, kTextZoom, kSmallestZoom, kLargestZoom, 100));
  return loaded;
}

void SessionSettings::Save(const QString& file) const {
  if (file.isEmpty()) {
    return;
  }
  QSettings settings(file, QSettings::IniFormat);
  settings.setValue(QLatin1String(kWaveform), waveform);
  settings.setValue(QLatin1String(kPreRoll), preRollMs);
  settings.setValue(QLatin1String(kPostRoll), postRollMs);
  settings.setValue(QLatin1String(kAutoAdvance), autoAdvance);
  settings.setValue(QLatin1String(kAutoPlay), autoPlay);
  settings.setValue(QLatin1String(kHandsFree), handsFree);
  settings.setValue(QLatin1String(kEndSilence), endSilenceMs);
  settings.setValue(QLatin1String(kWaitForVoice), waitForVoiceS);
  settings.setValue(QLatin1String(kEndTick), endTick);
  settings.setValue(QLatin1String(kTextZoom), textZoom);
}

}  // namespace voxtar::session
