// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/manual_policy.h"

#include <utility>

#include "session/session.h"

namespace voxtar::session {

void ManualPolicy::Record(Session& session) {
  switch (session.mode()) {
    case AudioMode::Idle:
      session.StartTake();
      break;
    case AudioMode::Recording:
      session.StopTake();
      break;
    case AudioMode::Playing:
      break;
  }
}

void ManualPolicy::OperatorTookOver(Session& /*session*/, CommandKind /*kind*/) {
  // A take being played back is not moved on from by itself.
  advanceAfterPlayback_ = false;
}

void ManualPolicy::TakeEnded(Session& session, const TakeEnd& end) {
  if (!end.saved || end.byItself) {
    return;
  }
  const SessionSettings& settings = session.settings();
  if (settings.autoPlay) {
    session.Play();
    // Heard first, then moved on from.
    if (session.mode() == AudioMode::Playing) {
      advanceAfterPlayback_ = settings.autoAdvance;
      return;
    }
  }
  if (settings.autoAdvance) {
    session.AdvanceAfterGoodTake();
  }
}

void ManualPolicy::PlaybackEnded(Session& session) {
  if (std::exchange(advanceAfterPlayback_, false)) {
    session.AdvanceAfterGoodTake();
  }
}

}  // namespace voxtar::session
