// SPDX-License-Identifier: GPL-3.0-or-later
// The real audio engine: a PulseAudio client (libpulse's asynchronous API on its threaded main
// loop; PipeWire's PulseAudio service serves it the same way), libsndfile for the WAV files.
//
// An open device holds its element in memory (the file's exact format and its frames); the file
// itself is only ever read. Playing streams the element's frames to the output and posts the
// completion notice once the server has drained the stream and the output's own latency has
// passed, so never before the last frame was played. Recording captures in the element's own
// sample format, rate and channels (the server converts) in 10 ms fragments, and overwrites the
// element from the start position on, extending it, until the take limit: there it stops
// capturing and posts a RecordingNotice. Running out of memory for a fragment ends the recording
// like a lost input. Saving writes the element atomically in its own format.
//
// The kept-open input (StartPreRoll) is one more capturing stream; what every stream captures
// goes to the TakeRecorder, which stores the takes, keeps the input's last frames for the next one
// and says what to tell the GUI thread.
// Warm starts connecting without waiting; the first command then waits only for what is left.
//
// The server may go away at any time (restarted by an update, a headset, the user). Every stream
// then ends: a playback with a Failure notice, a recording with an error that the next Stop
// reports, keeping what was captured. The next call that needs the server connects afresh, so
// the program goes on without a restart.
//
// Ownership: the program makes one engine and hands it to the dialog; it owns its devices, each
// device its element and streams. Threads: every public call comes from the GUI thread. libpulse
// runs a thread of its own; stream callbacks run there and touch devices only under the main
// loop's lock, which every public call takes too. What goes back to the GUI thread (notices) is
// queued to this object's thread. The GUI thread never waits without a bound: connecting and a
// stream's start wait at most kServerWaitMs, a recording's Stop at most kStopCatchUpMs, and
// nothing else waits at all. A stream whose start timed out is set aside until the server
// answers, then disconnected, so a late server never leaves a microphone open.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <atomic>
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

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;
struct pa_time_event;

namespace voxtar::audio {

class PulseAudioEngine final : public QObject, public AudioEngine, private TakeReports {
  Q_OBJECT

 public:
  // How long a call may wait for the server: to connect, to list devices, to start a stream.
  static constexpr int kServerWaitMs = 300;
  // How long Stop waits for the fragment still on its way, so the last syllable is kept.
  static constexpr int kStopCatchUpMs = 25;

  // `iconName`: the icon a desktop shows beside the program's streams.
  explicit PulseAudioEngine(std::string iconName = "voxtar", QObject* parent = nullptr);
  ~PulseAudioEngine() override;
  PulseAudioEngine(const PulseAudioEngine&) = delete;
  PulseAudioEngine& operator=(const PulseAudioEngine&) = delete;

  ErrorCode Open(std::u16string_view element, DeviceId* device) override;
  ErrorCode QueryLength(DeviceId id, std::uint32_t* lengthMs) override;
  ErrorCode Play(DeviceId id, std::uint32_t fromMs, std::optional<std::uint32_t> toMs,
                 QObject* notify) override;
  ErrorCode Record(DeviceId id, std::uint32_t fromMs, QObject* notify) override;
  ErrorCode Stop(DeviceId id) override;
  ErrorCode FinishRecording(DeviceId id, std::uint32_t afterMs) override;
  std::uint64_t PressFrame(DeviceId id) override;
  std::shared_ptr<const WaveElement> Content(DeviceId id) override;
  std::uint64_t CapturedFrames(DeviceId id) override;
  ErrorCode Close(DeviceId id) override;
  QString ErrorText(ErrorCode error) override;
  std::vector<SoundDevice> Devices(Direction direction) override;
  void ChooseDevice(Direction direction, const std::string& name) override;
  std::string ChosenDevice(Direction direction) const override;
  void SetMediaName(DeviceId device, std::u16string_view name) override;
  void SetTakeLimitBytes(std::uint64_t bytes) override { takeLimitBytes_ = bytes; }
  std::uint64_t takeLimitBytes() const override { return takeLimitBytes_; }
  void SetLevelListener(QObject* listener) override;
  void SetCaptureListener(QObject* listener) override;
  ErrorCode StartLevelCheck(const CaptureFormat& format) override;
  void StopLevelCheck() override;
  bool levelCheckRunning() const override;
  void Warm() override;
  ErrorCode StartPreRoll(const CaptureFormat& format, std::uint32_t keepMs) override;
  void StopPreRoll() override;
  bool preRollRunning() const override;

