// SPDX-License-Identifier: GPL-3.0-or-later
// An audio engine without sound hardware, for tests: deterministic and driven by a clock the test
// advances. Elements are real WAV files (read with libsndfile through the same code as the real
// engine) or elements a test registers in memory. Playing takes clock time and posts its
// PlaybackNotice when the clock passes its end. Its inputs are streams of a synthetic signal that
// deliver, as the clock advances, the frames due by then, frame exact, to the same TakeRecorder
// the real engine feeds: what becomes of them (takes, their limit and notices, the kept-open
// input) is the recorder's. Any command can be made to fail with a chosen error code and text,
// and so can the next allocation of captured sound; every command is logged with its arguments.
//
// Ownership: the test owns the engine and passes it to WaveDevice or the dialog. Threads: GUI
// thread only; notices are posted with QCoreApplication::postEvent and arrive when the test
// processes events.
#pragma once

#include <QPointer>
#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "audio/audio_engine.h"
#include "audio/audio_errors.h"
#include "audio/take_recorder.h"
#include "audio/wave_element.h"

namespace voxtar::audio {

class SimulatedAudioEngine final : public AudioEngine, private TakeReports {
 public:
  enum class Command {
    Open,
    QueryLength,
    Play,
    Record,
    Stop,
    Close,
    FinishRecording,
    StartPreRoll,
  };

  struct Call {
    Command command = Command::Open;
    DeviceId device = 0;
    std::u16string path;              // Open
    std::uint32_t from = 0;           // Play, Record; afterMs, keepMs
    std::optional<std::uint32_t> to;  // Play
    QObject* notify = nullptr;        // Play, Record
    ErrorCode result = kNoError;
  };

  SimulatedAudioEngine();
  ~SimulatedAudioEngine() override;

  ErrorCode Open(std::u16string_view element, DeviceId* device) override;
  ErrorCode QueryLength(DeviceId device, std::uint32_t* lengthMs) override;
  ErrorCode Play(DeviceId device, std::uint32_t fromMs, std::optional<std::uint32_t> toMs,
                 QObject* notify) override;
  ErrorCode Record(DeviceId device, std::uint32_t fromMs, QObject* notify) override;
  ErrorCode Stop(DeviceId device) override;
  ErrorCode FinishRecording(DeviceId device, std::uint32_t afterMs) override;
  std::uint64_t PressFrame(DeviceId device) override;
  std::shared_ptr<const WaveElement> Content(DeviceId device) override;
  std::uint64_t CapturedFrames(DeviceId device) override;
  ErrorCode Close(DeviceId device) override;
  QString ErrorText(ErrorCode error) override;
  std::vector<SoundDevice> Devices(Direction direction) override;
  void ChooseDevice(Direction direction, const std::string& name) override;
  std::string ChosenDevice(Direction direction) const override;
  void SetMediaName(DeviceId device, std::u16string_view name) override;
  void SetTakeLimitBytes(std::uint64_t bytes) override { takeLimitBytes_ = bytes; }
  std::uint64_t takeLimitBytes() const override { return takeLimitBytes_; }
  void SetLevelListener(QObject* listener) override { levelListener_ = listener; }
  void SetCaptureListener(QObject* listener) override;
  ErrorCode StartLevelCheck(const CaptureFormat& format) override;
  void StopLevelCheck() override;
  bool levelCheckRunning() const override { return levelCheck_.has_value(); }
  void Warm() override { warmed_ = true; }
  ErrorCode StartPreRoll(const CaptureFormat& format, std::uint32_t keepMs) override;
  void StopPreRoll() override;
  bool preRollRunning() const override { return preRoll_.has_value(); }

  // --- Driving the simulation ---

  // Moves the clock on: recordings, the level check and the kept-open input capture the tone (a
  // LevelNotice for each step), playbacks whose end is passed post their notice (code 1).
  void Advance(std::uint32_t ms);
  std::uint64_t nowMs() const { return nowMs_; }

  // The next call of `command` fails with `error` (a code the test chooses, not 0) and `text`.
  void FailNext(Command command, ErrorCode error, const QString& text);
  // Every call of `command` fails until ClearFailures.
  void FailAlways(Command command, ErrorCode error, const QString& text);
  void ClearFailures();
  // The next time a recording stores what it captured, there is no memory for it: the recording
  // ends keeping what it held, and its Stop reports it.
  void FailNextCaptureAllocation() { recorder_.FailNextStore(); }

