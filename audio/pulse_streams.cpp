// SPDX-License-Identifier: GPL-3.0-or-later
// The PulseAudio engine's streams: starting one on the chosen device, libpulse's callbacks that
// feed a playback and take in a recording, the end of a playback with its notice, and the end of
// a recording with its notice.
#include <pulse/pulseaudio.h>

#include <QCoreApplication>
#include <QThread>
#include <algorithm>
#include <memory>
#include <new>
#include <span>
#include <utility>
#include <vector>

#include "audio/pulse_audio_engine.h"
#include "audio/pulse_device_p.h"
#include "audio/pulse_support_p.h"

namespace voxtar::audio {

using namespace pulse;

namespace {

// Playback buffer the server keeps filled: small, so the output's own latency (which the notice
// waits out) stays small; enough for a busy machine, as the main loop thread feeds it from
// memory, never the GUI thread.
constexpr pa_usec_t kPlaybackBufferUs = 25'000;

}  // namespace

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
        (input ? QCoreApplication::translate("AudioError", "The sound system cannot record %1.")
               : QCoreApplication::translate("AudioError", "The sound system cannot play %1."))
            .arg(FormatText(element)));
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
    if (connected == 0 && !settled) {
      SetAside(slot);
    } else {
      ReleaseStream(slot);
    }
    if (!target.empty() && error == PA_ERR_NOENTITY) {
      continue;
    }
    const QString why = settled || connected != 0
                            ? Text(pa_strerror(error))
                            : QCoreApplication::translate(
                                  "AudioError", "the sound server did not start it in time");
    return errors_.Make(
        input ? AudioError::InputFailed : AudioError::OutputFailed,
        (input
             ? QCoreApplication::translate("AudioError", "The audio input cannot be started: %1.")
             : QCoreApplication::translate("AudioError", "The audio output cannot be started: %1."))
            .arg(why));
  }
  return errors_.Make(input ? AudioError::NoInputDevice : AudioError::NoOutputDevice);
}

void PulseAudioEngine::SetAside(pa_stream*& stream) {
  pa_stream_set_write_callback(stream, nullptr, nullptr);
  pa_stream_set_read_callback(stream, nullptr, nullptr);
  pa_stream_set_started_callback(stream, nullptr, nullptr);
  pa_stream_set_state_callback(stream, &PulseAudioEngine::OnSetAsideState, this);
  setAside_.push_back(std::exchange(stream, nullptr));
}

void PulseAudioEngine::OnSetAsideState(pa_stream* stream, void* data) {
  auto* engine = static_cast<PulseAudioEngine*>(data);
  const pa_stream_state_t state = pa_stream_get_state(stream);
  if (state == PA_STREAM_READY) {
    // Terminated once the server has taken it down.
    pa_stream_disconnect(stream);
    return;
  }
  if (PA_STREAM_IS_GOOD(state)) {
    return;
  }
  auto& aside = engine->setAside_;
  aside.erase(std::remove(aside.begin(), aside.end(), stream), aside.end());
  pa_stream_set_state_callback(stream, nullptr, nullptr);
  pa_stream_unref(stream);
}

std::size_t PulseAudioEngine::streamsSetAside() const {
  if (loop_ == nullptr) {
    return 0;
  }
  MainLoopLock lock(loop_);
  return setAside_.size();
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
  if (stream == device->input) {
    engine->CutShort(
        *device, AudioError::InputFailed,
        QCoreApplication::translate("AudioError",
                                    "The recording was cut short: the audio input failed or was "
                                    "disconnected (%1). What was captured until then is kept.")
            .arg(why));
  }
}