  // When things happened on a device, for measuring latency (steady clock, nanoseconds; 0 when
  // it has not happened yet). Reset by each Play and each Record; what a recording captured
  // (firstCapture, its frames, capturedFrames) by the next Record.
  struct Timings {
    std::int64_t recordCalled = 0;
    // The first captured bytes arrived (at Record when the kept-open input had frames for it).
    std::int64_t firstCapture = 0;
    std::uint64_t firstCaptureFrames = 0;  // how many frames they held
    std::uint64_t capturedFrames = 0;      // frames captured by the current or last recording
    // The capture callback: how often it ran for the recording, its time in all and at worst.
    std::uint64_t captureCalls = 0;
    std::int64_t captureNs = 0;
    std::int64_t worstCaptureNs = 0;
    std::int64_t playCalled = 0;
    std::int64_t soundStarted = 0;     // the server started playing the stream
    std::int64_t lastFramePlayed = 0;  // the server drained the stream and its output latency
    std::int64_t noticePosted = 0;
    std::uint64_t playedFrames = 0;  // frames in the played range
  };
  Timings timings(DeviceId device) const;

  // How often the connection to the server was made (the first one included): tells a test
  // that the engine really reconnected.
  int connections() const { return connections_.load(); }
  // Streams whose start timed out and that wait for the server's answer to be disconnected.
  std::size_t streamsSetAside() const;

 private:
  struct Device;

  // Everything below runs with the main loop's lock held, on either thread.

  // Connects to the server when there is no working connection (bounded wait; GUI thread).
  ErrorCode Connect();
  // Starts connecting anew unless a connection is there or on its way (no wait).
  ErrorCode StartConnecting();
  // The connection is ready: the watch over streams starts.
  void Ready();
  void DropContext();
  // Keeps a stream whose start timed out until the server answers, then disconnects it.
  void SetAside(pa_stream*& stream);
  Device* Find(DeviceId device);
  // The common course of a command on an open device (GUI thread): the lock, then `body` on the
  // device, or the invalid-device error.
  ErrorCode WithDevice(DeviceId id, const std::function<ErrorCode(Device&)>& body);
  // Starts a playback or recording stream on the chosen device or, if it is not there, the
  // default one (bounded wait; GUI thread).
  ErrorCode StartStream(Device& device, Direction direction);
  // An input that captures without a take of its own (the level check, the kept-open input),
  // and the start of its stream.
  std::unique_ptr<Device> NewInput(const CaptureFormat& format, std::string name);
  ErrorCode StartInput(Device& input);
  // Ends a starting or running playback; its notice is posted at once on the GUI thread, and
  // queued to it from the main loop's thread.
  void EndPlayback(Device& device, NotifyCode code);
  void FlushNotice(Device& device);
  void DeliverPlaybackNotice(DeviceId id, std::uint64_t serial);
  // Stop's course on a device.
  ErrorCode StopDevice(Device& device);
  // Waits (bounded) for the fragment still on its way to a running recording.
  void CatchUp(Device& device);
  // Ends the kept-open input; the take it fed goes on with its stream.
  void EndPreRoll();
  // Ends the device's stream, and with it what it captured for (its take stops capturing).
  void EndRecording(Device& device);
  // Ends a stream that lost its input or found no memory: the next Stop of the take says why.
  void CutShort(Device& device, AudioError cause, const QString& text);
  // What a stream captured, to the recorder; false once the device's take stopped capturing.
  bool TakeIn(Device& device, std::span<const std::byte> bytes);
  void DeliverNotice(DeviceId id);
  // The take fed by the kept-open input gets its stream, and goes on alone.
  void HandOver(Device& preRoll);
  void ServerLost(const QString& why);
  // What the recorder reports, on its way to the GUI thread's listeners (either thread).
  void Level(const LevelSummary& summary) override;
  void Captured(const CaptureFormat& format, std::vector<std::byte> frames, bool kept) override;
  void Ended(DeviceId id, RecordingCode code) override;
  void EndLevelCheck();
  // Ends streams whose input or output stopped moving.
  void Watch();

  // libpulse callbacks (main loop thread).
  static void OnContextState(pa_context* context, void* data);
  static void OnStreamState(pa_stream* stream, void* data);
  static void OnSetAsideState(pa_stream* stream, void* data);
  static void OnReadable(pa_stream* stream, std::size_t bytes, void* data);
  static void OnWritable(pa_stream* stream, std::size_t bytes, void* data);
  static void OnDrained(pa_stream* stream, int success, void* data);
  static void OnTiming(pa_stream* stream, int success, void* data);

  std::string iconName_;
  pa_threaded_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
  pa_time_event* watch_ = nullptr;
  std::map<DeviceId, std::unique_ptr<Device>> devices_;  // changed only under the lock
  std::unique_ptr<Device> levelCheck_;                   // an input measured and not kept
  std::unique_ptr<Device> preRoll_;                      // the kept-open input
  std::vector<pa_stream*> setAside_;                     // owned; changed only under the lock
  QPointer<QObject> levelListener_;                      // GUI thread only
  QPointer<QObject> captureListener_;                    // GUI thread only
  TakeRecorder recorder_;                                // under the lock
  ErrorBook errors_;
  DeviceId nextId_ = 1;
  std::string chosenInput_;
  std::string chosenOutput_;
  std::uint64_t takeLimitBytes_ = kWaveDataLimit;  // GUI thread only
  std::atomic<int> connections_ = 0;               // counted on the main loop's thread
};

}  // namespace voxtar::audio
