#include "audio/pulse_audio_engine.h"

#include <pulse/pulseaudio.h>

#include <QCoreApplication>
#include <QPointer>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <functional>
#include <type_traits>
#include <utility>
#include <vector>

#include "audio/wave_element.h"

namespace voxtar::audio {

namespace {

// Capture fragment: the server hands over what it captured every this many milliseconds, so the
// take starts with the first syllable and a Stop loses next to nothing.
constexpr pa_usec_t kFragmentUs = 10'000;
// Playback buffer the server keeps filled: small, so the output's own latency (which the notice
// waits out) stays small; enough for a busy machine, as the main loop thread feeds it from
// memory, never the GUI thread.
constexpr pa_usec_t kPlaybackBufferUs = 25'000;
// How often running streams are checked for an input or output that stopped moving.
constexpr pa_usec_t kWatchUs = 100'000;
// An input that delivers nothing, or an output that asks for nothing, for this long is lost.
constexpr std::int64_t kStalledNs = 2'000'000'000;

std::int64_t Now() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

QString Text(const char* text) {
  return QString::fromUtf8(text != nullptr ? text : "unknown error");
}

QString FormatText(const WaveElement& element) {
  static constexpr const char* kKinds[] = {"8-bit", "16-bit", "32-bit", "32-bit float"};
  return QStringLiteral("%1 Hz, %2 channel(s), %3")
      .arg(element.sampleRate)
      .arg(element.channels)
      .arg(QLatin1String(kKinds[static_cast<int>(element.kind)]));
}

pa_sample_spec SpecOf(const WaveElement& element) {
  pa_sample_spec spec{};
  switch (element.kind) {
    case SampleKind::UInt8:
      spec.format = PA_SAMPLE_U8;
      break;
    case SampleKind::Int16:
      spec.format = PA_SAMPLE_S16NE;
      break;
    case SampleKind::Int32:
      spec.format = PA_SAMPLE_S32NE;
      break;
    case SampleKind::Float:
      spec.format = PA_SAMPLE_FLOAT32NE;
      break;
  }
  spec.rate = static_cast<std::uint32_t>(std::max(element.sampleRate, 0));
  spec.channels = static_cast<std::uint8_t>(std::clamp(element.channels, 0, 255));
  return spec;
}

// The main loop's lock for a scope of a public call.
class MainLoopLock {
 public:
  explicit MainLoopLock(pa_threaded_mainloop* loop) : loop_(loop) {
    pa_threaded_mainloop_lock(loop_);
  }
  ~MainLoopLock() { pa_threaded_mainloop_unlock(loop_); }
  MainLoopLock(const MainLoopLock&) = delete;
  MainLoopLock& operator=(const MainLoopLock&) = delete;

 private:
  pa_threaded_mainloop* loop_;
};

// Waits on the main loop (its lock held) until `done` holds or `timeoutMs` passed; whether it
// holds. Every callback that changes what is waited for signals the loop.
bool WaitFor(pa_threaded_mainloop* loop, int timeoutMs, const std::function<bool()>& done) {
  if (done()) {
    return true;
  }
  struct Timer {
    pa_threaded_mainloop* loop;
    bool expired = false;
  } timer{loop};
  pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop);
  timeval when{};
  pa_gettimeofday(&when);
  pa_timeval_add(&when, static_cast<pa_usec_t>(timeoutMs) * 1000);
  pa_time_event* event = api->time_new(
      api, &when,
      [](pa_mainloop_api*, pa_time_event*, const timeval*, void* data) {
        auto* expiring = static_cast<Timer*>(data);
        expiring->expired = true;
        pa_threaded_mainloop_signal(expiring->loop, 0);
      },
      &timer);
  while (!done() && !timer.expired) {
    pa_threaded_mainloop_wait(loop);
  }
  api->time_free(event);
  return done();
}

void CancelOperation(pa_operation*& operation) {
  if (operation != nullptr) {
    pa_operation_cancel(operation);
    pa_operation_unref(operation);
    operation = nullptr;
  }
}

// Disconnects a stream without waiting and forgets it; its callbacks never run again.
void ReleaseStream(pa_stream*& stream) {
  if (stream == nullptr) {
    return;
  }
  pa_stream_set_state_callback(stream, nullptr, nullptr);
  pa_stream_set_write_callback(stream, nullptr, nullptr);
  pa_stream_set_read_callback(stream, nullptr, nullptr);
  pa_stream_set_started_callback(stream, nullptr, nullptr);
  if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) {
    pa_stream_disconnect(stream);
  }
  pa_stream_unref(stream);
  stream = nullptr;
}

}  // namespace