  // The signal recorded: a sine of `frequency` Hz at `amplitude` (0..1 of full scale).
  void SetInputTone(double frequency, double amplitude);
  // The signal recorded instead: its value at a time of the clock in seconds (1.0 = full scale,
  // the same on every channel), until SetInputTone.
  void SetInputSignal(std::function<double(double seconds)> signal);
  // An element Open finds under `path` before looking on disk (no file needed).
  void AddElement(std::u16string_view path, WaveElement element);
  // The device's sound output or input goes away: a playback ends with a Failure notice, a
  // recording stops capturing and its Stop reports the loss.
  void LoseDevice(DeviceId device);
  // The input goes away: the kept-open input and the level check end, and the take the kept-open
  // input feeds stops capturing (its Stop reports the loss).
  void LoseInput();
  // The inputs or outputs the sound system has (none at first). A chosen device missing from
  // them gives way to the default when a stream starts.
  void SetDevices(Direction direction, std::vector<SoundDevice> devices);

  // --- Inspection ---

  const std::vector<Call>& calls() const { return calls_; }
  void ClearCalls() { calls_.clear(); }
  // The commands of the log, in order.
  std::vector<Command> commands() const;
  bool isOpen(DeviceId device) const { return devices_.count(device) != 0; }
  bool isPlaying(DeviceId device) const;
  bool isRecording(DeviceId device) const;
  std::size_t openDevices() const { return devices_.size(); }
  // The device's element as it stands (null when not open).
  const WaveElement* element(DeviceId device) const;
  // The sound system's name of the input or output the device's last stream used (empty: the
  // default), and what its media was named.
  std::string streamDevice(DeviceId device) const;
  std::u16string mediaName(DeviceId device) const;
  bool warmed() const { return warmed_; }
  // The kept-open input's format and length kept (none when it does not run), and the frames
  // it holds.
  std::optional<CaptureFormat> preRollFormat() const;
  std::uint32_t preRollKeepMs() const { return preRoll_ ? preRoll_->keepMs : 0; }
  std::size_t preRollHeldFrames() const { return recorder_.keptFrames(); }

 private:
  // An input: the signal as captured in `format` from `startMs` of the clock on.
  struct Stream {
    CaptureFormat format;
    std::uint64_t startMs = 0;
    std::uint64_t frames = 0;  // delivered so far
  };

  struct Device {
    std::u16string path;
    WaveElement element;
    // Playback: [playFrom, playTo) in ms of clock time from playStart.
    bool playing = false;
    std::uint64_t playStart = 0;
    std::uint64_t playDuration = 0;
    QPointer<QObject> notify;
    Take take;
    std::optional<Stream> input;  // the take's own; none while the kept-open input feeds it
    QPointer<QObject> recordNotify;
    std::string streamDevice;  // input or output of the last stream
    std::u16string mediaName;
  };

  struct Failure {
    ErrorCode error;
    QString text;
    bool always;
  };

  ErrorCode Log(Call call);
  std::optional<ErrorCode> Injected(Command command);
  // The common course of a command on an open device: an injected failure, or `body` on the
  // device, or the invalid-device error; the call is logged with its result either way.
  ErrorCode Run(Call call, const std::function<ErrorCode(Device&)>& body);
  Device* Find(DeviceId device);
  void EndPlayback(DeviceId id, Device& device, NotifyCode code);
  // Stop's course on a device.
  ErrorCode StopDevice(DeviceId id, Device& device);
  // The device's input delivers what is due by now.
  void Capture(Device& device);
  // The take stops capturing and its stream goes.
  void EndCapture(Device& device);
  // The frames of the signal the stream captured since it was last asked.
  std::vector<std::byte> Due(Stream& stream) const;
  // The kept-open input delivers what is due by now.
  void CapturePreRoll();
  // The chosen device when the sound system has it, else the default (empty).
  std::string DeviceFor(Direction direction) const;

  // What the recorder reports, posted at once.
  void Level(const LevelSummary& summary) override;
  void Captured(const CaptureFormat& format, std::vector<std::byte> frames, bool kept) override;
  void Ended(DeviceId device, RecordingCode code) override;

  std::map<DeviceId, Device> devices_;
  std::map<std::u16string, WaveElement> memoryElements_;
  std::map<Command, Failure> failures_;
  std::map<ErrorCode, QString> injectedTexts_;
  std::vector<Call> calls_;
  ErrorBook errors_;
  DeviceId nextId_ = 1;
  std::uint64_t nowMs_ = 0;
  double toneFrequency_ = 440.0;
  double toneAmplitude_ = 0.5;
  std::map<Direction, std::vector<SoundDevice>> soundDevices_;
  std::map<Direction, std::string> chosen_;
  std::uint64_t takeLimitBytes_ = kWaveDataLimit;
  bool warmed_ = false;
  QPointer<QObject> levelListener_;
  QPointer<QObject> captureListener_;
  std::function<double(double)> inputSignal_;
  std::optional<Stream> levelCheck_;
  struct PreRoll {
    Stream input;
    std::uint32_t keepMs = 0;
  };
  std::optional<PreRoll> preRoll_;
  TakeRecorder recorder_;
};

}  // namespace voxtar::audio
