#include "session/session_settings.h"

#include <QSettings>

namespace voxtar {

namespace {

constexpr auto kWaveform = "view/waveform";
constexpr auto kPreRoll = "recording/preRollMs";
constexpr auto kPostRoll = "recording/postRollMs";
constexpr auto kAutoAdvance = "recording/autoAdvance";
constexpr auto kAutoPlay = "recording/autoPlay";

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

std::uint32_t ReadMargin(const QSettings& settings, const char* key) {
  bool ok = false;
  const qlonglong ms = settings.value(QLatin1String(key)).toString().trimmed().toLongLong(&ok);
  if (!ok || ms < 0 || ms > SessionSettings::kLongestMarginMs) {
    return 0;
  }
  return static_cast<std::uint32_t>(ms);
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
}

}  // namespace voxtar
