#include "session/manual_policy.h"

#include <utility>

#include "session/session.h"

namespace voxtar {

void ManualPolicy::Record() {
  switch (session_.mode()) {
    case AudioMode::Idle:
      session_.StartTake();
      break;
    case AudioMode::Recording:
      session_.StopTake();
      break;
    case AudioMode::Playing:
      break;
  }
}

void ManualPolicy::OperatorTookOver(CommandKind /*kind*/) {
  // A take being played back is not moved on from by itself.
  advanceAfterPlayback_ = false;
}

void ManualPolicy::TakeEnded(const TakeEnd& end) {
  if (!end.saved || end.byItself) {
    return;
  }
  const SessionSettings& settings = session_.settings();
  if (settings.autoPlay) {
    session_.Play();
    // Heard first, then moved on from.
    if (session_.mode() == AudioMode::Playing) {
      advanceAfterPlayback_ = settings.autoAdvance;
      return;
    }
  }
  if (settings.autoAdvance) {
    session_.AdvanceAfterGoodTake();
  }
}

void ManualPolicy::PlaybackEnded() {
  if (std::exchange(advanceAfterPlayback_, false)) {
    session_.AdvanceAfterGoodTake();
  }
}

}  // namespace voxtar