struct PulseAudioEngine::Device {
  PulseAudioEngine* engine = nullptr;
  DeviceId id = 0;
  std::u16string path;
  std::string mediaName;  // UTF-8, what the streams are named after
  WaveElement element;
  Timings timings;

  // Playback. Starting: the stream is being set up (it may already take data); Running: the
  // sound plays; Finished: it ended and its notice is on its way to the GUI thread.
  enum class PlayState { Idle, Starting, Running, Finished };
  PlayState play = PlayState::Idle;
  pa_stream* output = nullptr;
  pa_operation* drain = nullptr;
  pa_operation* timing = nullptr;
  pa_time_event* tail = nullptr;  // waits out the output's latency after the drain
  QPointer<QObject> notify;       // GUI thread only
  NotifyCode finished = NotifyCode::Successful;
  std::uint64_t playSerial = 0;  // tells a late notice of an earlier playback apart
  std::uint64_t playNext = 0;    // next frame to hand to the server
  std::uint64_t playEnd = 0;     // frame after the last one to play
  bool draining = false;
  std::int64_t lastRequest = 0;  // when the server last asked for data
  std::int64_t deadline = 0;     // a playback still running then has failed

  // Recording.
  enum class RecordState { Idle, Starting, Running };
  RecordState record = RecordState::Idle;
  pa_stream* input = nullptr;
  std::uint64_t recordNext = 0;                        // frame the next captured frame overwrites
  std::vector<std::byte> partial;                      // captured bytes short of a whole frame
  std::int64_t lastCapture = 0;                        // when captured data last came in
  std::optional<std::pair<AudioError, QString>> lost;  // told by the next Stop
  bool measureOnly = false;  // the level check: captured blocks are measured, not kept

  void Capture(const std::byte* data, std::size_t size);
};

void PulseAudioEngine::Device::Capture(const std::byte* data, std::size_t size) {
  const std::size_t frameBytes = element.bytesPerFrame();
  std::vector<std::byte> joined;
  if (!partial.empty()) {
    joined.reserve(partial.size() + size);
    joined.insert(joined.end(), partial.begin(), partial.end());
    joined.insert(joined.end(), data, data + size);
    partial.clear();
    data = joined.data();
    size = joined.size();
  }
  const std::size_t whole = size - size % frameBytes;
  partial.assign(data + whole, data + size);
  lastCapture = Now();
  if (whole == 0) {
    return;
  }
  engine->PostLevel(SummarizeBlock(std::span(data, whole), element.channels, element.kind));
  if (measureOnly) {
    return;
  }
  element.Overwrite(recordNext, data, whole);
  const std::uint64_t frames = whole / frameBytes;
  if (timings.firstCapture == 0) {
    timings.firstCapture = lastCapture;
    timings.firstCaptureFrames = frames;
  }
  recordNext += frames;
  timings.capturedFrames += frames;
}

PulseAudioEngine::PulseAudioEngine(std::string iconName, QObject* parent)
    : QObject(parent), iconName_(std::move(iconName)) {
  loop_ = pa_threaded_mainloop_new();
  if (loop_ != nullptr && pa_threaded_mainloop_start(loop_) < 0) {
    pa_threaded_mainloop_free(loop_);
    loop_ = nullptr;
  }
}

PulseAudioEngine::~PulseAudioEngine() {
  if (loop_ == nullptr) {
    return;
  }
  {
    MainLoopLock lock(loop_);
    for (auto& [id, device] : devices_) {
      EndRecording(*device);
      CancelOperation(device->drain);
      CancelOperation(device->timing);
      if (device->tail != nullptr) {
        pa_threaded_mainloop_get_api(loop_)->time_free(device->tail);
        device->tail = nullptr;
      }
      ReleaseStream(device->output);
    }
    devices_.clear();
    EndLevelCheck();
    DropContext();
  }
  pa_threaded_mainloop_stop(loop_);
  pa_threaded_mainloop_free(loop_);
}

PulseAudioEngine::Device* PulseAudioEngine::Find(DeviceId device) {
  auto it = devices_.find(device);
  return it == devices_.end() ? nullptr : it->second.get();
}

// ---- The connection ----------------------------------------------------------------------------

