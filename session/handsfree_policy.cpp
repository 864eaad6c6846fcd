// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/handsfree_policy.h"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "audio/sample_kind.h"
#include "session/session.h"

namespace voxtar::session {

namespace {

bool IsVowel(char16_t c) {
  static constexpr std::u16string_view kVowels =
      u"aeiouyAEIOUY"
      u"\u00e0\u00e1\u00e2\u00e3\u00e4\u00e5\u00e6\u00e8\u00e9\u00ea\u00eb\u00ec\u00ed\u00ee"
      u"\u00ef\u00f2\u00f3\u00f4\u00f5\u00f6\u00f8\u00f9\u00fa\u00fb\u00fc\u00fd\u00ff"
      u"\u00c0\u00c1\u00c2\u00c3\u00c4\u00c5\u00c6\u00c8\u00c9\u00ca\u00cb\u00cc\u00cd\u00ce"
      u"\u00cf\u00d2\u00d3\u00d4\u00d5\u00d6\u00d8\u00d9\u00da\u00db\u00dc\u00dd"
      u"\u0101\u0113\u012b\u014d\u016b\u0119\u0105\u0151\u0171\u0153"
      u"\u0430\u0435\u0451\u0438\u043e\u0443\u044b\u044d\u044e\u044f\u0456\u0457\u0454"
      u"\u0410\u0415\u0401\u0418\u041e\u0423\u042b\u042d\u042e\u042f\u0406\u0407\u0404"
      u"\u03b1\u03b5\u03b7\u03b9\u03bf\u03c5\u03c9\u03ac\u03ad\u03ae\u03af\u03cc\u03cd\u03ce"
      u"\u0391\u0395\u0397\u0399\u039f\u03a5\u03a9";
  return kVowels.find(c) != std::u16string_view::npos;
}

// A script whose every character is a syllable.
bool IsSyllabic(char16_t c) {
  return (c >= 0x3040 && c <= 0x30ff) || (c >= 0x3400 && c <= 0x9fff) ||
         (c >= 0xac00 && c <= 0xd7af);
}

bool IsLetter(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
         (c >= 0xc0 && c < 0x2000 && c != 0xd7 && c != 0xf7);
}

}  // namespace

// ---- The pace -------------------------------------------------------------------------------

double ReadingPace::Syllables(std::u16string_view text) {
  double syllables = 0.0;
  int letters = 0;  // of the word begun
  int groups = 0;   // its vowel groups
  bool inVowel = false;
  const auto endWord = [&] {
    syllables += groups > 0 ? groups : std::ceil(letters / 3.0);
    letters = groups = 0;
    inVowel = false;
  };
  for (const char16_t c : text) {
    if (IsSyllabic(c) || (c >= u'0' && c <= u'9')) {
      endWord();
      syllables += 1.0;
    } else if (IsLetter(c)) {
      ++letters;
      const bool vowel = IsVowel(c);
      if (vowel && !inVowel) {
        ++groups;
      }
      inVowel = vowel;
    } else if (c != u'\'' && c != 0x2019) {
      endWord();
    }
  }
  endWord();
  return syllables;
}

double ReadingPace::secondsPerSyllable() const {
  return syllables_ > 0.0 ? seconds_ / syllables_ : kDefaultSecondsPerSyllable;
}

double ReadingPace::ExpectedVoiceSeconds(std::u16string_view text) const {
  return Syllables(text) * secondsPerSyllable();
}

void ReadingPace::Learn(std::u16string_view text, double voicedSeconds) {
  const double syllables = Syllables(text);
  if (syllables <= 0.0) {
    return;
  }
  const double pace = voicedSeconds / syllables;
  if (pace < kFastestSecondsPerSyllable || pace > kSlowestSecondsPerSyllable) {
    return;
  }
  syllables_ += syllables;
  seconds_ += voicedSeconds;
}

// ---- The sitting ----------------------------------------------------------------------------

std::uint32_t HandsFreePolicy::EndSilenceMs(std::uint32_t endSilenceMs, double voicedSeconds,
                                            double expected) {
  if (voicedSeconds < kIncompleteShare * expected) {
    return std::max(endSilenceMs, kIncompleteWaitMs);
  }
  return endSilenceMs;
}

void HandsFreePolicy::Record(Session& session) {
  switch (phase_) {
    case Phase::Off:
      if (session.mode() == AudioMode::Idle) {
        Begin(session);
      }
      break;
    case Phase::Listening:
      End(session);
      break;
    case Phase::Recording:
    case Phase::Stopping:
      End(session);
      StopTake(session);
      break;
    case Phase::WaitingForVoice:
    case Phase::LimitReached:
      Listen(session);
      break;
  }
}

void HandsFreePolicy::OperatorTookOver(Session& session, CommandKind kind) {
  switch (kind) {
    case CommandKind::Record:
      return;
    case CommandKind::Discard:
      // The take, if any, is dropped by the command; the sitting listens afresh.
      if (phase_ == Phase::Listening || phase_ == Phase::WaitingForVoice ||
          phase_ == Phase::LimitReached) {
        Listen(session);
      }
      return;
    case CommandKind::Lesson:
    case CommandKind::Window:
      break;
  }
  if (phase_ == Phase::Off) {
    return;
  }
  const bool taking = phase_ == Phase::Recording || phase_ == Phase::Stopping;
  End(session);
  // A take with voice in it is kept: saved now, before the command runs.
  if (taking && session.mode() == AudioMode::Recording) {
    if (TakeVoicedSeconds() > 0.0) {
      session.EndTake();
    } else {
      session.DiscardTake();
    }
  }
}

void HandsFreePolicy::StopTake(Session& session) {
  if (session.mode() != AudioMode::Recording) {
    return;
  }
  if (TakeVoicedSeconds() > 0.0) {
    session.StopTake();
  } else {
    session.DiscardTake();
  }
}

void HandsFreePolicy::TakeEnded(Session& session, const TakeEnd& end) {
  if (phase_ == Phase::Off) {
    RestoreLeadIn(session);  // the sitting ended while its last take was finishing
    return;
  }
  if (!end.saved || (end.byItself && !end.limitReached)) {
    End(session);  // its box said why
    return;
  }
  if (end.limitReached) {
    Pause(session, Phase::LimitReached);
    return;
  }
  const lesson::Lesson& lesson = session.lesson();
  const std::int32_t index = lesson.prompts.currentIndex;
  const std::optional<measures::Judgement> judgement =
      session.flow().judge().Judge(static_cast<std::size_t>(index));
  if (!judgement || !judgement->ok() || index != takePrompt_) {
    Listen(session);  // the check shows why; the re-read is listened for
    return;
  }
  if (const lesson::PromptEntry* entry = lesson.current()) {
    pace_.Learn(entry->text, takeVoiced_);
  }
  session.AdvanceAfterGoodTake();
  if (session.lesson().prompts.currentIndex == index) {
    End(session);  // no pending prompt left
    return;
  }
  Listen(session);
}

void HandsFreePolicy::TakeDiscarded(Session& session) {
  if (phase_ == Phase::Off) {
    RestoreLeadIn(session);
  } else {
    Listen(session);
  }
}

void HandsFreePolicy::RestoreLeadIn(Session& session) {
  session.flow().SetPreRoll(session.settings().preRollMs);
}

void HandsFreePolicy::Begin(Session& session) {
  const SessionSettings& settings = session.settings();
  session.flow().SetPreRoll(std::max(settings.preRollMs, kLeadMs));
  if (!session.flow().preRollRunning()) {
    // Without the input kept open there is nothing to listen to; its box said why.
    session.flow().SetPreRoll(settings.preRollMs);
    return;
  }
  detector_.reset();
  session.ListenToInput(true);
  Listen(session);
}

void HandsFreePolicy::Listen(Session& session) {
  phase_ = Phase::Listening;
  listened_ = 0;
  voicedBefore_ = detector_ ? detector_->voicedFrames() : 0;
  staleOnset_ = detector_ && detector_->voiceOn() ? detector_->voiceSince() : std::nullopt;
  takeVoiced_ = 0.0;
  session.SetRecordButton(Session::RecordButton::Stop);
  Show(session);
}

void HandsFreePolicy::Pause(Session& session, Phase phase) {
  phase_ = phase;
  session.SetRecordButton(Session::RecordButton::Stop);
  Show(session);
}

void HandsFreePolicy::End(Session& session) {
  phase_ = Phase::Off;
  session.ListenToInput(false);
  // A take still finishing keeps its input until it is saved.
  if (session.mode() != AudioMode::Recording) {
    RestoreLeadIn(session);
    session.SetRecordButton(Session::RecordButton::Record);
  }
  Show(session);
}

void HandsFreePolicy::Show(Session& session, double endingLeft) {
  SittingState state;
  switch (phase_) {
    case Phase::Off:
      break;
    case Phase::Listening:
      state.phase = SittingState::Phase::Listening;
      break;
    case Phase::Recording:
      state.phase = endingLeft > 0.0 ? SittingState::Phase::Ending : SittingState::Phase::Recording;
      // In twentieths: the bar moves, the window is not redrawn for every block.
      state.endingLeft = std::ceil(endingLeft * 20.0) / 20.0;
      break;
    case Phase::Stopping:
      state.phase = SittingState::Phase::Ending;
      break;
    case Phase::WaitingForVoice:
      state.phase = SittingState::Phase::WaitingForVoice;
      break;
    case Phase::LimitReached:
      state.phase = SittingState::Phase::LimitReached;
      break;
  }
  session.ShowSitting(state);
}

void HandsFreePolicy::Heard(Session& session, const audio::CaptureNotice& block, bool free) {
  if (phase_ != Phase::Listening && phase_ != Phase::Recording && phase_ != Phase::Stopping) {
    return;
  }
  const audio::CaptureFormat& format = block.format();
  if (!detector_ || format != format_) {
    format_ = format;
    detector_.emplace(format.sampleRate, format.channels);
    voicedBefore_ = 0;
  }
  if (block.kept()) {
    // The room just before the sitting listened: the floor to hear a voice against.
    audio::DecodeSamples(format.kind, block.frames(), &decoded_);
    detector_->Prime(decoded_);
    return;
  }
  if (phase_ == Phase::Listening && !detector_->voiceOn()) {
    voicedBefore_ = detector_->voicedFrames();
  }
  detector_->Feed(block.frames(), format.kind);
  if (phase_ == Phase::Listening) {
    listened_ += block.frames().size() / audio::BytesPerSample(format.kind) /
                 static_cast<std::size_t>(std::max(format.channels, 1));
  }
  if (free && phase_ != Phase::Stopping) {
    Decide(session);
  }
}

void HandsFreePolicy::Decide(Session& session) {
  const SessionSettings& settings = session.settings();
  if (phase_ == Phase::Listening) {
    if (detector_->voiceOn() && detector_->voiceSince() != staleOnset_) {
      takePrompt_ = session.lesson().prompts.currentIndex;
      session.StartTake();
      if (session.mode() == AudioMode::Recording) {
        phase_ = Phase::Recording;
        Show(session);
      } else {
        End(session);  // refused: its box said why
      }
    } else if (listened_ >= static_cast<std::uint64_t>(settings.waitForVoiceS) *
                                static_cast<std::uint64_t>(format_.sampleRate)) {
      Pause(session, Phase::WaitingForVoice);
    }
    return;
  }
  if (session.mode() != AudioMode::Recording) {
    return;
  }
  const lesson::PromptEntry* entry = session.lesson().current();
  const double expected = entry != nullptr ? pace_.ExpectedVoiceSeconds(entry->text) : 0.0;
  const std::uint32_t silence = detector_->silenceMs();
  const std::uint32_t wait = EndSilenceMs(settings.endSilenceMs, TakeVoicedSeconds(), expected);
  if (silence >= wait) {
    takeVoiced_ = TakeVoicedSeconds();
    phase_ = Phase::Stopping;
    Show(session);
    session.StopTake();
  } else if (silence >= kEndingShownMs) {
    Show(session, static_cast<double>(wait - silence) / static_cast<double>(wait));
  } else {
    Show(session);
  }
}

double HandsFreePolicy::TakeVoicedSeconds() const {
  if (!detector_) {
    return 0.0;
  }
  const std::uint64_t voiced = detector_->voicedFrames();
  return voiced > voicedBefore_ ? static_cast<double>(voiced - voicedBefore_) /
                                      static_cast<double>(std::max(format_.sampleRate, 1))
                                : 0.0;
}

}  // namespace voxtar::session
