// SPDX-License-Identifier: GPL-3.0-or-later
// Where a voice is, told from the room it is recorded in at any level: the one voice detector
// every judgement of a take rests on (its head, tail, voice span, noise floor, whether it is
// silent or cut) and that a live recording asks whether the operator is speaking.
//
// Streaming and deterministic: interleaved float samples (1.0 = full scale) of any rate and
// channel count go in, in blocks of any size; the same input gives the same decisions however it
// is cut into blocks. Each frame of kFrameMs is decided on two levels of the channels' mean: its
// energy less its mean over the frame (the DC and the slowest rumble, which make half the spread
// of a room's frame energies and none of a voice's), and its high-band energy (through a band
// filter around 6 kHz, where /s/, /f/ and /sh/ have their strength and room noise little).
//
// The noise floor is the kFloorPercentile-th percentile of the frame energies of about the last
// kFloorWindowMs, a low percentile being room whatever the voice does (a talker leaves more than
// that share of pauses, closures and breaths), but not a dropout or a stray silent frame, as
// the minimum would be. It tracks a room that gets quieter or louder within seconds. The high
// band has a floor of its own, found the same way. A floor never falls below kMinFloorDb, so
// that digital silence and the last bits of a 16-bit file never count as voice, and never rises
// above kMaxFloorDb, so that sound with no quiet in it (a take that is voice from end to end, a
// steady tone) is voice and not room.
//
// A voice begins where kMinStartFrames frames reach kStartDb above the floor within one run of
// frames above the continue threshold. Its onset is placed back to where its level first rose:
// the earliest of the frames before it that stand kRiseDb above either floor, with no more than
// kRiseGapMs of other frames between them, and at most kLookbackMs before its first loud frame,
// so that an initial /z/ or the burst of a /p/ is inside and the head right to a frame. A frame
// continues the voice when its energy is kContinueDb above the floor or its high band
// kHighContinueDb above the high band's floor: the lower continue threshold (hysteresis) keeps
// the soft ends of words, the high band their fricatives. After a pause, voice continues only
// with kMinStartFrames such frames in a row, so that a click or the key that stopped the take does
// not lengthen it. A voice ends at the end of its last continuing frame, once kHangoverMs have
// passed without one: stop closures and short pauses stay inside one span; a comma pause of a
// second gives two spans.
//
// Priming: a detector starts with no floor and takes its first frames for room until it has one.
// A live caller primes it from the input it kept open before the take (Prime); a take file is
// primed from its own quiet frames (PrimeFloor over all its frames, as the take measures do), so
// that a take starting in the middle of a word is found cut. After priming, the frames are
// decided one by one as they come, the same for a file as live.
//
// Live: feed each captured block (10 ms or any other size) as it comes, then ask whether a voice
// is on and since when, how long it has been silent (a click does not break a silence), how much
// voice there was, and the floor; or act on the onset and end events Feed returns. Positions count
// sample frames from the first one fed after priming; an onset lies up to kLookbackMs before the
// block that decided it, never before position 0 (to find an onset inside the pre-roll, prime
// from its older part and feed the newer). An end is decided kHangoverMs after it. Not
// thread-safe: one thread feeds and asks.
//
// The parameters, and why these values:
//   kFrameMs = 10             a frame short enough to place an onset to 10 ms, long enough to
//                             hold a period of the lowest voice (80 Hz: 12.5 ms spans two frames).
//   kFloorPercentile = 10 %   of kFloorWindowMs = 4 s: 400 ms of the last 4 s must be room for
//                             the floor to stay there; read speech leaves 20-40 % in pauses and
//                             closures, while a dropout of up to 400 ms does not pull it down.
//   kFloorBiasDb = 1.5        the 10th percentile of 10 ms energies lies 1-2 dB below their mean
//                             (of pink noise without its DC, 1.5 dB), so the floor reads as the
//                             room's RMS: pink noise 1.4 dB (48 kHz) to 2.4 dB (16 kHz) below its
//                             full RMS, whose rumble is not in it; white noise 1.3 dB above.
//   kMinFloorDb = -90 dBFS    below the noise of a 16-bit file with dither (-96 dBFS), far below
//                             any voice worth a take (a peak of -40 dBFS has syllables at -55).
//   kMaxFloorDb = -30 dBFS    no room to record a voice in is that loud (30 dB below a full-scale
//                             voice); a level that steady and loud is sound, not room.
//   kStartDb = 10             above the floor, a frame may begin voice: three frames of room
//                             noise in a row that far up do not happen (of pink noise, one frame
//                             in a thousand reaches +3.3 dB, none in a minute +5), while a
//                             syllable 30 dB above the room (peak over RMS) has frames 15-20 dB
//                             above it.
//   kContinueDb = 5           above the floor, a frame continues voice: the soft end of a word,
//                             halfway between room and syllable, just above the room's own
//                             frames.
//   kHighContinueDb = 4       the high band above its floor continues voice: the band of room
//                             noise is steadier (pink noise stays within 1 dB of the floor) and
//                             a trailing /s/ or /f/, 20-25 dB below its vowel in energy, stands
//                             5 dB and more above a room 30 dB below the voice's peak there.
//   kMinStartFrames = 3       30 ms of loud frames begin a voice, and 30 ms of voice-like frames
//                             resume one after a pause: a click (under 10 ms) touches two frames
//                             at most, the shortest syllable lasts 50 ms.
//   kRiseDb = 3               above either floor, a frame before an onset belongs to the voice's
//                             rise: room noise reaches it in about one frame of a thousand, now
//                             that the voice is known to follow.
//   kRiseGapMs = 80           quiet inside a rise: the closure between an initial fricative and
//                             the vowel (the /t/ of "stop", the /d/ of "zdes'": 30-80 ms).
//   kLookbackMs = 200         an onset is placed back at most this far before its first loud
//                             frame: an initial /s/ or a soft rise lasts up to 150 ms.
//   kHangoverMs = 300         silence a voice span keeps inside: stop closures (50-150 ms) and
//                             pauses between words; a comma pause (0.5-1 s) ends the span.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "audio/sample_kind.h"

