// SPDX-License-Identifier: GPL-3.0-or-later
// The hands-free sitting: "Record" starts it on the current prompt, and from then on the operator
// only reads. The input is listened to while the sitting waits; a voice starting begins a take
// (the kept-open input's lead-in holds its first syllable), and the take ends once the voice has
// been silent for the end-silence time, but never before the reading can be complete: while the
// voice heard is clearly short of what the prompt's text takes at this speaker's pace, a pause is
// waited out far longer, so a comma pause never ends a take. A take that ended is saved with the
// margin after it and checked: a good one moves on to the next pending prompt and listens again
// at once; a flagged one stays on its prompt, its check showing why, and listens for the re-read.
//
// The sitting pauses when no voice comes for the wait for voice (nothing is saved) and when a
// take fills the take length limit (it is saved, and flagged); Record goes on. Record during a
// take ends the sitting as "[STOP]" ends a take; Ctrl+Shift+R drops the take and listens again;
// any other command ends the sitting first, a take with voice in it saved before the command
// runs. No take is ever thrown away by the sitting itself, and with no pending prompt left it
// ends by itself.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "audio/audio_engine.h"
#include "measures/voice_detector.h"
#include "session/session_policy.h"

namespace voxtar::session {

// How long this speaker's voice takes over a prompt: the voice heard per syllable of the text,
// learned from the sitting's accepted takes.
class ReadingPace {
 public:
  // Before the first take: a slow reader's pace, so a fast one is waited for rather than cut.
  static constexpr double kDefaultSecondsPerSyllable = 0.25;
  // What one take may teach: outside this a take is not a reading of its text.
  static constexpr double kFastestSecondsPerSyllable = 0.08;
  static constexpr double kSlowestSecondsPerSyllable = 0.6;

  // The syllables of a text: its vowel groups, each character of a script written in syllables
  // (kana, hangul, ideographs), a digit as one; a word written without vowels counts as one per
  // three letters.
  static double Syllables(std::u16string_view text);

  double secondsPerSyllable() const;
  // The voice a reading of `text` holds, in seconds.
  double ExpectedVoiceSeconds(std::u16string_view text) const;
  // An accepted take of `text` held `voicedSeconds` of voice.
  void Learn(std::u16string_view text, double voicedSeconds);

 private:
  double syllables_ = 0.0;
  double seconds_ = 0.0;
};

class HandsFreePolicy final : public SessionPolicy {
 public:
  // Voice heard under this share of the expected counts as a reading not yet complete.
  static constexpr double kIncompleteShare = 0.6;
  // The silence an incomplete reading is waited for before its take ends.
  static constexpr std::uint32_t kIncompleteWaitMs = 2500;
  // The least lead-in a sitting keeps before a take's start: the onset is found up to a few
  // frames after it rose, and its block reaches the session a little later still.
  static constexpr std::uint32_t kLeadMs = 600;
  // Silence shorter than this is a pause inside the reading, not yet "Ending".
  static constexpr std::uint32_t kEndingShownMs = measures::VoiceParameters::kHangoverMs;

  void Record(Session& session) override;
  void OperatorTookOver(Session& session, CommandKind kind) override;
  void TakeEnded(Session& session, const TakeEnd& end) override;
  void TakeDiscarded(Session& session) override;
  void PlaybackEnded(Session& /*session*/) override {}
  void Heard(Session& session, const audio::CaptureNotice& block, bool free) override;

  // The silence that ends a take with `voicedSeconds` of voice when its text wants `expected`.
  static std::uint32_t EndSilenceMs(std::uint32_t endSilenceMs, double voicedSeconds,
                                    double expected);
  const ReadingPace& pace() const { return pace_; }

 private:
  enum class Phase { Off, Listening, Recording, Stopping, WaitingForVoice, LimitReached };

  void Begin(Session& session);
  void Listen(Session& session);
  void Pause(Session& session, Phase phase);
  void End(Session& session);
  // The lead-in goes back to what the settings ask once no take of the sitting records.
  static void RestoreLeadIn(Session& session);
  // Stops the take now, as "[STOP]" does, or drops it when it holds no voice.
  void StopTake(Session& session);
  void Show(Session& session, double endingLeft = 0.0);
  // Acts on what was heard since the last block.
  void Decide(Session& session);
  double TakeVoicedSeconds() const;

  Phase phase_ = Phase::Off;
  std::optional<measures::VoiceDetector> detector_;
  audio::CaptureFormat format_;
  std::vector<float> decoded_;
  std::uint64_t listened_ = 0;      // frames heard since the sitting last began to listen
  std::uint64_t voicedBefore_ = 0;  // the detector's voice before the take's
  std::int32_t takePrompt_ = -1;    // the prompt the take is of
  double takeVoiced_ = 0.0;         // the voice of the take that is ending, in s
  // A voice already on when the sitting began to listen: the end of what went before.
  std::optional<std::uint64_t> staleOnset_;
  ReadingPace pace_;
};

}  // namespace voxtar::session
