#include "audio/qt_audio_engine.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QAudioSource>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QMediaDevices>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <utility>
#include <vector>

#include "audio/wave_element.h"

namespace voxtar::audio {

namespace {

// Playback buffer: large enough to ride out a busy GUI thread, small enough to start quickly.
constexpr int kSinkBufferMs = 100;
// Capture fragment: the source hands over what it captured every this many milliseconds.
constexpr int kSourceFragmentMs = 10;
// How often a playback is fed and checked for its end.
constexpr int kTickMs = 5;
// How long a playback may run past its nominal length before it is ended regardless.
constexpr int kGuardMs = 2000;
// How long Stop waits for the last captured fragment to come in.
constexpr int kStopCatchUpMs = 100;
// A recording whose input delivers nothing for this long, or a playback whose output plays
// nothing for this long, has lost its device.
constexpr std::int64_t kStalledNs = 2'000'000'000;

std::int64_t Now() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

QAudioFormat FormatOf(const WaveElement& element) {
  QAudioFormat format;
  format.setSampleRate(element.sampleRate);
  format.setChannelCount(element.channels);
  format.setChannelConfig(QAudioFormat::defaultChannelConfigForChannelCount(element.channels));
  switch (element.kind) {
    case SampleKind::UInt8:
      format.setSampleFormat(QAudioFormat::UInt8);
      break;
    case SampleKind::Int16:
      format.setSampleFormat(QAudioFormat::Int16);
      break;
    case SampleKind::Int32:
      format.setSampleFormat(QAudioFormat::Int32);
      break;
    case SampleKind::Float:
      format.setSampleFormat(QAudioFormat::Float);
      break;
  }
  return format;
}

QString FormatText(const WaveElement& element) {
  static constexpr const char* kKinds[] = {"8-bit", "16-bit", "32-bit", "32-bit float"};
  return QStringLiteral("%1 Hz, %2 channel(s), %3")
      .arg(element.sampleRate)
      .arg(element.channels)
      .arg(QLatin1String(kKinds[static_cast<int>(element.kind)]));
}

QString StreamErrorText(QAudio::Error error) {
  switch (error) {
    case QAudio::NoError:
      return QStringLiteral("no error");
    case QAudio::OpenError:
      return QStringLiteral("the audio stream could not be opened");
    case QAudio::IOError:
      return QStringLiteral("reading or writing the audio stream failed");
    case QAudio::UnderrunError:
      return QStringLiteral("the audio stream ran out of data");
    case QAudio::FatalError:
      return QStringLiteral("the connection to the sound server failed");
  }
  return QStringLiteral("unknown audio stream error");
}

bool Failed(QAudio::State state, QAudio::Error error) {
  return state == QAudio::StoppedState && error != QAudio::NoError &&
         error != QAudio::UnderrunError;
}

}  // namespace

struct QtAudioEngine::Device {
  std::u16string path;
  WaveElement element;
  Timings timings;

  // Playback.
  bool playing = false;
  QAudioSink* sink = nullptr;
  QPointer<QIODevice> output;  // the sink's, deleted by it
  QPointer<QObject> notify;
  std::uint64_t playNext = 0;  // next frame to hand to the sink
  std::uint64_t playEnd = 0;   // frame after the last one to play
  std::int64_t targetUs = 0;   // processed time at which the last frame has been played
  QDeadlineTimer guard;
  std::int64_t progressUs = 0;  // the sink's processed time when it last advanced
  std::int64_t progressAt = 0;  // and when that was
  QTimer tick;
  std::vector<std::byte> silence;