ErrorCode PulseAudioEngine::Connect() {
  if (loop_ == nullptr) {
    return errors_.Make(AudioError::NoSoundSystem,
                        QStringLiteral("No sound system is available: the sound client library "
                                       "could not start its thread."));
  }
  if (context_ != nullptr && pa_context_get_state(context_) == PA_CONTEXT_READY) {
    return kNoError;
  }
  // A connection that failed, or that ended with the server, is made afresh.
  DropContext();
  pa_proplist* properties = pa_proplist_new();
  pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "Voxtar");
  pa_proplist_sets(properties, PA_PROP_APPLICATION_ICON_NAME, iconName_.c_str());
  pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, iconName_.c_str());
  pa_proplist_sets(properties, PA_PROP_APPLICATION_VERSION,
                   QCoreApplication::applicationVersion().toUtf8().constData());
  context_ =
      pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop_), "Voxtar", properties);
  pa_proplist_free(properties);
  if (context_ == nullptr) {
    return errors_.Make(AudioError::OutOfMemory);
  }
  pa_context_set_state_callback(context_, &PulseAudioEngine::OnContextState, this);
  QString why;
  if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOFLAGS, nullptr) < 0) {
    why = Text(pa_strerror(pa_context_errno(context_)));
  } else {
    const bool settled = WaitFor(loop_, kServerWaitMs, [this] {
      const pa_context_state_t state = pa_context_get_state(context_);
      return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
    });
    if (pa_context_get_state(context_) == PA_CONTEXT_READY) {
      ++connections_;
      watch_ = pa_context_rttime_new(
          context_, pa_rtclock_now() + kWatchUs,
          [](pa_mainloop_api*, pa_time_event* event, const timeval*, void* data) {
            auto* engine = static_cast<PulseAudioEngine*>(data);
            engine->Watch();
            pa_context_rttime_restart(engine->context_, event, pa_rtclock_now() + kWatchUs);
          },
          this);
      return kNoError;
    }
    why = settled ? Text(pa_strerror(pa_context_errno(context_)))
                  : QStringLiteral("the sound server does not answer");
  }
  DropContext();
  return errors_.Make(AudioError::NoSoundSystem,
                      QStringLiteral("No sound system is available: %1.").arg(why));
}

void PulseAudioEngine::DropContext() {
  if (context_ == nullptr) {
    return;
  }
  for (auto& [id, device] : devices_) {
    // Streams belong to the connection; any still here end with it.
    if (device->output != nullptr) {
      EndPlayback(*device, NotifyCode::Failure);
      ReleaseStream(device->output);
    }
    if (device->input != nullptr) {
      EndRecording(*device);
    }
  }
  EndLevelCheck();
  if (watch_ != nullptr) {
    pa_threaded_mainloop_get_api(loop_)->time_free(watch_);
    watch_ = nullptr;
  }
  pa_context_set_state_callback(context_, nullptr, nullptr);
  pa_context_disconnect(context_);
  pa_context_unref(context_);
  context_ = nullptr;
}

void PulseAudioEngine::OnContextState(pa_context* context, void* data) {
  auto* engine = static_cast<PulseAudioEngine*>(data);
  pa_threaded_mainloop_signal(engine->loop_, 0);
  if (context != engine->context_ || PA_CONTEXT_IS_GOOD(pa_context_get_state(context))) {
    return;
  }
  engine->ServerLost(Text(pa_strerror(pa_context_errno(context))));
}

void PulseAudioEngine::ServerLost(const QString& why) {
  for (auto& [id, device] : devices_) {
    if (device->record == Device::RecordState::Running) {
      device->lost = {AudioError::InputFailed,
                      QStringLiteral("The recording was cut short: the connection to the sound "
                                     "server was lost (%1). What was captured until then is kept.")
                          .arg(why)};
      EndRecording(*device);
    }
    if (device->play == Device::PlayState::Running) {
      EndPlayback(*device, NotifyCode::Failure);
    }
  }
  if (watch_ != nullptr) {
    pa_threaded_mainloop_get_api(loop_)->time_free(watch_);
    watch_ = nullptr;
  }
}

void PulseAudioEngine::Watch() {
  const std::int64_t now = Now();
  for (auto& [id, device] : devices_) {
    if (device->record == Device::RecordState::Running && now - device->lastCapture > kStalledNs) {
      device->lost = {AudioError::InputFailed,
                      QStringLiteral("The recording was cut short: the audio input delivered no "
                                     "sound for 2 seconds. What was captured until then is kept.")};
      EndRecording(*device);
    }
    if (device->play == Device::PlayState::Running &&
        ((!device->draining && now - device->lastRequest > kStalledNs) || now > device->deadline)) {
      EndPlayback(*device, NotifyCode::Failure);
    }
  }
}

// ---- Devices of the sound system -------------------------------------------------------------

