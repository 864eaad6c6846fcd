// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers of the audio tests: message boxes captured instead of shown, playback notices
// collected, tone files written and sound files read with libsndfile directly (so the project's
// own reader and writer are checked against an independent path), then measured with the tone
// analysis of the test support.
#pragma once

#include <sndfile.h>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QObject>
#include <QString>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "audio/audio_engine.h"
#include "audio/failure_reporter.h"
#include "audio/wave_device.h"
#include "audio/wave_element.h"
#include "platform/file_system.h"
#include "testing/tone_file.h"
#include "tests/support/tone_analysis.h"

namespace voxtar::testing {

// A file-system path as the wide path the program takes.
inline std::u16string Wide(const std::filesystem::path& path) {
  return platform::FromUtf8(path.string());
}

// Writes what a device holds to `path` as a take is written: its content whole, under the
// engine's take limit. False, with the reason in *error, when there is nothing or it is refused.
inline bool SaveContent(audio::AudioEngine& engine, audio::DeviceId id,
                        const std::filesystem::path& path, std::string* error = nullptr) {
  std::string ignored;
  std::string* why = error != nullptr ? error : &ignored;
  const std::shared_ptr<const audio::WaveElement> content = engine.Content(id);
  if (content == nullptr) {
    *why = "the device is not open";
    return false;
  }
  return audio::WriteWaveFile(*content, Wide(path), why, {}, engine.takeLimitBytes());
}

inline bool SaveContent(const audio::WaveDevice& device, const std::filesystem::path& path) {
  const std::shared_ptr<const audio::WaveElement> content = device.Content();
  std::string error;
  return content != nullptr && audio::WriteWaveFile(*content, Wide(path), &error);
}

// One failure report, as the box would show it.
struct Box {
  QString text;
  QString caption;
};

// Records the wave device's failure reports instead of showing boxes.
class BoxRecorder final : public audio::FailureReporter {
 public:
  void ReportFailure(const QString& text, const QString& caption) override {
    boxes.push_back({text, caption});
  }

  std::vector<Box> boxes;
};

// Receives PlaybackNotices and RecordingNotices like the main dialog does, noting when each
// playback notice arrived.
class NoticeCollector final : public QObject {
 public:
  struct Received {
    audio::NotifyCode code;
    audio::DeviceId device;
    std::chrono::steady_clock::time_point at;
  };

  bool event(QEvent* event) override {
    if (event->type() == audio::PlaybackNotice::kType) {
      const auto* notice = static_cast<audio::PlaybackNotice*>(event);
      notices.push_back({notice->code(), notice->device(), std::chrono::steady_clock::now()});
      return true;
    }
    if (event->type() == audio::RecordingNotice::kType) {
      const auto* notice = static_cast<audio::RecordingNotice*>(event);
      recordings.emplace_back(notice->code(), notice->device());
      return true;
    }
    return QObject::event(event);
  }

  std::vector<Received> notices;
  std::vector<std::pair<audio::RecordingCode, audio::DeviceId>> recordings;
};

// Runs the event loop until `done` holds or `timeoutMs` passed; whether it holds.
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() >= timeoutMs) {
      return false;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::msleep(1);
  }
  return true;
}

// Runs the event loop for `ms` milliseconds.
inline void Spin(int ms) {
  WaitUntil([] { return false; }, ms);
}

// Writes a sine (or silence with amplitude 0) to a new sound file of the given format.
inline void WriteTone(const std::filesystem::path& path, int format, int rate, int channels,
                      double seconds, double frequency, double amplitude) {
  if (!audio::WriteToneFile(path, format, rate, channels, seconds, frequency, amplitude)) {
    throw std::runtime_error(sf_strerror(nullptr));
  }
}

// A sound file as normalised doubles, one vector per channel.
struct Sound {
  SF_INFO info{};
  std::vector<std::vector<double>> channels;
};

// How often the rising zero crossings of a steady tone in samples[from, to) come more than half
// a frame off its period: each time frames were lost or repeated there.
inline int ToneBreaks(const std::vector<double>& samples, int rate, double frequency,
                      std::size_t from, std::size_t to) {
  int breaks = 0;
  double previous = -1.0;
  for (std::size_t i = from; i + 1 < std::min(to, samples.size()); ++i) {
    if (samples[i] < 0.0 && samples[i + 1] >= 0.0) {
      const double at = static_cast<double>(i) + samples[i] / (samples[i] - samples[i + 1]);
      breaks += previous >= 0.0 && std::abs(at - previous - rate / frequency) > 0.5 ? 1 : 0;
      previous = at;
    }
  }
  return breaks;
}

inline Sound ReadSound(const std::filesystem::path& path) {
  Sound sound;
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &sound.info);
  if (file == nullptr) {
    throw std::runtime_error(std::string("cannot read ") + path.string() + ": " +
                             sf_strerror(nullptr));
  }
  const auto count = static_cast<std::size_t>(sound.info.channels);
  std::vector<double> all(static_cast<std::size_t>(sound.info.frames) * count);
  const sf_count_t got = sf_readf_double(file, all.data(), sound.info.frames);
  sf_close(file);
  sound.channels.assign(count, {});
  for (std::size_t n = 0; n < static_cast<std::size_t>(got); ++n) {
    for (std::size_t c = 0; c < count; ++c) {
      sound.channels[c].push_back(all[n * count + c]);
    }
  }
  return sound;
}

}  // namespace voxtar::testing
