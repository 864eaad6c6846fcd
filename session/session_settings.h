// SPDX-License-Identifier: GPL-3.0-or-later
// How the operator likes a recording session to run, kept in the user's settings file beside the
// device choice: the waveform shown or not, the capture margins before Record and after Stop, and
// whether a good take moves on to the next prompt and whether each take is played back, the
// hands-free sitting, and the prompt text's zoom. A value
// that cannot be read is taken as its default: a settings file mended by hand never keeps the
// program from starting.
#pragma once

#include <QString>
#include <array>
#include <cstdint>

namespace voxtar::session {

struct SessionSettings {
  // The margins the context menu offers, in ms; 0 is off.
  static constexpr std::array<std::uint32_t, 4> kMarginChoices{0, 250, 500, 1000};
  // The longest margin a settings file may ask for: what an input kept open can hold.
  static constexpr std::uint32_t kLongestMarginMs = 10'000;

  // The end-silence times the context menu offers, in ms, and the range a settings file may ask
  // for; the wait for voice a settings file may ask for, in s; the prompt text's zoom, in %.
  static constexpr std::array<std::uint32_t, 4> kEndSilenceChoices{500, 800, 1200, 2000};
  static constexpr std::uint32_t kShortestEndSilenceMs = 200;
  static constexpr std::uint32_t kLongestEndSilenceMs = 5000;
  static constexpr std::uint32_t kLongestWaitForVoiceS = 600;
  static constexpr int kSmallestZoom = 50;
  static constexpr int kLargestZoom = 400;

  bool waveform = true;
  std::uint32_t preRollMs = 0;
  std::uint32_t postRollMs = 0;
  bool autoAdvance = false;
  bool autoPlay = false;
  // The hands-free sitting: on or off, the silence that ends a take, how long it waits for a
  // voice before it pauses, and the soft tick at each take's end.
  bool handsFree = false;
  std::uint32_t endSilenceMs = 800;
  std::uint32_t waitForVoiceS = 10;
  bool endTick = false;
  // The prompt text's size, in % of the dialog's own.
  int textZoom = 100;

  bool operator==(const SessionSettings&) const = default;

  // From `file` (empty: the defaults).
  static SessionSettings Load(const QString& file);
  // Into `file`; nothing without one.
  void Save(const QString& file) const;
};

}  // namespace voxtar::session