namespace {

// What a device listing collects; the loop is signalled when it is complete.
struct DeviceListing {
  pa_threaded_mainloop* loop;
  std::vector<SoundDevice> devices;
  bool done = false;
};

// One entry of a source or sink listing (main loop thread).
template <typename Info>
void CollectDevice(pa_context* /*context*/, const Info* info, int last, void* data) {
  auto* into = static_cast<DeviceListing*>(data);
  if (last != 0 || info == nullptr) {
    into->done = true;
    pa_threaded_mainloop_signal(into->loop, 0);
    return;
  }
  if constexpr (std::is_same_v<Info, pa_source_info>) {
    // A monitor is what an output plays, not a microphone.
    if (info->monitor_of_sink != PA_INVALID_INDEX) {
      return;
    }
  }
  into->devices.push_back({info->name, Text(info->description)});
}

}  // namespace

std::vector<SoundDevice> PulseAudioEngine::Devices(Direction direction) {
  if (loop_ == nullptr) {
    return {};
  }
  MainLoopLock lock(loop_);
  if (Connect() != kNoError) {
    return {};
  }
  DeviceListing listing{loop_, {}, false};
  pa_operation* operation =
      direction == Direction::Input
          ? pa_context_get_source_info_list(context_, &CollectDevice<pa_source_info>, &listing)
          : pa_context_get_sink_info_list(context_, &CollectDevice<pa_sink_info>, &listing);
  if (operation == nullptr) {
    return {};
  }
  WaitFor(loop_, kServerWaitMs, [&listing] { return listing.done; });
  // The listing lives on this stack: no callback may reach it after the wait.
  CancelOperation(operation);
  return listing.done ? listing.devices : std::vector<SoundDevice>{};
}

void PulseAudioEngine::ChooseDevice(Direction direction, const std::string& name) {
  (direction == Direction::Input ? chosenInput_ : chosenOutput_) = name;
}

std::string PulseAudioEngine::ChosenDevice(Direction direction) const {
  return direction == Direction::Input ? chosenInput_ : chosenOutput_;
}

void PulseAudioEngine::SetMediaName(DeviceId device, std::u16string_view name) {
  if (loop_ == nullptr) {
    return;
  }
  MainLoopLock lock(loop_);
  if (Device* found = Find(device)) {
    found->mediaName =
        QString::fromUtf16(name.data(), static_cast<qsizetype>(name.size())).toStdString();
  }
}

// ---- The level check ---------------------------------------------------------------------------

void PulseAudioEngine::SetLevelListener(QObject* listener) {
  levelListener_ = listener;
}

void PulseAudioEngine::PostLevel(const LevelSummary& summary) {
  if (QThread::currentThread() == thread()) {
    if (levelListener_ != nullptr) {
      QCoreApplication::postEvent(levelListener_, new LevelNotice(summary));
    }
    return;
  }
  QMetaObject::invokeMethod(
      this, [this, summary] { PostLevel(summary); }, Qt::QueuedConnection);
}

ErrorCode PulseAudioEngine::StartLevelCheck(const CaptureFormat& format) {
  if (loop_ == nullptr) {
    return Connect();
  }
  MainLoopLock lock(loop_);
  EndLevelCheck();
  if (const ErrorCode error = Connect(); error != kNoError) {
    return error;
  }
  auto check = std::make_unique<Device>();
  check->engine = this;
  check->measureOnly = true;
  check->mediaName = "level check";
  check->element.kind = format.kind;
  check->element.sampleRate = format.sampleRate;
  check->element.channels = format.channels;
  check->lastCapture = Now();
  check->record = Device::RecordState::Starting;
  if (const ErrorCode error = StartStream(*check, Direction::Input); error != kNoError) {
    return error;
  }
  check->record = Device::RecordState::Running;
  levelCheck_ = std::move(check);
  return kNoError;
}

void PulseAudioEngine::StopLevelCheck() {
  if (loop_ != nullptr) {
    MainLoopLock lock(loop_);
    EndLevelCheck();
  }
}

void PulseAudioEngine::EndLevelCheck() {
  if (levelCheck_ != nullptr) {
    EndRecording(*levelCheck_);
    levelCheck_.reset();
  }
}

bool PulseAudioEngine::levelCheckRunning() const {
  if (loop_ == nullptr) {
    return false;
  }
  MainLoopLock lock(loop_);
  return levelCheck_ != nullptr && levelCheck_->record == Device::RecordState::Running;
}

// ---- Streams ------------------------------------------------------------------------------------

