// Helpers of the audio tests: message boxes captured instead of shown, playback notices
// collected, tone files written and sound files measured with libsndfile directly (so the
// project's own reader and writer are checked against an independent path).
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
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "audio/audio_engine.h"
#include "audio/failure_reporter.h"
#include "platform/file_system.h"
#include "testing/tone_file.h"

namespace voxtar::testing {

// A file-system path as the wide path the program takes.
inline std::u16string Wide(const std::filesystem::path& path) {
  return platform::FromUtf8(path.string());
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

// Receives PlaybackNotices like the main dialog does, noting when each arrived.
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
    return QObject::event(event);
  }

  std::vector<Received> notices;
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

// Root mean square of samples[from, to).
inline double Rms(const std::vector<double>& samples, std::size_t from = 0,
                  std::size_t to = SIZE_MAX) {
  to = std::min(to, samples.size());
  if (from >= to) {
    return 0.0;
  }
  double sum = 0.0;
  for (std::size_t i = from; i < to; ++i) {
    sum += samples[i] * samples[i];
  }
  return std::sqrt(sum / static_cast<double>(to - from));
}

// Frequency of a steady tone in samples[from, to), from its rising zero crossings.
inline double ToneFrequency(const std::vector<double>& samples, int rate, std::size_t from = 0,
                            std::size_t to = SIZE_MAX) {
  to = std::min(to, samples.size());
  std::optional<double> first;
  double last = 0.0;
  int crossings = 0;
  for (std::size_t i = from + 1; i < to; ++i) {
    if (samples[i - 1] < 0.0 && samples[i] >= 0.0) {
      const double at = static_cast<double>(i - 1) +
                        samples[i - 1] / (samples[i - 1] - samples[i]);  // interpolated
      if (!first) {
        first = at;
      } else {
        ++crossings;
      }
      last = at;
    }
  }
  if (!first || crossings == 0) {
    return 0.0;
  }
  return crossings * rate / (last - *first);
}

// The tone's frequency as the median over windows of 50 ms in samples[from, to): a sound heard
// back through a busy sound server may carry a dropout of a few milliseconds, which shifts an
// average over the whole span but only one or two windows. A wrong rate moves every window.
inline double MedianToneFrequency(const std::vector<double>& samples, int rate,
                                  std::size_t from = 0, std::size_t to = SIZE_MAX) {
  to = std::min(to, samples.size());
  const auto window = static_cast<std::size_t>(rate / 20);
  std::vector<double> estimates;
  for (std::size_t at = from; at + window <= to; at += window) {
    estimates.push_back(ToneFrequency(samples, rate, at, at + window));
  }
  if (estimates.empty()) {
    return ToneFrequency(samples, rate, from, to);
  }
  std::nth_element(estimates.begin(),
                   estimates.begin() + static_cast<std::ptrdiff_t>(estimates.size() / 2),
                   estimates.end());
  return estimates[estimates.size() / 2];
}

// Index of the first and one past the last sample whose magnitude reaches `threshold`.
inline std::pair<std::size_t, std::size_t> LoudSpan(const std::vector<double>& samples,
                                                    double threshold) {
  std::size_t first = samples.size();
  std::size_t last = 0;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    if (std::abs(samples[i]) >= threshold) {
      first = std::min(first, i);
      last = i + 1;
    }
  }
  return {first, last};
}

}  // namespace voxtar::testing