namespace voxtar::measures {

struct VoiceParameters {
  static constexpr std::uint32_t kFrameMs = 10;
  static constexpr double kFloorPercentile = 0.10;
  static constexpr std::uint32_t kFloorWindowMs = 4000;
  static constexpr double kFloorBiasDb = 1.5;
  static constexpr double kMinFloorDb = -90.0;
  static constexpr double kMaxFloorDb = -30.0;
  static constexpr double kStartDb = 10.0;
  static constexpr double kContinueDb = 5.0;
  static constexpr double kHighContinueDb = 4.0;
  static constexpr int kMinStartFrames = 3;
  static constexpr double kRiseDb = 3.0;
  static constexpr std::uint32_t kRiseGapMs = 80;
  static constexpr std::uint32_t kLookbackMs = 200;
  static constexpr std::uint32_t kHangoverMs = 300;
};

// The levels of one frame that its decision rests on: mean squares, 1.0 = full scale.
struct VoiceFrameLevels {
  float energy = 0.0f;       // of every sample of the frame, all channels: its RMS squared
  float acEnergy = 0.0f;     // of the channels' mean less its mean over the frame (DC, rumble)
  float highEnergy = 0.0f;   // of the channels' mean through the high band
  float peak = 0.0f;         // the largest magnitude of any sample of the frame
  std::uint32_t length = 0;  // sample frames: frameLength(), less for the last of a file

  bool operator==(const VoiceFrameLevels&) const = default;
};

// Cuts interleaved samples, in blocks of any size, into frames of VoiceParameters::kFrameMs and
// gives the levels of each.
class VoiceFrameAnalyzer {
 public:
  VoiceFrameAnalyzer(int sampleRate, int channels);

  int sampleRate() const { return sampleRate_; }
  int channels() const { return channels_; }
  // Sample frames per frame (at least one).
  std::uint64_t frameLength() const { return frameLength_; }

  // Appends the levels of every frame the block completes; a trailing partial sample frame is
  // kept for the next block.
  void Feed(std::span<const float> block, std::vector<VoiceFrameLevels>* frames);
  // The levels of the frame begun but not complete (the end of a file), if any; it is then done.
  std::optional<VoiceFrameLevels> Flush();

 private:
  void AddSamples(const float* samples, std::size_t frames);
  VoiceFrameLevels Complete();

  int sampleRate_;
  int channels_;
  std::uint64_t frameLength_;
  std::size_t lag_;             // of the high band's comb: about rate / 12 kHz
  float highGain_;              // brings the band's peak gain to 1
  std::vector<float> mono_;     // the channels' mean over the frame begun
  std::size_t reach_;           // samples the high band's filter reaches back
  std::vector<float> partial_;  // samples of a sample frame split between blocks
  double sumSquares_ = 0.0;     // of every sample of the frame begun
  double monoSum_ = 0.0;        // of its channels' mean
  double monoSquares_ = 0.0;
  float peak_ = 0.0f;
  std::uint64_t filled_ = 0;  // sample frames of the frame begun
};

// A stretch of voice, in sample frames since the detector began: [first, end).
struct VoiceSpan {
  std::uint64_t first = 0;
  std::uint64_t end = 0;

  bool operator==(const VoiceSpan&) const = default;
};

// The decision on one frame: whether it is voice-like (it continues a voice, or begins one when
// loud) and the floors it was judged against. Whether it is voice follows with the spans: a
// voice-like frame inside one.
struct VoiceDecision {
  std::uint64_t first = 0;  // sample frame where the frame begins
  std::uint32_t length = 0;
  bool active = false;
  bool loud = false;
  std::optional<double> floorDb;
  std::optional<double> highFloorDb;

  bool operator==(const VoiceDecision&) const = default;
};

struct VoiceEvent {
  enum class Kind { Onset, End };
  Kind kind = Kind::Onset;
  // Onset: where the voice began (placed back to its first rise; before the block that decided
  // it). End: where the voice ended, the end of its last continuing frame (decided kHangoverMs
  // later).
  std::uint64_t at = 0;

