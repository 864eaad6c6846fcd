// SPDX-License-Identifier: GPL-3.0-or-later
// Delivery profiles: the standard a lesson's takes are judged against, and the numbers its export
// works to. Built in: "course" (the take check: clipping, silence, cut speech, too quiet), "acx"
// (an audiobook platform's RMS, peak, noise floor and room), "ebu-r128" (broadcast loudness and
// true peak) and "tts" (a speech-synthesis training set: peak, signal-to-noise ratio, room, even
// pace). Every built-in judges what "course" judges, and adds its own.
//
// A working directory may hold a profile file, "delivery.ini", so that everyone who records into
// it is judged the same way:
//
//   # an audiobook, with a stricter noise floor
//   profile = acx
//   max-noise-floor = -65
//   min-head = off
//
// "profile" picks the built-in to start from (default "course"); "check-text = on|off" checks
// takes against their text or not; "voice" names the voice their text is spoken in for it (by
// default the text's script picks it); every other key sets one of its numbers, or "off" stops
// judging it. Lines are "key = value"; blank lines and lines starting
// with # or ; are comments. An unknown key, a bad number, a number out of its key's range, a
// minimum above its maximum, an unknown profile or a key given twice is an error naming the file,
// line and key: a profile is never half read, and one that would flag every take is no profile.
// So is a "delivery.ini" that is there but cannot be read (a link leading nowhere, a directory):
// only a missing one means "course".
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace voxtar::measures {

inline constexpr std::u16string_view kProfileFileName = u"delivery.ini";
inline constexpr std::string_view kDefaultProfile = "course";

// Each limit is judged only when set.
struct DeliveryProfile {
  std::string name{kDefaultProfile};  // the built-in it starts from
  std::string file;                   // the profile file it was read from (UTF-8), if any

  // clipped
  std::optional<double> maxClippedSamples;
  // too-quiet, too-loud (dBFS; RMS is of the voice, as voxtar-lesson shows it)
  std::optional<double> minVoicePeakDb;
  std::optional<double> minPeakDb;
  std::optional<double> maxPeakDb;
  std::optional<double> minRmsDb;
  std::optional<double> maxRmsDb;
  // cut-start, head-long, cut-end, tail-long (seconds of silence before and after the voice)
  std::optional<double> minHeadS;
  std::optional<double> maxHeadS;
  std::optional<double> minTailS;
  std::optional<double> maxTailS;
  // noisy
  std::optional<double> maxNoiseFloorDb;
  std::optional<double> minSnrDb;
  // loudness (integrated, LUFS, within the tolerance in LU), true-peak (dBTP)
  std::optional<double> loudnessLufs;
  std::optional<double> loudnessToleranceLu;
  std::optional<double> maxTruePeakDbtp;
  // inconsistent-loudness: LU from the lesson's median; inconsistent-rate: percent of its median
  std::optional<double> loudnessConsistencyLu;
  std::optional<double> rateConsistencyPercent;
  // What an export does to every take: silence kept before and after the voice (seconds), the
  // integrated loudness it normalizes to, and the peaks it keeps below.
  std::optional<double> exportTrimHeadS;
  std::optional<double> exportTrimTailS;
  std::optional<double> exportLoudnessLufs;
  std::optional<double> exportTruePeakDbtp;
  std::optional<double> exportPeakDb;
  // text-mismatch, incomplete, extra-speech: whether takes are checked against their text, and
  // the voice their text is spoken in for it ("ru", "en-us"; empty: by the text's script)
  bool checkText = true;
  std::string voice;

  bool operator==(const DeliveryProfile&) const = default;
};

// The profile as it is named to people: the built-in's name ("acx"), or the file it was read from
// with the built-in it starts from ("/course/delivery.ini (based on acx)"), whose numbers may
// differ from the built-in's.
std::string ProfileTitle(const DeliveryProfile& profile);

// One number of a profile as the profile file names it.
struct ProfileKey {
  std::string_view key;  // "max-noise-floor"
  std::optional<double> DeliveryProfile::*field;
  std::string_view unit;  // "dBFS", "s", "LU", ...
  std::string_view what;  // a few words for the documentation
  // The values it takes: levels from -120 to 0, amounts (times, tolerances, counts) from 0 up.
  double lowest;
  double highest;  // infinity: no upper bound
};
std::span<const ProfileKey> ProfileKeys();

std::span<const std::string_view> BuiltInProfileNames();
std::optional<DeliveryProfile> BuiltInProfile(std::string_view name);

// What went wrong reading a profile file.
// What is wrong with a profile, for a window that words it itself; its figures, in the order
// given here, are in ProfileError::figures.
enum class ProfileFault {
  None,
  NotKeyValue,  // the line
  UnknownKey,
  GivenTwice,
  UnknownProfile,     // the value
  NotOnOff,           // the value
  UnknownVoice,       // the value
  BadNumber,          // the value
  OutOfRangeAtLeast,  // the value, the lowest, the unit
  OutOfRange,         // the value, the lowest, the highest, the unit
  AboveAtLine,        // the value, the other key, its value, the other key's line
  AboveInProfile,     // the value, the other key, its value, the built-in profile's name
  BelowAtLine,        // as AboveAtLine
  BelowInProfile,     // as AboveInProfile
  TooLarge,
  LinkToNowhere,  // where the link leads
  PermissionDenied,
  Directory,
  NotRegularFile,
  Unreadable,
  NoSuchProfile,  // the built-in profiles' names, comma-separated
};

struct ProfileError {
  std::string file;  // UTF-8
  int line = 0;      // 0 when the file as a whole failed (cannot be read)
  std::string key;   // the key at fault, if any
  std::string message;
  ProfileFault fault = ProfileFault::None;  // `message` as a code
  std::vector<std::string> figures;

  // "delivery.ini:3: max-rms: bad number 'loud'".
  std::string Text() const;
};

// Reads a profile file's text; `file` names it in errors.
std::optional<DeliveryProfile> ParseProfile(std::string_view text, std::string_view file,
                                            ProfileError* error);
std::optional<DeliveryProfile> ReadProfileFile(std::u16string_view path, ProfileError* error);

// The profile to judge by: `choice` (a built-in name or a profile file's path, as --profile gives
// it) when not empty, else the working directory's profile file when it has one, else "course".
// Relative paths are taken from the working directory.
std::optional<DeliveryProfile> ChooseProfile(std::string_view choice,
                                             std::u16string_view workingDirectory,
                                             ProfileError* error);

}  // namespace voxtar::measures
