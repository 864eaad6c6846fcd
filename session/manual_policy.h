// SPDX-License-Identifier: GPL-3.0-or-later
// The operator drives the session: "Record" starts a take and "[STOP]" ends it (after the capture
// margin when one is set; a second press ends it at once). As the session settings ask, a saved
// take is played back ("Play each take") and a good one is moved on from to the next pending
// prompt ("Advance after a good take"), after its playback when it is played; any command of the
// operator's in between keeps the window where it is.
#pragma once

#include "session/session_policy.h"

namespace voxtar::session {

class ManualPolicy final : public SessionPolicy {
 public:
  void Record(Session& session) override;
  void OperatorTookOver(Session& session, CommandKind kind) override;
  void TakeEnded(Session& session, const TakeEnd& end) override;
  void TakeDiscarded(Session& /*session*/) override {}
  void PlaybackEnded(Session& session) override;

 private:
  // A take played back by "Play each take" is moved on from when it has been heard.
  bool advanceAfterPlayback_ = false;
};

}  // namespace voxtar::session