  // Recording.
  bool recording = false;
  QAudioSource* source = nullptr;
  QPointer<QIODevice> input;     // the source's, deleted by it
  std::uint64_t recordNext = 0;  // frame the next captured frame overwrites
  QByteArray partial;            // captured bytes short of a whole frame
  std::int64_t lastCapture = 0;  // when captured bytes last came in
  ErrorCode lost = kNoError;     // a recording cut short by the device, told by the next Stop
};

QtAudioEngine::QtAudioEngine(QObject* parent) : QObject(parent) {}

QtAudioEngine::~QtAudioEngine() {
  for (auto& [id, device] : devices_) {
    device->tick.stop();
    if (device->sink != nullptr) {
      device->sink->disconnect(this);
      device->sink->stop();
      delete device->sink;
    }
    if (device->source != nullptr) {
      device->source->disconnect(this);
      device->source->stop();
      delete device->source;
    }
  }
}

QtAudioEngine::Device* QtAudioEngine::Find(DeviceId device) {
  auto it = devices_.find(device);
  return it == devices_.end() ? nullptr : it->second.get();
}

ErrorCode QtAudioEngine::Open(std::u16string_view element, DeviceId* device) {
  *device = 0;
  if (QMediaDevices::audioOutputs().isEmpty() && QMediaDevices::audioInputs().isEmpty()) {
    return errors_.Make(AudioError::NoSoundSystem);
  }
  auto opened = std::make_unique<Device>();
  opened->path = std::u16string(element);
  QString error;
  bool notOpened = false;
  if (!ReadWaveFile(element, &opened->element, &error, &notOpened)) {
    return errors_.Make(notOpened ? AudioError::FileNotReadable : AudioError::NotASoundFile, error);
  }
  if (devices_.size() >= 0xFFFE) {
    return errors_.Make(AudioError::TooManyDevices);
  }
  while (nextId_ == 0 || devices_.count(nextId_) != 0) {
    ++nextId_;
  }
  const DeviceId id = nextId_++;
  opened->tick.setTimerType(Qt::PreciseTimer);
  opened->tick.setInterval(kTickMs);
  connect(&opened->tick, &QTimer::timeout, this, [this, id] { Tick(id); });
  devices_.emplace(id, std::move(opened));
  *device = id;
  return kNoError;
}

ErrorCode QtAudioEngine::SetTimeFormatMilliseconds(DeviceId device) {
  // Milliseconds are the only time format here.
  return Find(device) != nullptr ? kNoError : errors_.Make(AudioError::InvalidDevice);
}

ErrorCode QtAudioEngine::QueryLength(DeviceId device, std::uint32_t* lengthMs) {
  Device* found = Find(device);
  if (found == nullptr) {
    return errors_.Make(AudioError::InvalidDevice);
  }
  *lengthMs = found->element.lengthMs();
  return kNoError;
}

ErrorCode QtAudioEngine::Play(DeviceId id, std::uint32_t fromMs, std::optional<std::uint32_t> toMs,
                              QObject* notify) {
  Device* device = Find(id);
  if (device == nullptr) {
    return errors_.Make(AudioError::InvalidDevice);
  }
  if (device->recording) {
    return errors_.Make(AudioError::Busy);
  }
  const WaveElement& element = device->element;
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
  const std::uint64_t first = element.FramesAt(fromMs);
  const std::uint64_t end =
      toMs ? std::min(element.FramesAt(*toMs), element.frames()) : element.frames();

  const QAudioDevice output = QMediaDevices::defaultAudioOutput();
  if (output.isNull()) {
    return errors_.Make(AudioError::NoOutputDevice);
  }
  const QAudioFormat format = FormatOf(element);
  if (!output.isFormatSupported(format)) {
    return errors_.Make(AudioError::UnsupportedFormat,
                        QStringLiteral("The audio output \"%1\" cannot play %2.")
                            .arg(output.description(), FormatText(element)));
  }
  if (device->playing) {
    FinishPlayback(id, *device, NotifyCode::Superseded);
  }

  device->timings = Timings{};
  device->timings.playCalled = Now();
  device->timings.playedFrames = end > first ? end - first : 0;
  device->notify = notify;
  if (end <= first) {
    // Nothing to play: done at once.
    device->playing = true;
    FinishPlayback(id, *device, NotifyCode::Successful);
    return kNoError;
  }

  auto* sink = new QAudioSink(output, format, this);
  sink->setBufferSize(static_cast<qsizetype>(element.sampleRate) *
                      static_cast<qsizetype>(element.bytesPerFrame()) * kSinkBufferMs / 1000);
  QIODevice* stream = sink->start();
  if (stream == nullptr || Failed(sink->state(), sink->error())) {
    const QString cause = StreamErrorText(sink->error());
    sink->stop();
    sink->deleteLater();
    return errors_.Make(AudioError::OutputFailed,
                        QStringLiteral("The audio output \"%1\" cannot be started: %2.")
                            .arg(output.description(), cause));
  }
  device->sink = sink;
  device->output = stream;
  device->playNext = first;
  device->playEnd = end;
  device->targetUs = static_cast<std::int64_t>((end - first) * 1'000'000u /
                                               static_cast<std::uint64_t>(element.sampleRate));
  device->guard.setRemainingTime(device->targetUs / 1000 + kGuardMs);
  device->progressUs = 0;
  device->progressAt = device->timings.playCalled;
  device->silence.assign(element.bytesPerFrame() * 256,
                         element.kind == SampleKind::UInt8 ? std::byte{0x80} : std::byte{0});
  device->playing = true;
  // Queued: the sink changes state from inside the writes Tick makes.
  connect(
      sink, &QAudioSink::stateChanged, this, [this, id] { Tick(id); }, Qt::QueuedConnection);
  // The first buffer goes out now; the timer keeps the sink fed and watches for the end.
  Tick(id);
  if (Device* still = Find(id); still != nullptr && still->playing) {
    still->tick.start();
  }
  return kNoError;
}

void QtAudioEngine::Tick(DeviceId id) {
  Device* device = Find(id);
  if (device == nullptr) {
    return;
  }
  if (device->recording) {
    Pull(*device);
    if (device->recording && Now() - device->lastCapture > kStalledNs) {
      device->lost = errors_.Make(AudioError::InputFailed,
                                  QStringLiteral("The recording was cut short: the audio input "
                                                 "delivered no sound for 2 seconds. What was "
                                                 "captured until then is kept."));
      EndRecording(*device);
    }
    return;
  }
  if (!device->playing || device->sink == nullptr) {
    return;
  }
  QAudioSink* sink = device->sink;
  // A stream the server dropped shows as a negative free size.
  if (Failed(sink->state(), sink->error()) || device->output == nullptr || sink->bytesFree() < 0) {
    FinishPlayback(id, *device, NotifyCode::Failure);
    return;
  }
  const std::int64_t now = Now();
  const std::int64_t processed = sink->processedUSecs();
  if (device->timings.soundStarted == 0 && processed > 0) {
    device->timings.soundStarted = now - processed * 1000;
  }
  if (processed >= device->targetUs) {
    device->timings.lastFramePlayed = now;
    FinishPlayback(id, *device, NotifyCode::Successful);
    return;
  }
  if (processed > device->progressUs) {
    device->progressUs = processed;
    device->progressAt = now;
  }
  if (device->guard.hasExpired() || now - device->progressAt > kStalledNs) {
    FinishPlayback(id, *device, NotifyCode::Failure);
    return;
  }
  // Feed what the sink takes: the element's frames, then silence until the last frame has been
  // heard, so the stream never runs dry before its end and short sounds start at all.
  const qsizetype frameBytes = static_cast<qsizetype>(device->element.bytesPerFrame());
  qsizetype free = sink->bytesFree();
  free -= free % frameBytes;
  while (free > 0 && device->output != nullptr) {
    qint64 written = 0;
    if (device->playNext < device->playEnd) {
      const qsizetype frames = std::min<qsizetype>(
          free / frameBytes, static_cast<qsizetype>(device->playEnd - device->playNext));
      const auto* data = reinterpret_cast<const char*>(device->element.samples.data()) +
                         static_cast<qsizetype>(device->playNext) * frameBytes;
      written = device->output->write(data, frames * frameBytes);
      if (written > 0) {
        device->playNext += static_cast<std::uint64_t>(written / frameBytes);
      }
    } else {
      const qsizetype size =
          std::min<qsizetype>(free, static_cast<qsizetype>(device->silence.size()));
      written = device->output->write(reinterpret_cast<const char*>(device->silence.data()), size);
    }
    if (written <= 0) {
      break;
    }
    free -= written;
  }
}

void QtAudioEngine::FinishPlayback(DeviceId id, Device& device, NotifyCode code) {
  device.playing = false;
  device.tick.stop();
  if (device.sink != nullptr) {
    device.sink->disconnect(this);
    device.sink->stop();
    device.sink->deleteLater();
    device.sink = nullptr;
  }
  device.output = nullptr;
  if (device.notify != nullptr) {
    QCoreApplication::postEvent(device.notify, new PlaybackNotice(code, id));
    device.timings.noticePosted = Now();
  }
  device.notify = nullptr;
}

ErrorCode QtAudioEngine::Record(DeviceId id, std::uint32_t fromMs) {
  Device* device = Find(id);
  if (device == nullptr) {
    return errors_.Make(AudioError::InvalidDevice);
  }
  const WaveElement& element = device->element;
  if (fromMs > element.lengthMs()) {
    return errors_.Make(AudioError::OutOfRange,
                        QStringLiteral("The recording position %1 ms lies beyond the end of the "
                                       "sound (%2 ms).")
                            .arg(fromMs)
                            .arg(element.lengthMs()));
  }
  const QAudioDevice input = QMediaDevices::defaultAudioInput();
  if (input.isNull()) {
    return errors_.Make(AudioError::NoInputDevice);
  }
  const QAudioFormat format = FormatOf(element);
  if (!input.isFormatSupported(format)) {
    return errors_.Make(AudioError::UnsupportedFormat,
                        QStringLiteral("The audio input \"%1\" cannot record %2.")
                            .arg(input.description(), FormatText(element)));
  }
  if (device->playing) {
    FinishPlayback(id, *device, NotifyCode::Superseded);
  }
  if (device->recording) {
    Pull(*device);
    EndRecording(*device);
  }

  device->timings = Timings{};
  device->timings.recordCalled = Now();
  auto* source = new QAudioSource(input, format, this);
  source->setBufferSize(static_cast<qsizetype>(element.sampleRate) *
                        static_cast<qsizetype>(element.bytesPerFrame()) * kSourceFragmentMs / 1000);
  QIODevice* stream = source->start();
  if (stream == nullptr || Failed(source->state(), source->error())) {
    const QString cause = StreamErrorText(source->error());
    source->stop();
    source->deleteLater();
    return errors_.Make(AudioError::InputFailed,
                        QStringLiteral("The audio input \"%1\" cannot be started: %2.")
                            .arg(input.description(), cause));
  }
  device->source = source;
  device->input = stream;
  device->recordNext = element.FramesAt(fromMs);
  device->partial.clear();
  device->lost = kNoError;
  device->recording = true;
  device->lastCapture = device->timings.recordCalled;
  device->tick.start();
  connect(stream, &QIODevice::readyRead, this, [this, id] {
    if (Device* found = Find(id)) {
      Pull(*found);
    }
  });
  connect(
      source, &QAudioSource::stateChanged, this, [this, id] { OnSourceStateChanged(id); },
      Qt::QueuedConnection);
  return kNoError;
}

void QtAudioEngine::Pull(Device& device) {
  if (!device.recording || device.input == nullptr) {
    return;
  }
  QByteArray data = device.input->readAll();
  if (data.isEmpty()) {
    return;
  }
  device.lastCapture = Now();
  if (device.timings.firstCapture == 0) {
    device.timings.firstCapture = device.lastCapture;
  }
  if (!device.partial.isEmpty()) {
    data.prepend(device.partial);
    device.partial.clear();
  }
  const auto frameBytes = static_cast<qsizetype>(device.element.bytesPerFrame());
  const qsizetype whole = data.size() - data.size() % frameBytes;
  if (whole < data.size()) {
    device.partial = data.mid(whole);
  }
  if (whole == 0) {
    return;
  }
  device.element.Overwrite(device.recordNext, reinterpret_cast<const std::byte*>(data.constData()),
                           static_cast<std::size_t>(whole));
  const auto frames = static_cast<std::uint64_t>(whole / frameBytes);
  if (device.timings.capturedFrames == 0) {
    device.timings.firstCaptureFrames = frames;
  }
  device.recordNext += frames;
  device.timings.capturedFrames += frames;
}

void QtAudioEngine::OnSourceStateChanged(DeviceId id) {
  Device* device = Find(id);
  if (device == nullptr || !device->recording || device->source == nullptr) {
    return;
  }
  const QAudio::Error error = device->source->error();
  if (!Failed(device->source->state(), error)) {
    return;
  }
  Pull(*device);
  device->lost = errors_.Make(
      AudioError::InputFailed,
      QStringLiteral("The recording was cut short: %1. What was captured until then is kept.")
          .arg(StreamErrorText(error)));
  EndRecording(*device);
}

void QtAudioEngine::EndRecording(Device& device) {
  device.recording = false;
  device.tick.stop();
  if (device.source != nullptr) {
    device.source->disconnect(this);
    if (device.input != nullptr) {
      device.input->disconnect(this);
    }
    device.source->stop();
    device.source->deleteLater();
    device.source = nullptr;
  }
  device.input = nullptr;
  device.partial.clear();
}

ErrorCode QtAudioEngine::Stop(DeviceId id) {
  Device* device = Find(id);
  if (device == nullptr) {
    return errors_.Make(AudioError::InvalidDevice);
  }
  if (device->playing) {
    FinishPlayback(id, *device, NotifyCode::Aborted);
  }
  if (device->recording && device->source != nullptr) {
    // Take in what the source captured up to this moment, waiting briefly for the fragment
    // still on its way, so the last syllable before the stop is kept.
    const std::int64_t capturedUs = device->source->processedUSecs();
    const auto rate = static_cast<std::uint64_t>(device->element.sampleRate);
    QElapsedTimer waited;
    waited.start();
    for (;;) {
      Pull(*device);
      const auto haveUs =
          static_cast<std::int64_t>(device->timings.capturedFrames * 1'000'000u / rate);
      if (!device->recording || haveUs >= capturedUs || waited.elapsed() >= kStopCatchUpMs) {
        break;
      }
      QThread::msleep(2);
    }
    if (device->recording) {
      EndRecording(*device);
    }
  }
  return std::exchange(device->lost, kNoError);
}

ErrorCode QtAudioEngine::Save(DeviceId id, std::u16string_view path) {
  Device* device = Find(id);
  if (device == nullptr) {
    return errors_.Make(AudioError::InvalidDevice);
  }
  Pull(*device);
  QString error;
  if (!WriteWaveFile(device->element, path, &error)) {
    return errors_.Make(AudioError::CannotWrite, error);
  }
  return kNoError;
}

ErrorCode QtAudioEngine::Close(DeviceId id) {
  Device* device = Find(id);
  if (device == nullptr) {
    return errors_.Make(AudioError::InvalidDevice);
  }
  if (device->playing) {
    FinishPlayback(id, *device, NotifyCode::Aborted);
  }
  if (device->recording) {
    EndRecording(*device);
  }
  devices_.erase(id);
  return kNoError;
}

QString QtAudioEngine::ErrorText(ErrorCode error) {
  return errors_.Text(error);
}

QtAudioEngine::Timings QtAudioEngine::timings(DeviceId device) const {
  auto it = devices_.find(device);
  return it == devices_.end() ? Timings{} : it->second->timings;
}

}  // namespace voxtar::audio
