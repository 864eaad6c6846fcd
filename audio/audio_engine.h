// SPDX-License-Identifier: GPL-3.0-or-later
// The audio engine: what the wave device asks of the sound system. It stands where the platform's
// media control interface stands: elements (WAV files) are opened as devices that play, record
// over themselves, stop, save and close, and every call returns an error code whose text the
// engine supplies.
//
// This interface is the seam for the sound system: the program runs on PulseAudioEngine, the tests
// also on SimulatedAudioEngine, and another platform's engine would stand beside them.
//
// Ownership: the program makes one engine and hands it to whoever opens devices; the engine
// outlives them. Threads: every call is made on the GUI thread. A playback's completion notice is
// posted to the notify object's event queue as a PlaybackNotice, and a recording that stopped
// capturing by itself posts a RecordingNotice there, so both are handled on the GUI thread too.
// What Content returns may be read on any thread.
#pragma once

#include <QEvent>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "audio/level_meter.h"
#include "audio/sample_kind.h"
#include "audio/wave_element.h"

class QObject;

namespace voxtar::audio {

using DeviceId = std::uint16_t;   // 0: no device
using ErrorCode = std::uint32_t;  // 0: success
inline constexpr ErrorCode kNoError = 0;

// Completion codes of a playback notice.
enum class NotifyCode : int {
  Successful = 1,
  Superseded = 2,
  Aborted = 4,
  Failure = 8,
};

// Posted to the notify object when a playback ends.
class PlaybackNotice : public QEvent {
 public:
  static constexpr QEvent::Type kType = static_cast<QEvent::Type>(QEvent::User + 0x3B9);
  PlaybackNotice(NotifyCode code, DeviceId device) : QEvent(kType), code_(code), device_(device) {}
  NotifyCode code() const { return code_; }
  DeviceId device() const { return device_; }

 private:
  NotifyCode code_;
  DeviceId device_;
};

// Why a recording stopped capturing by itself.
enum class RecordingCode : int {
  // The take holds the engine's take limit: as much as a file of its format can hold, unless
  // the limit was set lower.
  LimitReached = 1,
  // The recording asked to finish (FinishRecording) has stopped capturing: its frames after the
  // stop are in, or its input was lost first (the Stop that follows says so).
  Finished = 2,
};

// Posted to the notify object of Record when the recording stops capturing by itself, at most
// once a take. The device still counts as recording until Stop, which keeps everything captured.
class RecordingNotice : public QEvent {
 public:
  static constexpr QEvent::Type kType = static_cast<QEvent::Type>(QEvent::User + 0x3C0);
  RecordingNotice(RecordingCode code, DeviceId device)
      : QEvent(kType), code_(code), device_(device) {}
  RecordingCode code() const { return code_; }
  DeviceId device() const { return device_; }

 private:
  RecordingCode code_;
  DeviceId device_;
};

// Which way sound goes through a device of the sound system.
enum class Direction { Input, Output };

// A device of the sound system as the operator chooses it: the server's name for it and what it
// shows to people.
struct SoundDevice {
  std::string name;
  QString description;
};

// Posted to the level listener for each block an input captured (while a device records or the
// level check runs): the block's peak, RMS and clipping, measured on the captured samples.
class LevelNotice : public QEvent {
 public:
  static constexpr QEvent::Type kType = static_cast<QEvent::Type>(QEvent::User + 0x3BA);
  explicit LevelNotice(const LevelSummary& summary) : QEvent(kType), summary_(summary) {}
  const LevelSummary& summary() const { return summary_; }

 private:
  LevelSummary summary_;
};

// The sample format of a level check or a kept-open input: what the takes will be recorded in.
struct CaptureFormat {
  SampleKind kind = SampleKind::Int16;
  int sampleRate = 48000;
  int channels = 1;

  bool operator==(const CaptureFormat&) const = default;
};

inline CaptureFormat CaptureFormatOf(const WaveElement& element) {
  return {element.kind, element.sampleRate, element.channels};
}

// Posted to the capture listener with the frames of each block a take or the kept-open input
// captured, as captured; and first, when the listener is set while the input is kept open, with
// the frames it keeps (kept()): what listens for a voice hears what is recorded and what came
// just before it.
class CaptureNotice : public QEvent {
 public:
  static constexpr QEvent::Type kType = static_cast<QEvent::Type>(QEvent::User + 0x3C1);
  CaptureNotice(const CaptureFormat& format, std::vector<std::byte> frames, bool kept)
      : QEvent(kType), format_(format), frames_(std::move(frames)), kept_(kept) {}
  const CaptureFormat& format() const { return format_; }
  const std::vector<std::byte>& frames() const { return frames_; }
  bool kept() const { return kept_; }

 private:
  CaptureFormat format_;
  std::vector<std::byte> frames_;
  bool kept_;
};

// The longest lead-in a kept-open input holds for the next take.
inline constexpr std::uint32_t kPreRollLimitMs = 10'000;

class AudioEngine {
 public:
  virtual ~AudioEngine() = default;