ErrorCode PulseAudioEngine::StartStream(Device& device, Direction direction) {
  const bool input = direction == Direction::Input;
  const WaveElement& element = device.element;
  const pa_sample_spec spec = SpecOf(element);
  pa_channel_map map{};
  if (pa_sample_spec_valid(&spec) == 0 ||
      pa_channel_map_init_extend(&map, spec.channels, PA_CHANNEL_MAP_DEFAULT) == nullptr) {
    return errors_.Make(
        AudioError::UnsupportedFormat,
        QStringLiteral("The sound system cannot %1 %2.")
            .arg(input ? QStringLiteral("record") : QStringLiteral("play"), FormatText(element)));
  }
  const std::string name = (input ? "Recording " : "Playing ") + device.mediaName;
  const std::string chosen = input ? chosenInput_ : chosenOutput_;
  pa_stream*& slot = input ? device.input : device.output;

  // The chosen device first; one that is not there (unplugged since it was chosen) gives way to
  // the default without troubling the operator.
  for (const std::string& target : {chosen, std::string()}) {
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_MEDIA_ROLE, "production");
    pa_proplist_sets(properties, PA_PROP_MEDIA_NAME, name.c_str());
    slot = pa_stream_new_with_proplist(context_, name.c_str(), &spec, &map, properties);
    pa_proplist_free(properties);
    if (slot == nullptr) {
      return errors_.Make(AudioError::OutOfMemory);
    }
    pa_stream_set_state_callback(slot, &PulseAudioEngine::OnStreamState, &device);
    pa_stream_set_started_callback(
        slot,
        [](pa_stream*, void* data) {
          auto* started = static_cast<Device*>(data);
          if (started->timings.soundStarted == 0) {
            started->timings.soundStarted = Now();
          }
        },
        &device);
    pa_buffer_attr attributes{};
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.tlength = static_cast<std::uint32_t>(-1);
    attributes.prebuf = static_cast<std::uint32_t>(-1);
    attributes.minreq = static_cast<std::uint32_t>(-1);
    attributes.fragsize = static_cast<std::uint32_t>(-1);
    const char* deviceName = target.empty() ? nullptr : target.c_str();
    int connected = 0;
    if (input) {
      pa_stream_set_read_callback(slot, &PulseAudioEngine::OnReadable, &device);
      attributes.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(kFragmentUs, &spec));
      // A take must not come from two microphones: a stream whose input goes away ends.
      connected = pa_stream_connect_record(
          slot, deviceName, &attributes,
          static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE));
    } else {
      pa_stream_set_write_callback(slot, &PulseAudioEngine::OnWritable, &device);
      attributes.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(kPlaybackBufferUs, &spec));
      connected = pa_stream_connect_playback(slot, deviceName, &attributes,
                                             PA_STREAM_ADJUST_LATENCY, nullptr, nullptr);
    }
    pa_stream* stream = slot;
    const bool settled = connected == 0 && WaitFor(loop_, kServerWaitMs, [stream] {
                           const pa_stream_state_t state = pa_stream_get_state(stream);
                           return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
                         });
    if (pa_stream_get_state(stream) == PA_STREAM_READY) {
      return kNoError;
    }
    const int error = pa_context_errno(context_);
    ReleaseStream(slot);
    if (!target.empty() && error == PA_ERR_NOENTITY) {
      continue;
    }
    const QString why = settled || connected != 0
                            ? Text(pa_strerror(error))
                            : QStringLiteral("the sound server did not start it in time");
    return errors_.Make(input ? AudioError::InputFailed : AudioError::OutputFailed,
                        QStringLiteral("The audio %1 cannot be started: %2.")
                            .arg(input ? QStringLiteral("input") : QStringLiteral("output"), why));
  }
  return errors_.Make(input ? AudioError::NoInputDevice : AudioError::NoOutputDevice);
}

void PulseAudioEngine::OnStreamState(pa_stream* stream, void* data) {
  auto* device = static_cast<Device*>(data);
  PulseAudioEngine* engine = device->engine;
  pa_threaded_mainloop_signal(engine->loop_, 0);
  if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) {
    return;
  }
  const QString why = Text(pa_strerror(pa_context_errno(pa_stream_get_context(stream))));
  if (stream == device->output && device->play == Device::PlayState::Running) {
    engine->EndPlayback(*device, NotifyCode::Failure);
  }
  if (stream == device->input && device->record == Device::RecordState::Running) {
    device->lost = {AudioError::InputFailed,
                    QStringLiteral("The recording was cut short: the audio input failed or was "
                                   "disconnected (%1). What was captured until then is kept.")
                        .arg(why)};
    engine->EndRecording(*device);
  }
}

