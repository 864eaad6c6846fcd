// SPDX-License-Identifier: GPL-3.0-or-later
// How a recording session goes on between the operator's commands: what "Record" does, and what
// follows when a take or a playback ends. The Session carries the commands out and keeps the
// lesson, the device and the takes; its policy decides what comes next, through the Session's
// own operations (StartTake, StopTake, Play, AdvanceAfterGoodTake). The manual policy is the
// operator pressing Record and [STOP]; another policy (a hands-free sitting) takes its place
// without the Session or the window changing.
//
// Ownership: the Session owns its policy and hands itself to every call. Threads: GUI thread;
// every call comes from the Session, one at a time.
#pragma once

namespace voxtar::audio {
class CaptureNotice;
}

namespace voxtar::session {

class Session;

// What the Session's command gate knows of a command.
enum class CommandKind {
  Record,   // "Record" / "[STOP]"
  Discard,  // discards the take being recorded
  Lesson,   // anything else that touches the lesson, the device or the takes
  Window,   // a box or window of its own that touches none of them
};

// How a take came to its end.
struct TakeEnd {
  bool saved = false;
  // The recording ended without Record: the take reached the longest a WAV file can hold, or
  // the input was lost.
  bool byItself = false;
  bool limitReached = false;
};

class SessionPolicy {
 public:
  virtual ~SessionPolicy() = default;

  // "Record" was pressed; the typed text is stored.
  virtual void Record(Session& session) = 0;
  // A command of `kind` is about to run: the operator took over from whatever the policy meant to
  // do next by itself.
  virtual void OperatorTookOver(Session& session, CommandKind kind) = 0;
  // A take ended, after its save when it had one.
  virtual void TakeEnded(Session& session, const TakeEnd& end) = 0;
  // The take being recorded was discarded.
  virtual void TakeDiscarded(Session& session) = 0;
  // A playback came to its end by itself.
  virtual void PlaybackEnded(Session& session) = 0;
  // The input captured a block, while the policy listens (Session::ListenToInput). With `free`
  // false a command is running or a take is being saved: the policy only takes note.
  virtual void Heard(Session& /*session*/, const audio::CaptureNotice& /*block*/, bool /*free*/) {}
};

// What a sitting is doing, for the window to show beside the meter.
struct SittingState {
  enum class Phase {
    Off,              // no sitting
    Listening,        // waiting for the reading to begin
    Recording,        // the reading goes on
    Ending,           // silent: the take ends when `endingLeft` runs out
    WaitingForVoice,  // paused: no voice came; any key or Record goes on
    LimitReached,     // paused: the take reached the take length limit
  };
  Phase phase = Phase::Off;
  double endingLeft = 0.0;  // Ending: the share of the end-silence still to run, 1 down to 0

  bool operator==(const SittingState&) const = default;
};

}  // namespace voxtar::session