  // Opens the element (waiting); *device receives its identifier.
  virtual ErrorCode Open(std::u16string_view element, DeviceId* device) = 0;
  // The element's length in milliseconds (waiting).
  virtual ErrorCode QueryLength(DeviceId device, std::uint32_t* lengthMs) = 0;
  // Starts playing from `fromMs` to `toMs` (to the end when absent), returns at once; a
  // PlaybackNotice goes to `notify` when the last sample has been heard or the play was cut
  // short.
  virtual ErrorCode Play(DeviceId device, std::uint32_t fromMs, std::optional<std::uint32_t> toMs,
                         QObject* notify) = 0;
  // Starts recording over the element from `fromMs` on until Stop, returns at once. A
  // RecordingNotice goes to `notify` (when not null) if the recording stops capturing by itself.
  // A recording that loses its input, or finds no memory for what it captures, keeps what it
  // captured until then, and the next Stop reports why it was cut short.
  virtual ErrorCode Record(DeviceId device, std::uint32_t fromMs, QObject* notify) = 0;
  // Stops a playback or recording and waits for it. A RecordingNotice not yet delivered is
  // dropped: it comes too late.
  virtual ErrorCode Stop(DeviceId device) = 0;
  // Lets a recording run on for `afterMs` more of captured frames (counted in frames, not in
  // wall time, from those captured when it is called), then stop capturing, so the end of the
  // last word is kept; returns at once. Once it returns kNoError, one RecordingNotice comes for
  // the take (Finished, or LimitReached when the take filled up first; none more when it has
  // had one already), after which Stop ends the recording and returns what Stop returns (a loss
  // of the input meanwhile included). With afterMs 0 the take ends as Stop would end it, its
  // notice following as well. On a device that is not recording this is Stop.
  virtual ErrorCode FinishRecording(DeviceId device, std::uint32_t afterMs) = 0;
  // The frame of the device's element at which its current or last Record was called: where the
  // take's lead-in ends. Without a kept-open input the frame Record started from; on a real
  // input as near as its 10 ms fragments tell. 0 when the device is not open.
  virtual std::uint64_t PressFrame(DeviceId device) = 0;
  // The element as it stands now, shared and never changed afterwards: it stays readable on any
  // thread after the device records again or is closed. Null when the device is not open.
  virtual std::shared_ptr<const WaveElement> Content(DeviceId device) = 0;
  // How many frames the device's current or last recording captured (0 before any): a take that
  // captured none holds nothing of the operator's.
  virtual std::uint64_t CapturedFrames(DeviceId device) = 0;
  // Closes the device (waiting).
  virtual ErrorCode Close(DeviceId device) = 0;
  // The text of an error code, plain English, naming the cause.
  virtual QString ErrorText(ErrorCode error) = 0;

  // The sound system's inputs or outputs, for the operator to choose from (bounded wait; empty
  // when there is no sound system).
  virtual std::vector<SoundDevice> Devices(Direction direction) = 0;
  // The input or output that Record and Play use from their next start on, by the sound
  // system's name; empty for the system's default. A chosen device that is not there when a
  // stream starts falls back to the default.
  virtual void ChooseDevice(Direction direction, const std::string& name) = 0;
  virtual std::string ChosenDevice(Direction direction) const = 0;
  // What the device's sound is, as a desktop shows it ("a001.wav"); the element's file name
  // until told otherwise.
  virtual void SetMediaName(DeviceId device, std::u16string_view name) = 0;

  // The most sound data, in bytes of the file, that one take may hold: a recording stops
  // capturing when it gets there (posting its RecordingNotice). At first what a WAV file can
  // hold (kWaveDataLimit); whatever it is set to, a take never outgrows a file of its format.
  virtual void SetTakeLimitBytes(std::uint64_t bytes) = 0;
  virtual std::uint64_t takeLimitBytes() const = 0;

  // Where LevelNotices go (null: nowhere). Not owned; the listener outlives its setting.
  virtual void SetLevelListener(QObject* listener) = 0;
  // Where CaptureNotices go (null: nowhere, and no block is copied for them). Not owned; the
  // listener outlives its setting.
  virtual void SetCaptureListener(QObject* listener) = 0;
  // The level check: captures from the chosen input in `format` only to measure it (nothing is
  // kept), until StopLevelCheck or until any device starts to record or play.
  virtual ErrorCode StartLevelCheck(const CaptureFormat& format) = 0;
  virtual void StopLevelCheck() = 0;
  virtual bool levelCheckRunning() const = 0;

  // Starts connecting to the sound system and returns at once, so the first command that needs
  // it finds it ready (the program calls it at start-up). A connection that fails is tried again
  // by the next command, as ever.
  virtual void Warm() = 0;

  // The kept-open input: captures from the chosen input in `format` (the template's) and keeps
  // the last `keepMs` (at most kPreRollLimitMs) of it, posting a LevelNotice for every block,
  // so the meter shows the input all the time (it ends a level check, and no level check starts
  // while it runs). A Record, from any position, on a device whose element has this format
  // takes over its input: the take begins with the frames kept (keepMs of them, or all there are
  // when the input opened less than keepMs ago), followed by the live capture of the same
  // stream, seamless, and without a stream to start. Records in another format start their own
  // stream. It goes on capturing for the next take after Stop and while devices play; a lost
  // server or input ends it (the next Record then starts a stream, and a later StartPreRoll
  // opens the input again). Started again in the same format it keeps what it holds (only the
  // length kept changes); in another format it starts afresh. A take it feeds goes on, on its
  // own, when it stops or starts afresh.
  virtual ErrorCode StartPreRoll(const CaptureFormat& format, std::uint32_t keepMs) = 0;
  virtual void StopPreRoll() = 0;
  virtual bool preRollRunning() const = 0;
};

}  // namespace voxtar::audio