void PulseAudioEngine::OnReadable(pa_stream* stream, std::size_t /*bytes*/, void* data) {
  auto* device = static_cast<Device*>(data);
  const bool taking = stream == device->input && device->record != Device::RecordState::Idle;
  while (pa_stream_readable_size(stream) > 0) {
    const void* captured = nullptr;
    std::size_t size = 0;
    if (pa_stream_peek(stream, &captured, &size) < 0 || size == 0) {
      break;
    }
    if (taking) {
      if (captured != nullptr) {
        device->Capture(static_cast<const std::byte*>(captured), size);
      } else {
        // A hole in the capture: silence keeps the take's timing.
        const std::vector<std::byte> silence(
            size, device->element.kind == SampleKind::UInt8 ? std::byte{0x80} : std::byte{0});
        device->Capture(silence.data(), silence.size());
      }
    }
    pa_stream_drop(stream);
  }
  pa_threaded_mainloop_signal(device->engine->loop_, 0);
}

void PulseAudioEngine::OnWritable(pa_stream* stream, std::size_t bytes, void* data) {
  auto* device = static_cast<Device*>(data);
  if (stream != device->output ||
      (device->play != Device::PlayState::Starting && device->play != Device::PlayState::Running)) {
    return;
  }
  device->lastRequest = Now();
  const std::size_t frameBytes = device->element.bytesPerFrame();
  const std::uint64_t left = device->playEnd - device->playNext;
  const std::uint64_t frames =
      std::min<std::uint64_t>(std::max<std::size_t>(bytes / frameBytes, 1), left);
  if (frames > 0) {
    const auto* from = device->element.samples.data() + device->playNext * frameBytes;
    pa_stream_write(stream, from, frames * frameBytes, nullptr, 0, PA_SEEK_RELATIVE);
    device->playNext += frames;
  }
  if (device->playNext >= device->playEnd && !device->draining) {
    // All handed over: the drain ends once the server has played it (it also starts a sound
    // shorter than the prebuffer).
    device->draining = true;
    device->drain = pa_stream_drain(stream, &PulseAudioEngine::OnDrained, device);
  }
}

void PulseAudioEngine::OnDrained(pa_stream* stream, int success, void* data) {
  auto* device = static_cast<Device*>(data);
  if (device->drain != nullptr) {
    pa_operation_unref(device->drain);
    device->drain = nullptr;
  }
  if (stream != device->output || device->play != Device::PlayState::Running) {
    return;
  }
  if (success == 0) {
    device->engine->EndPlayback(*device, NotifyCode::Failure);
    return;
  }
  // The server has taken the last frame; the output still holds its own latency's worth.
  device->timing = pa_stream_update_timing_info(stream, &PulseAudioEngine::OnTiming, device);
  if (device->timing == nullptr) {
    device->engine->EndPlayback(*device, NotifyCode::Successful);
  }
}

void PulseAudioEngine::OnTiming(pa_stream* stream, int success, void* data) {
  auto* device = static_cast<Device*>(data);
  PulseAudioEngine* engine = device->engine;
  if (device->timing != nullptr) {
    pa_operation_unref(device->timing);
    device->timing = nullptr;
  }
  if (stream != device->output || device->play != Device::PlayState::Running) {
    return;
  }
  const pa_timing_info* info = success != 0 ? pa_stream_get_timing_info(stream) : nullptr;
  // What the output still holds when the server answered, less the time since then.
  pa_usec_t remaining = 0;
  if (info != nullptr) {
    const pa_usec_t since = pa_timeval_age(&info->timestamp);
    remaining =
        std::min<pa_usec_t>(info->sink_usec > since ? info->sink_usec - since : 0, 2'000'000);
  }
  if (remaining < 1000) {
    engine->EndPlayback(*device, NotifyCode::Successful);
    return;
  }
  device->tail = pa_context_rttime_new(
      engine->context_, pa_rtclock_now() + remaining,
      [](pa_mainloop_api* api, pa_time_event* event, const timeval*, void* tailData) {
        auto* played = static_cast<Device*>(tailData);
        api->time_free(event);
        played->tail = nullptr;
        played->engine->EndPlayback(*played, NotifyCode::Successful);
      },
      device);
}