void PulseAudioEngine::OnReadable(pa_stream* stream, std::size_t /*bytes*/, void* data) {
  auto* device = static_cast<Device*>(data);
  PulseAudioEngine* engine = device->engine;
  const bool taking = stream == device->input && device->record != Device::RecordState::Idle;
  const std::int64_t called = Now();
  // No exception may unwind through libpulse: a take with no memory left ends like a lost input.
  // Once the recording has ended, its stream is gone and is not touched again.
  try {
    bool room = true;
    while (room && pa_stream_readable_size(stream) > 0) {
      const void* captured = nullptr;
      std::size_t size = 0;
      if (pa_stream_peek(stream, &captured, &size) < 0 || size == 0) {
        break;
      }
      if (taking) {
        if (captured != nullptr) {
          room = engine->TakeIn(*device, {static_cast<const std::byte*>(captured), size});
        } else {
          // A hole in the capture: silence keeps the take's timing.
          const std::vector<std::byte> silence(
              size, device->element.kind == SampleKind::UInt8 ? std::byte{0x80} : std::byte{0});
          room = engine->TakeIn(*device, silence);
        }
      }
      pa_stream_drop(stream);
    }
    if (!room) {
      engine->EndRecording(*device);  // the take is full or finished: it said so
    }
  } catch (const std::bad_alloc&) {
    engine->CutShort(*device, AudioError::OutOfMemory, OutOfMemoryCutText());
  }
  if (taking) {
    const std::int64_t took = Now() - called;
    ++device->timings.captureCalls;
    device->timings.captureNs += took;
    device->timings.worstCaptureNs = std::max(device->timings.worstCaptureNs, took);
  }
  pa_threaded_mainloop_signal(engine->loop_, 0);
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
    // libpulse copies what it is handed, a block's span at a time.
    device->element.samples.ForEachSpan(
        device->playNext, frames, [stream](std::span<const std::byte> span) {
          return pa_stream_write(stream, span.data(), span.size(), nullptr, 0, PA_SEEK_RELATIVE) ==
                 0;
        });
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
      this, [this, id, serial] { DeliverPlaybackNotice(id, serial); }, Qt::QueuedConnection);
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

void PulseAudioEngine::DeliverPlaybackNotice(DeviceId id, std::uint64_t serial) {
  MainLoopLock lock(loop_);
  Device* device = Find(id);
  if (device != nullptr && device->playSerial == serial) {
    FlushNotice(*device);
  }
}

void PulseAudioEngine::EndRecording(Device& device) {
  device.record = Device::RecordState::Idle;
  ReleaseStream(device.input);
  switch (device.role) {
    case Device::Role::Take:
      recorder_.EndCapture(device.take);
      break;
    case Device::Role::LevelCheck:
      recorder_.EndMeasuring();
      break;
    case Device::Role::KeptInput:
      // The input of the take it fed is gone as well.
      recorder_.EndKeeping();
      break;
  }
}

void PulseAudioEngine::CutShort(Device& device, AudioError cause, const QString& text) {
  const bool take = device.role == Device::Role::Take;
  // A stream still starting says why it failed when its start returns.
  if (device.record == Device::RecordState::Starting ||
      (take ? !device.take.capturing() : device.record != Device::RecordState::Running)) {
    return;
  }
  if (take) {
    recorder_.CutShort(device.take, {cause, text});
  } else if (device.role == Device::Role::KeptInput) {
    recorder_.EndKeeping(TakeLoss{cause, text});
  }
  EndRecording(device);
}

void PulseAudioEngine::Ended(DeviceId id, RecordingCode code) {
  Device* device = Find(id);
  if (device == nullptr) {
    return;
  }
  device->notice = code;
  QMetaObject::invokeMethod(
      this, [this, id] { DeliverNotice(id); }, Qt::QueuedConnection);
}

void PulseAudioEngine::DeliverNotice(DeviceId id) {
  MainLoopLock lock(loop_);
  Device* device = Find(id);
  if (device == nullptr) {
    return;
  }
  const std::optional<RecordingCode> code = std::exchange(device->notice, std::nullopt);
  if (code && device->recordNotify != nullptr) {
    QCoreApplication::postEvent(device->recordNotify, new RecordingNotice(*code, id));
  }
}

}  // namespace voxtar::audio
