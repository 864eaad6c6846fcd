// SPDX-License-Identifier: GPL-3.0-or-later
// The life of a take, the same on every engine. What an input captures is stored in the take
// from where Record started, up to the take limit or the end of a finishing take's last frames;
// the kept-open input holds its last frames, with which a take that takes it over begins; the
// capture listener hears what the input kept first, then every block of a take or of the kept
// input; every block's level is measured; a take that stops capturing by itself gives one notice,
// and one cut short keeps what it captured and tells why at its Stop.
//
// The engine owns the streams: it feeds the recorder the bytes they capture (in pieces of any
// size), tells it when one ends, and passes on what the recorder reports (TakeReports) the way
// its threads need. The clock stamps when bytes came in, for an engine's watch over inputs that
// stopped moving and for where the press falls between two fragments.
//
// Threads: one at a time (the engine's lock); reports are made on the thread that called.
#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "audio/audio_engine.h"
#include "audio/audio_errors.h"
#include "audio/capture_ring.h"
#include "audio/level_meter.h"
#include "audio/wave_element.h"

namespace voxtar::audio {

// An input hands over what it captured in fragments of about this: a press falls at most two of
// them after the last one in.
inline constexpr std::int64_t kCaptureFragmentNs = 10'000'000;

// Why a take was cut short, for its next Stop to say.
struct TakeLoss {
  AudioError cause = AudioError::None;
  QString text;  // empty: the cause's own text
};

// What the recorder tells its engine, at once.
class TakeReports {
 public:
  virtual ~TakeReports() = default;
  // The level of a block any input captured.
  virtual void Level(const LevelSummary& summary) = 0;
  // Frames for the capture listener: what the kept-open input holds (`kept`), or a block a take
  // or the kept-open input captured.
  virtual void Captured(const CaptureFormat& format, std::vector<std::byte> frames, bool kept) = 0;
  // The take of `device` has its one notice.
  virtual void Ended(DeviceId device, RecordingCode code) = 0;
};

// Captured bytes as whole frames: a piece short of a frame waits for the next.
class WholeFrames {
 public:
  // The whole frames of what is held and `bytes`; valid until the next call.
  std::span<const std::byte> Join(std::span<const std::byte> bytes, std::size_t frameBytes);
  void Clear() { partial_.clear(); }

 private:
  std::vector<std::byte> partial_;
  std::vector<std::byte> joined_;
};

// One device's take, as the recorder keeps it.
class Take {
 public:
  bool capturing() const { return capturing_; }  // takes in frames
  bool open() const { return open_; }            // recorded since the last Stop
  bool fed() const { return fed_; }              // by the kept-open input
  bool finishing() const { return finishAt_ != UINT64_MAX; }
  std::uint64_t pressFrame() const { return pressFrame_; }
  std::uint64_t capturedFrames() const { return captured_; }
  // When captured bytes last came in, and when the first frames came in and how many (clock).
  std::int64_t lastCapture() const { return lastCapture_; }
  std::int64_t firstCapture() const { return firstCapture_; }
  std::uint64_t firstCaptureFrames() const { return firstCaptureFrames_; }

 private:
  friend class TakeRecorder;

  DeviceId device_ = 0;
  WaveElement* element_ = nullptr;
  std::uint64_t next_ = 0;  // the frame the next captured frame overwrites
  std::uint64_t end_ = 0;   // the take limit: no frame from here on
  std::uint64_t finishAt_ = UINT64_MAX;
  std::uint64_t pressFrame_ = 0;
  std::uint64_t captured_ = 0;
  bool capturing_ = false;
  bool open_ = false;
  bool fed_ = false;
  bool noticeGiven_ = false;
  std::optional<TakeLoss> lost_;
  WholeFrames frames_;
  std::int64_t lastCapture_ = 0;
  std::int64_t firstCapture_ = 0;
  std::uint64_t firstCaptureFrames_ = 0;
};

class TakeRecorder {
 public:
  using Clock = std::function<std::int64_t()>;  // nanoseconds

  TakeRecorder(TakeReports& reports, Clock clock);

  // ---- Takes. `take` stays where it is from Begin until it stops capturing.

  // Whether a take in `format` would take over the kept-open input.
  bool TakesOver(const CaptureFormat& format) const;
  // Starts a take of `device` over `element` from frame `from`, holding at most `limit` frames
  // in all; a take that takes over the kept-open input begins with what it kept. Whether it took
  // it over (else its engine starts a stream for it). Throws std::bad_alloc, then not started.
  bool Begin(Take& take, DeviceId device, WaveElement& element, std::uint64_t from,
             std::uint64_t limit);
  // What the take's own stream captured; whether the take still captures.
  bool Feed(Take& take, std::span<const std::byte> bytes);
  // Records `afterFrames` more, then stops with its notice; 0: now. A take that stopped
  // capturing by itself gives its notice now, unless it gave one.
  void Finish(Take& take, std::uint64_t afterFrames);
  // The take stops capturing without a notice (its engine stopped it or recorded again).
  void EndCapture(Take& take);
  // Stop: capturing ends, the take is closed; why it was cut short, once.
  std::optional<TakeLoss> Stop(Take& take);
  // The take lost its input or memory: it stops keeping what it captured; a finishing take is
  // told with its notice.
  void CutShort(Take& take, const TakeLoss& loss);
  // The next store of captured frames finds no memory: how a simulated engine cuts a take short
  // as a full machine would.
  void FailNextStore() { failNextStore_ = true; }

  // ---- The kept-open input.

  // Keeps the last `keepFrames` of an input in `format`. Kept already in that format, what it
  // holds stays, as much as fits; else afresh. Throws std::bad_alloc, then unchanged.
  void Keep(const CaptureFormat& format, std::size_t keepFrames);
  void FeedKept(std::span<const std::byte> bytes);
  // The kept-open input ends, and the take it fed goes on with its stream: that take's device
  // (0: none), for its engine to give it the stream.
  DeviceId HandOver();
  // The kept-open input ends; the take it fed stops capturing, cut short by `loss` if given.
  void EndKeeping(const std::optional<TakeLoss>& loss = std::nullopt);
  bool keeping() const { return kept_.has_value(); }
  CaptureFormat keptFormat() const { return kept_ ? kept_->format : CaptureFormat{}; }
  std::size_t keptFrames() const { return kept_ ? kept_->ring.frames() : 0; }
  std::int64_t keptLastCapture() const { return kept_ ? kept_->lastCapture : 0; }

  // ---- The level check: measured, never kept.

  void StartMeasuring(const CaptureFormat& format);
  void FeedMeasured(std::span<const std::byte> bytes);
  void EndMeasuring() { measured_.reset(); }

  // ---- The capture listener: on, it hears what the kept-open input holds first.
  void SetListening(bool listening);

 private:
  struct Kept {
    CaptureFormat format;
    CaptureRing ring;
    WholeFrames frames;
    std::int64_t lastCapture = 0;
    Take* feeds = nullptr;
  };
  struct Measured {
    CaptureFormat format;
    WholeFrames frames;
  };

  // Level and listener for a captured block.
  void Report(const CaptureFormat& format, std::span<const std::byte> frames, bool listened);
  // Writes whole frames into the take, as many as it has room for; a full or finished take
  // stops with its notice.
  void Store(Take& take, std::span<const std::byte> frames);
  void Notice(Take& take, RecordingCode code);

  TakeReports& reports_;
  Clock clock_;
  std::optional<Kept> kept_;
  std::optional<Measured> measured_;
  bool listening_ = false;
  bool failNextStore_ = false;
};

}  // namespace voxtar::audio