void PulseAudioEngine::EndPlayback(Device& device, NotifyCode code) {
  if (device.play != Device::PlayState::Running && device.play != Device::PlayState::Starting) {
    return;
  }
  CancelOperation(device.drain);
  CancelOperation(device.timing);
  if (device.tail != nullptr) {
    pa_threaded_mainloop_get_api(loop_)->time_free(device.tail);
    device.tail = nullptr;
  }
  ReleaseStream(device.output);
  device.draining = false;
  if (code == NotifyCode::Successful) {
    device.timings.lastFramePlayed = Now();
  }
  device.play = Device::PlayState::Finished;
  device.finished = code;
  if (QThread::currentThread() == thread()) {
    FlushNotice(device);
    return;
  }
  const DeviceId id = device.id;
  const std::uint64_t serial = device.playSerial;
  QMetaObject::invokeMethod(
      this, [this, id, serial] { DeliverNotice(id, serial); }, Qt::QueuedConnection);
}

void PulseAudioEngine::FlushNotice(Device& device) {
  if (device.play != Device::PlayState::Finished) {
    return;
  }
  device.play = Device::PlayState::Idle;
  device.timings.noticePosted = Now();
  if (device.notify != nullptr) {
    QCoreApplication::postEvent(device.notify, new PlaybackNotice(device.finished, device.id));
  }
  device.notify = nullptr;
}

void PulseAudioEngine::DeliverNotice(DeviceId id, std::uint64_t serial) {
  MainLoopLock lock(loop_);
  Device* device = Find(id);
  if (device != nullptr && device->playSerial == serial) {
    FlushNotice(*device);
  }
}

void PulseAudioEngine::EndRecording(Device& device) {
  device.record = Device::RecordState::Idle;
  ReleaseStream(device.input);
  device.partial.clear();
}

// ---- The engine's commands ---------------------------------------------------------------------

ErrorCode PulseAudioEngine::Open(std::u16string_view element, DeviceId* device) {
  *device = 0;
  if (loop_ == nullptr) {
    return Connect();
  }
  auto opened = std::make_unique<Device>();
  opened->engine = this;
  opened->path = std::u16string(element);
  {
    MainLoopLock lock(loop_);
    if (const ErrorCode error = Connect(); error != kNoError) {
      return error;
    }
  }
  std::string error;
  bool notOpened = false;
  if (!ReadWaveFile(element, &opened->element, &error, &notOpened)) {
    return errors_.Make(notOpened ? AudioError::FileNotReadable : AudioError::NotASoundFile,
                        QString::fromStdString(error));
  }
  const QString path = QString::fromUtf16(element.data(), static_cast<qsizetype>(element.size()));
  opened->mediaName = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1).toStdString();
  MainLoopLock lock(loop_);
  if (devices_.size() >= 0xFFFE) {
    return errors_.Make(AudioError::TooManyDevices);
  }
  while (nextId_ == 0 || devices_.count(nextId_) != 0) {
    ++nextId_;
  }
  opened->id = nextId_++;
  *device = opened->id;
  devices_.emplace(opened->id, std::move(opened));
  return kNoError;
}

ErrorCode PulseAudioEngine::WithDevice(DeviceId id, const std::function<ErrorCode(Device&)>& body) {
  if (loop_ == nullptr) {
    return errors_.Make(AudioError::InvalidDevice);
  }
  MainLoopLock lock(loop_);
  Device* device = Find(id);
  return device != nullptr ? body(*device) : errors_.Make(AudioError::InvalidDevice);
}

ErrorCode PulseAudioEngine::SetTimeFormatMilliseconds(DeviceId id) {
  // Milliseconds are the only time format here.
  return WithDevice(id, [](Device&) { return kNoError; });
}

ErrorCode PulseAudioEngine::QueryLength(DeviceId id, std::uint32_t* lengthMs) {
  return WithDevice(id, [lengthMs](Device& device) {
    *lengthMs = device.element.lengthMs();
    return kNoError;
  });
}

ErrorCode PulseAudioEngine::Play(DeviceId id, std::uint32_t fromMs,
                                 std::optional<std::uint32_t> toMs, QObject* notify) {
  return WithDevice(id, [&](Device& device) {
    if (device.record != Device::RecordState::Idle) {
      return errors_.Make(AudioError::Busy);
    }
    const WaveElement& element = device.element;
    const std::uint32_t lengthMs = element.lengthMs();
    const std::uint32_t endMs = toMs.value_or(lengthMs);
    if (fromMs > endMs || endMs > lengthMs) {
      return errors_.Make(AudioError::OutOfRange,
                          QStringLiteral("The play range %1 to %2 ms does not lie within the "
                                         "sound's %3 ms.")
                              .arg(fromMs)
                              .arg(endMs)
                              .arg(lengthMs));
    }
    EndPlayback(device, NotifyCode::Superseded);
    FlushNotice(device);
    EndLevelCheck();
    if (const ErrorCode error = Connect(); error != kNoError) {
      return error;
    }

    const std::uint64_t first = element.FramesAt(fromMs);
    const std::uint64_t end =
        toMs ? std::min(element.FramesAt(*toMs), element.frames()) : element.frames();
    device.timings = Timings{};
    device.timings.playCalled = Now();
    device.timings.playedFrames = end > first ? end - first : 0;
    device.notify = notify;
    ++device.playSerial;
    device.play = Device::PlayState::Starting;
    if (end <= first) {
      // Nothing to play: done at once.
      EndPlayback(device, NotifyCode::Successful);
      return kNoError;
    }
    device.playNext = first;
    device.playEnd = end;
    device.draining = false;
    device.lastRequest = device.timings.playCalled;
    device.deadline = device.timings.playCalled +
                      static_cast<std::int64_t>((end - first) * 1'000'000'000u /
                                                static_cast<std::uint64_t>(element.sampleRate)) +
                      kStalledNs;
    if (const ErrorCode error = StartStream(device, Direction::Output); error != kNoError) {
      device.play = Device::PlayState::Idle;
      device.notify = nullptr;
      return error;
    }
    device.play = Device::PlayState::Running;
    return kNoError;
  });
}

