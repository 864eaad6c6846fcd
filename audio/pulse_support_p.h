// SPDX-License-Identifier: GPL-3.0-or-later
// What the parts of the PulseAudio engine share about libpulse: the threaded main loop's lock for
// a scope, a bounded wait on that loop, the release of a stream or an operation without waiting,
// the steady clock of the engine's timings, libpulse's error texts, and the sample format of an
// element as a stream takes it.
#pragma once

#include <pulse/pulseaudio.h>

#include <QString>
#include <cstdint>
#include <functional>

#include "audio/take_recorder.h"
#include "audio/wave_element.h"

namespace voxtar::audio::pulse {

// Capture fragment: the server hands over what it captured every this many milliseconds, so the
// take starts with the first syllable and a Stop loses next to nothing.
inline constexpr pa_usec_t kFragmentUs = kCaptureFragmentNs / 1000;

// The element's format for a stream, and in words for a refusal.
pa_sample_spec SpecOf(const WaveElement& element);
QString FormatText(const WaveElement& element);

// Now on the steady clock, in nanoseconds.
std::int64_t Now();

// libpulse's text for an error, or a stand-in when it has none.
QString Text(const char* text);

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
bool WaitFor(pa_threaded_mainloop* loop, int timeoutMs, const std::function<bool()>& done);

// Cancels an operation still pending and forgets it.
void CancelOperation(pa_operation*& operation);

// Disconnects a stream without waiting and forgets it; its callbacks never run again.
void ReleaseStream(pa_stream*& stream);

}  // namespace voxtar::audio::pulse
