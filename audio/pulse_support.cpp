// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/pulse_support_p.h"

#include <QCoreApplication>
#include <algorithm>
#include <chrono>

namespace voxtar::audio::pulse {

QString FormatText(const WaveElement& element) {
  static constexpr const char* kKinds[] = {"8-bit", "16-bit", "32-bit", "32-bit float"};
  return QCoreApplication::translate("AudioError", "%1 Hz, %2 channel(s), %3")
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

std::int64_t Now() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

QString Text(const char* text) {
  return QString::fromUtf8(text != nullptr ? text : "unknown error");
}

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

}  // namespace voxtar::audio::pulse
