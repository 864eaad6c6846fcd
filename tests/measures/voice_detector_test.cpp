// SPDX-License-Identifier: GPL-3.0-or-later
#include "measures/voice_detector.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "measures/judgement.h"
#include "tests/measures/measures_test_support.h"

namespace voxtar::measures {
namespace {

constexpr double kSilence = -std::numeric_limits<double>::infinity();
constexpr double kHeadS = 0.8;  // room before the voice
constexpr double kTailS = 1.0;  // room after it
constexpr double kCutS = 0.15;  // how far into the voice a cut take begins or ends

enum class Cut { None, Start, End };

struct Row {
  const char* what;
  double roomDb;                 // RMS of pink room noise; kSilence: digital silence
  std::optional<double> peakDb;  // of the voice; none: room alone
  Cut cut = Cut::None;
  const char* problems = "ok";  // as the "course" profile names them
  int rate = 48000;
  int channels = 1;
  double commaPauseS = 1.0;
};

// The take a row describes, and where its voice truly begins and ends (seconds).
struct MadeTake {
  audio::WaveElement take;
  double voiceFirstS = 0.0;
  double voiceEndS = 0.0;
};

MadeTake MakeTake(const Row& row, std::uint32_t seed) {
  const int rate = row.rate;
  std::vector<double> voice =
      row.peakDb ? audio::SpokenSentence(rate, seed, row.commaPauseS) : std::vector<double>();
  const double gain = row.peakDb ? std::pow(10.0, *row.peakDb / 20.0) : 0.0;
  const auto head = static_cast<std::size_t>(kHeadS * rate);
  const auto tail = static_cast<std::size_t>(kTailS * rate);
  const std::size_t frames = head + voice.size() + tail;
  std::vector<double> sound = row.roomDb == kSilence ? std::vector<double>(frames)
                                                     : audio::PinkRoom(frames, row.roomDb, seed);
  for (std::size_t n = 0; n < voice.size(); ++n) {
    sound[head + n] += gain * voice[n];
  }
  std::size_t first = 0;
  std::size_t end = frames;
  if (row.cut == Cut::Start) {
    first = head + static_cast<std::size_t>(kCutS * rate);
  } else if (row.cut == Cut::End) {
    end = head + voice.size() - static_cast<std::size_t>(kCutS * rate);
  }
  MadeTake made;
  made.take = audio::MakeElement(SF_FORMAT_WAV | SF_FORMAT_PCM_16, rate, row.channels, end - first);
  audio::PutFrames(&made.take, 0, end - first,
                   [&](std::uint64_t n, std::size_t) { return sound[first + n]; });
  made.voiceFirstS = static_cast<double>(std::max(head, first) - first) / rate;
  made.voiceEndS = static_cast<double>(std::min(head + voice.size(), end) - first) / rate;
  if (!row.peakDb) {  // head and tail are all of a silent take
    made.voiceFirstS = static_cast<double>(end - first) / rate;
    made.voiceEndS = 0.0;
  }
  return made;
}

using TakesInARoom = TakeFiles;

// Made-up speech in rooms from digital silence to -40 dBFS of pink noise, its peak from -3 to
// -40 dBFS and at least 30 dB above the room: the floor within 3 dB, the head within 0.1 s and
// the tail within 0.2 s of the truth, the problems those of the take as it was made, and "acx"
// finding it noisy exactly when the room is above its -60 dBFS limit.
TEST_F(TakesInARoom, FloorHeadTailAndProblemsAreThoseTheTakeWasMadeWith) {
  const Row rows[] = {
      {"a loud voice in digital silence", kSilence, -3},
      {"a quiet voice in digital silence", kSilence, -40, Cut::None, "too quiet"},
      {"a voice in a quiet studio", -80, -20},
      {"a voice in an ordinary room", -62, -12},
      {"a voice 30 dB above a noisy room", -40, -10},
      {"a loud voice in the noisiest room", -40, -3, Cut::None, "ok", 44100, 2},
      {"a voice with a comma pause of 1.5 s", -65, -15, Cut::None, "ok", 48000, 1, 1.5},
      {"a quiet voice at 16 kHz", -75, -35, Cut::None, "too quiet", 16000},
      // Takes that broke off.
      {"cut 150 ms into the voice at the start", -62, -20, Cut::Start, "cut at the start"},
      {"cut 150 ms into the voice at the end", -62, -20, Cut::End, "cut at the end"},
      {"cut at the start in digital silence", kSilence, -6, Cut::Start, "cut at the start"},
      {"cut at the end in a noisy room", -40, -10, Cut::End, "cut at the end"},
      // Room alone.
      {"a noisy room and no voice", -45, std::nullopt, Cut::None, "silent"},
      {"a quiet room and no voice", -85, std::nullopt, Cut::None, "silent"},
      // What a fixed threshold of -50 dBFS misjudged: a room of -42 or -50 dBFS made the whole
      // take voice, cut at both ends, with no floor; "acx" missed every take at -45 dBFS; speech
      // below -50 dBFS was room (noisy, a long head, 933 characters a second); a take peaking at
      // -42 dBFS was silent.
      {"a -42 dBFS room is not voice", -42, -8},
      {"a -50 dBFS room is not voice", -50, -15},
      {"a -45 dBFS room is noisy", -45, -10},
      {"a voice below -50 dBFS is voice", -85, -45, Cut::None, "too quiet"},
      {"a voice peaking at -42 dBFS is not silent", -90, -42, Cut::None, "too quiet"},
  };
  const DeliveryProfile course = *BuiltInProfile("course");
  const DeliveryProfile acx = *BuiltInProfile("acx");
  std::uint32_t seed = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const MadeTake made = MakeTake(row, ++seed);
    const TakeMeasures m = Measure(made.take);
    // Unknown (null) reads 0 dBFS: wrong either way.
    if (row.roomDb == kSilence) {
      EXPECT_LT(m.noiseFloorDb.value_or(0.0), -90.0);
    } else {
      EXPECT_NEAR(m.noiseFloorDb.value_or(0.0), row.roomDb, 3.0);
    }
    EXPECT_NEAR(m.headMs / 1000.0, made.voiceFirstS, 0.1);
    EXPECT_NEAR(m.tailMs / 1000.0, m.durationMs / 1000.0 - made.voiceEndS, 0.2);
    EXPECT_EQ(Names(Judge(m, course, {})), row.problems);
    EXPECT_EQ(Judge(m, acx, {}).Has(Problem::Noisy), row.peakDb && row.roomDb > -60.0);
  }
}

// The samples of a take made for a row, as a live input would deliver them.
std::vector<float> Samples(const audio::WaveElement& take) {
  std::vector<float> samples(static_cast<std::size_t>(take.frames()) *
                             static_cast<std::size_t>(take.channels));
  const std::vector<std::byte> bytes = audio::Bytes(take);
  for (std::size_t n = 0; n < samples.size(); ++n) {
    std::int16_t raw = 0;
    std::memcpy(&raw, bytes.data() + 2 * n, 2);
    samples[n] = static_cast<float>(raw) / 32768.0f;
  }
  return samples;
}

struct Fed {
  std::vector<VoiceEvent> events;
  std::vector<VoiceDecision> decisions;
  std::vector<VoiceSpan> spans;
};

// Primes a detector from the first `primeS` of the samples, feeds it the rest in blocks of
// `block` samples and finishes it.
Fed FeedInBlocks(const std::vector<float>& samples, int rate, int channels, double primeS,
                 std::size_t block) {
  VoiceDetector detector(rate, channels);
  const auto primed = static_cast<std::size_t>(primeS * rate) * static_cast<std::size_t>(channels);
  detector.Prime(std::span(samples).first(primed));
  Fed fed;
  const auto keep = [&](std::span<const VoiceEvent> events) {
    fed.events.insert(fed.events.end(), events.begin(), events.end());
    fed.decisions.insert(fed.decisions.end(), detector.decisions().begin(),
                         detector.decisions().end());
  };
  for (std::size_t at = primed; at < samples.size(); at += block) {
    keep(detector.Feed(std::span(samples).subspan(at, std::min(block, samples.size() - at))));
  }
  keep(detector.Finish());
  fed.spans = detector.spans();
  return fed;
}

// A live input primed from its pre-roll and fed in blocks of any size decides as if fed at once,
// and finds the voice where the take's measures find it.
TEST_F(TakesInARoom, FedInBlocksOfAnySizeTheSpansAreThoseOfTheWholeTake) {
  for (const Row& row :
       {Row{"mono", -55, -10}, Row{"stereo", -70, -20, Cut::None, "ok", 44100, 2}}) {
    SCOPED_TRACE(row.what);
    const MadeTake made = MakeTake(row, 7);
    const std::vector<float> samples = Samples(made.take);
    const auto frame =
        static_cast<std::size_t>(row.rate / 100) * static_cast<std::size_t>(row.channels);
    const Fed whole = FeedInBlocks(samples, row.rate, row.channels, 0.5, samples.size());
    for (const std::size_t block : {frame, std::size_t{7}, frame * 3 + 1, std::size_t{4096}}) {
      const Fed fed = FeedInBlocks(samples, row.rate, row.channels, 0.5, block);
      EXPECT_EQ(fed.events, whole.events) << block;
      EXPECT_EQ(fed.decisions, whole.decisions) << block;
    }
    // As the capture side delivers it: 16-bit samples in blocks of 10 ms.
    VoiceDetector live(row.rate, row.channels);
    const auto primed = static_cast<std::size_t>(row.rate / 2);
    live.Prime(std::span(samples).first(primed * static_cast<std::size_t>(row.channels)));
    const std::vector<std::byte> bytes = audio::Bytes(made.take);
    std::vector<VoiceEvent> events;
    for (std::size_t at = 2 * primed * static_cast<std::size_t>(row.channels); at < bytes.size();
         at += 2 * frame) {
      const auto block = std::span(bytes).subspan(at, std::min(2 * frame, bytes.size() - at));
      for (const VoiceEvent& event : live.Feed(block, audio::SampleKind::Int16)) {
        events.push_back(event);
      }
    }
    for (const VoiceEvent& event : live.Finish()) {
      events.push_back(event);
    }
    EXPECT_EQ(events, whole.events);
    // The comma pause parts the sentence in two; each onset comes before its end.
    ASSERT_EQ(whole.spans.size(), 2u);
    ASSERT_EQ(whole.events.size(), 4u);
    EXPECT_EQ(whole.events[0], (VoiceEvent{VoiceEvent::Kind::Onset, whole.spans[0].first}));
    EXPECT_EQ(whole.events[3], (VoiceEvent{VoiceEvent::Kind::End, whole.spans[1].end}));
    const TakeMeasures m = Measure(made.take);
    const auto ms = [&](std::uint64_t frames) {
      return (frames + primed) * 1000 / static_cast<std::uint64_t>(row.rate);
    };
    EXPECT_NEAR(static_cast<double>(ms(whole.spans.front().first)), m.headMs, 10.0);
    EXPECT_NEAR(static_cast<double>(m.durationMs - ms(whole.spans.back().end)), m.tailMs, 10.0);
  }
}

// What a live caller asks, block by block: whether the voice is on and since when, how long it
// has been silent, how much voice there was, and the floor.
TEST_F(TakesInARoom, ALiveCallerFollowsTheVoiceThroughItsCommaPause) {
  const Row row{"live", -60, -12, Cut::None, "ok", 48000, 1, 1.2};
  const MadeTake made = MakeTake(row, 3);
  const std::vector<float> samples = Samples(made.take);
  VoiceDetector detector(row.rate, 1);
  ASSERT_FALSE(detector.floorDb());
  detector.Prime(std::span(samples).first(24000));  // the first 0.5 s: the pre-roll
  ASSERT_TRUE(detector.floorDb());
  EXPECT_NEAR(*detector.floorDb(), row.roomDb, 3.0);
  EXPECT_EQ(detector.position(), 0u);

  const auto at = [](double seconds) { return static_cast<std::uint64_t>(seconds * 48000); };
  std::uint64_t longestSilence = 0;
  bool onInThePause = false;
  std::vector<VoiceEvent> events;
  std::optional<std::uint64_t> since;
  // Whole 10 ms blocks, as a sound server hands them over (the take's last few samples are left).
  for (std::size_t n = 24000; n + 480 <= samples.size(); n += 480) {
    for (const VoiceEvent& event : detector.Feed(std::span(samples).subspan(n, 480))) {
      events.push_back(event);
    }
    if (detector.voiceOn() && !since) {
      since = detector.voiceSince();
    }
    const double now = (static_cast<double>(n) + 480) / 48000;
    if (now < kHeadS - 0.1) {
      EXPECT_FALSE(detector.voiceOn()) << now;
    }
    longestSilence = std::max<std::uint64_t>(longestSilence, detector.silenceMs());
    onInThePause = onInThePause || (detector.voiceOn() && detector.silenceMs() > 400);
    EXPECT_EQ(detector.position(), n + 480 - 24000);
  }
  ASSERT_TRUE(since);
  EXPECT_NEAR(static_cast<double>(*since + at(0.5)) / 48000, made.voiceFirstS, 0.1);
  // The hangover ends the voice in the comma pause, which is silence as long as it is.
  EXPECT_FALSE(onInThePause);
  EXPECT_NEAR(static_cast<double>(longestSilence), 1200.0, 120.0);
  // On, off, on, off: the second voice ended in the room after it.
  ASSERT_EQ(events.size(), 4u);
  EXPECT_FALSE(detector.voiceOn());
  EXPECT_FALSE(detector.voiceSince());
  EXPECT_NEAR(static_cast<double>(detector.silenceMs()), kTailS * 1000, 200.0);
  ASSERT_EQ(detector.spans().size(), 2u);
  EXPECT_NEAR(static_cast<double>(detector.voicedFrames()) / 48000,
              made.voiceEndS - made.voiceFirstS - 1.2, 0.3);
  EXPECT_NEAR(*detector.floorDb(), row.roomDb, 3.0);
  EXPECT_TRUE(detector.Finish().empty());
}

}  // namespace
}  // namespace voxtar::measures