  bool operator==(const VoiceEvent&) const = default;
};

// Keeps the floor of one level: a percentile of the last frames, in steps of kStepDb.
class FloorTracker {
 public:
  static constexpr double kStepDb = 0.25;
  static constexpr double kLowestDb = -140.0;
  static constexpr double kHighestDb = 20.0;

  explicit FloorTracker(std::size_t window);

  // The floor as RMS in dBFS (within kMinFloorDb..kMaxFloorDb); none before any frame.
  std::optional<double> floorDb() const;
  void Add(double levelDb);
  // Fills the window with one level, as if it had been heard for all of it.
  void Fill(double levelDb);

 private:
  std::size_t BinOf(double levelDb) const;
  // Moves bin_ to the bin that holds the percentile, a step or two at a time.
  void Settle();

  std::vector<std::uint32_t> counts_;
  std::vector<std::uint16_t> ring_;  // the window's bins, oldest at next_ once full
  std::size_t window_;
  std::size_t next_ = 0;
  std::size_t size_ = 0;
  std::size_t bin_ = 0;    // the percentile's bin
  std::size_t below_ = 0;  // levels in the bins below it
};

class VoiceDetector {
 public:
  VoiceDetector(int sampleRate, int channels);

  int sampleRate() const { return analyzer_.sampleRate(); }
  int channels() const { return analyzer_.channels(); }
  std::uint64_t frameLength() const { return analyzer_.frameLength(); }

  // Primes the floors from room heard before the take (the kept-open input's pre-roll): their
  // percentile fills the window. Decides nothing and does not move position().
  void Prime(std::span<const float> room);
  // Primes the floors from the levels of these frames (a take file's, all of them): their
  // percentile fills the window.
  void PrimeFloor(std::span<const VoiceFrameLevels> frames);

  // The next samples; the events they decided, valid until the next call (decisions() has each
  // frame's decision).
  std::span<const VoiceEvent> Feed(std::span<const float> block);
  // The next samples as the capture side holds them, interleaved samples of `kind` (a trailing
  // part of a sample is ignored).
  std::span<const VoiceEvent> Feed(std::span<const std::byte> block, audio::SampleKind kind);
  // The next frame, as VoiceFrameAnalyzer measured it (a file analysed ahead); its events.
  std::span<const VoiceEvent> Push(const VoiceFrameLevels& frame);
  // The end of the input: the frame begun is decided, and a voice still on ends at its last
  // continuing frame. What is fed after is ignored.
  std::span<const VoiceEvent> Finish();
  // The decisions on the frames of the last Feed, Push or Finish.
  std::span<const VoiceDecision> decisions() const { return decisions_; }

  // Sample frames decided so far (whole frames, and the last partial one after Finish).
  std::uint64_t position() const { return position_; }
  // A voice is on (perhaps in its hangover), since voiceSince().
  bool voiceOn() const { return state_ == State::Voice; }
  std::optional<std::uint64_t> voiceSince() const;
  // Sample frames since the voice last continued; all of position() when there was none yet.
  std::uint64_t silenceFrames() const;
  std::uint32_t silenceMs() const;
  // Sample frames of voice so far: the spans ended, and the one on up to its last continuing
  // frame.
  std::uint64_t voicedFrames() const;
  // The current noise floor (RMS, dBFS) and that of the high band; none before any frame.
  std::optional<double> floorDb() const { return floor_.floorDb(); }
  std::optional<double> highFloorDb() const { return highFloor_.floorDb(); }
  // Every span ended so far, in order.
  const std::vector<VoiceSpan>& spans() const { return spans_; }

 private:
  enum class State { Quiet, Voice };

  void Decide(const VoiceFrameLevels& frame);
  void EndVoice();
  std::uint64_t FramesOfMs(std::uint32_t ms) const;

  VoiceFrameAnalyzer analyzer_;
  FloorTracker floor_;
  FloorTracker highFloor_;
  std::vector<VoiceFrameLevels> frames_;  // scratch for Feed
  std::vector<float> decoded_;            // scratch for Feed of another kind
  std::vector<VoiceEvent> events_;
  std::vector<VoiceDecision> decisions_;
  std::vector<VoiceSpan> spans_;
  State state_ = State::Quiet;
  std::uint64_t position_ = 0;
  // While quiet: a run of voice-like frames (its loud frames, the first of them), and the rise
  // that leads to it (where it began, and the sample frames since its last rising frame).
  int runLoud_ = 0;
  std::uint64_t runFirstLoud_ = 0;
  std::optional<std::uint64_t> riseFirst_;
  std::uint64_t riseGap_ = 0;
  // While voice is on: where it began, the voice-like frames in a row up to now, and where its
  // last continuing frame ended.
  std::uint64_t onset_ = 0;
  int runActive_ = 0;
  std::optional<std::uint64_t> lastVoiced_;  // end of the last continuing frame of any voice
  std::uint64_t spansVoiced_ = 0;            // sample frames of the spans ended
  bool finished_ = false;
};

}  // namespace voxtar::measures
