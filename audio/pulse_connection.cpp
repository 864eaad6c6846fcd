// SPDX-License-Identifier: GPL-3.0-or-later
// The PulseAudio engine's connection to the server: made on demand and made afresh after the
// server went away, the end of every stream when it goes, the watch over streams whose input or
// output stopped moving, and the listings of the server's inputs and outputs.
#include <pulse/pulseaudio.h>

#include <QCoreApplication>
#include <type_traits>
#include <vector>

#include "audio/pulse_audio_engine.h"
#include "audio/pulse_device_p.h"
#include "audio/pulse_support_p.h"

namespace voxtar::audio {

using namespace pulse;

namespace {

// How often running streams are checked for an input or output that stopped moving.
constexpr pa_usec_t kWatchUs = 100'000;

}  // namespace

ErrorCode PulseAudioEngine::Connect() {
  if (loop_ == nullptr) {
    return errors_.Make(
        AudioError::NoSoundSystem,
        QCoreApplication::translate("AudioError",
                                    "No sound system is available: the sound client library "
                                    "could not start its thread."));
  }
  if (context_ != nullptr && pa_context_get_state(context_) == PA_CONTEXT_READY) {
    return kNoError;
  }
  // A connection that Warm started is waited for; one that failed is made afresh.
  if (const ErrorCode error = StartConnecting(); error != kNoError) {
    return error;
  }
  const bool settled = WaitFor(loop_, kServerWaitMs, [this] {
    const pa_context_state_t state = pa_context_get_state(context_);
    return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
  });
  if (pa_context_get_state(context_) == PA_CONTEXT_READY) {
    return kNoError;
  }
  const QString why =
      settled ? Text(pa_strerror(pa_context_errno(context_)))
              : QCoreApplication::translate("AudioError", "the sound server does not answer");
  DropContext();
  return errors_.Make(
      AudioError::NoSoundSystem,
      QCoreApplication::translate("AudioError", "No sound system is available: %1.").arg(why));
}

ErrorCode PulseAudioEngine::StartConnecting() {
  if (context_ != nullptr && PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) {
    return kNoError;
  }
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
  if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOFLAGS, nullptr) < 0) {
    const QString why = Text(pa_strerror(pa_context_errno(context_)));
    DropContext();
    return errors_.Make(
        AudioError::NoSoundSystem,
        QCoreApplication::translate("AudioError", "No sound system is available: %1.").arg(why));
  }
  return kNoError;
}

void PulseAudioEngine::Warm() {
  if (loop_ != nullptr) {
    MainLoopLock lock(loop_);
    // A failure here is the next command's to report, when it tries again.
    StartConnecting();
  }
}

void PulseAudioEngine::Ready() {
  ++connections_;
  watch_ = pa_context_rttime_new(
      context_, pa_rtclock_now() + kWatchUs,
      [](pa_mainloop_api*, pa_time_event* event, const timeval*, void* data) {
        auto* engine = static_cast<PulseAudioEngine*>(data);
        engine->Watch();
        pa_context_rttime_restart(engine->context_, event, pa_rtclock_now() + kWatchUs);
      },
      this);
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
  if (preRoll_ != nullptr) {
    EndRecording(*preRoll_);
  }
  // Streams still waiting for an answer go with the connection.
  for (pa_stream*& stream : setAside_) {
    ReleaseStream(stream);
  }
  setAside_.clear();
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
  if (context != engine->context_) {
    return;
  }
  const pa_context_state_t state = pa_context_get_state(context);
  if (state == PA_CONTEXT_READY) {
    engine->Ready();
  } else if (!PA_CONTEXT_IS_GOOD(state)) {
    engine->ServerLost(Text(pa_strerror(pa_context_errno(context))));
  }
}

void PulseAudioEngine::ServerLost(const QString& why) {
  const QString text =
      QCoreApplication::translate(
          "AudioError",
          "The recording was cut short: the connection to the sound server was lost "
          "(%1). What was captured until then is kept.")
          .arg(why);
  if (preRoll_ != nullptr) {
    CutShort(*preRoll_, AudioError::InputFailed, text);
  }
  for (auto& [id, device] : devices_) {
    CutShort(*device, AudioError::InputFailed, text);
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
  const auto watchInput = [this, now](Device& device, std::int64_t lastCapture) {
    if (device.record == Device::RecordState::Running && now - lastCapture > kStalledNs) {
      CutShort(device, AudioError::InputFailed,
               QCoreApplication::translate(
                   "AudioError",
                   "The recording was cut short: the audio input delivered no sound "
                   "for 2 seconds. What was captured until then is kept."));
    }
  };
  if (preRoll_ != nullptr) {
    watchInput(*preRoll_, recorder_.keptLastCapture());
  }
  for (auto& [id, device] : devices_) {
    watchInput(*device, device->take.lastCapture());
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

}  // namespace voxtar::audio