ErrorCode PulseAudioEngine::Record(DeviceId id, std::uint32_t fromMs) {
  return WithDevice(id, [&](Device& device) {
    const WaveElement& element = device.element;
    if (fromMs > element.lengthMs()) {
      return errors_.Make(AudioError::OutOfRange,
                          QStringLiteral("The recording position %1 ms lies beyond the end of the "
                                         "sound (%2 ms).")
                              .arg(fromMs)
                              .arg(element.lengthMs()));
    }
    EndPlayback(device, NotifyCode::Superseded);
    EndRecording(device);
    EndLevelCheck();
    if (const ErrorCode error = Connect(); error != kNoError) {
      return error;
    }
    device.timings = Timings{};
    device.timings.recordCalled = Now();
    device.recordNext = element.FramesAt(fromMs);
    device.partial.clear();
    device.lost.reset();
    device.lastCapture = device.timings.recordCalled;
    device.record = Device::RecordState::Starting;
    if (const ErrorCode error = StartStream(device, Direction::Input); error != kNoError) {
      device.record = Device::RecordState::Idle;
      return error;
    }
    device.record = Device::RecordState::Running;
    return kNoError;
  });
}

ErrorCode PulseAudioEngine::Stop(DeviceId id) {
  return WithDevice(id, [&](Device& device) {
    EndPlayback(device, NotifyCode::Aborted);
    if (device.record == Device::RecordState::Running) {
      // Take in the fragment still on its way, so the last syllable before the stop is kept.
      const std::uint64_t before = device.timings.capturedFrames;
      WaitFor(loop_, kStopCatchUpMs, [&device, before] {
        return device.record != Device::RecordState::Running ||
               device.timings.capturedFrames > before;
      });
      EndRecording(device);
    }
    if (device.lost) {
      const auto [cause, text] = *std::exchange(device.lost, std::nullopt);
      return errors_.Make(cause, text);
    }
    return kNoError;
  });
}

ErrorCode PulseAudioEngine::Save(DeviceId id, std::u16string_view path) {
  std::optional<WaveElement> snapshot;
  const WaveElement* element = nullptr;
  const ErrorCode found = WithDevice(id, [&](Device& device) {
    if (device.record != Device::RecordState::Idle) {
      // Still capturing: save what is there now.
      snapshot = device.element;
      element = &*snapshot;
    } else {
      // Nothing else touches an element that is not recording, and only this thread closes.
      element = &device.element;
    }
    return kNoError;
  });
  if (found != kNoError) {
    return found;
  }
  // Written without the lock: the main loop goes on meanwhile.
  std::string error;
  if (!WriteWaveFile(*element, path, &error)) {
    return errors_.Make(AudioError::CannotWrite, QString::fromStdString(error));
  }
  return kNoError;
}

ErrorCode PulseAudioEngine::Close(DeviceId id) {
  return WithDevice(id, [&](Device& device) {
    EndPlayback(device, NotifyCode::Aborted);
    FlushNotice(device);
    EndRecording(device);
    devices_.erase(id);
    return kNoError;
  });
}

QString PulseAudioEngine::ErrorText(ErrorCode error) {
  return errors_.Text(error);
}

PulseAudioEngine::Timings PulseAudioEngine::timings(DeviceId device) const {
  if (loop_ == nullptr) {
    return {};
  }
  MainLoopLock lock(loop_);
  auto it = devices_.find(device);
  return it == devices_.end() ? Timings{} : it->second->timings;
}

}  // namespace voxtar::audio
