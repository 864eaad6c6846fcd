// SPDX-License-Identifier: GPL-3.0-or-later
#include "measures/delivery_profile.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <set>

#include "measures/small_file_p.h"
#include "measures/text_check.h"
#include "platform/file_system.h"

namespace voxtar::measures {

namespace {

// Levels in dBFS, LUFS and dBTP lie between these: below the floor is silence to any
// measure, and a sample peak cannot lie above full scale.
constexpr double kLevelFloor = -120;
constexpr double kFullScale = 0;
constexpr double kUnbounded = std::numeric_limits<double>::infinity();

constexpr std::array kKeys = {
    ProfileKey{"max-clipped-samples", &DeliveryProfile::maxClippedSamples, "samples",
               "most clipped samples a take may have (clipped)", 0, kUnbounded},
    ProfileKey{"min-voice-peak", &DeliveryProfile::minVoicePeakDb, "dBFS",
               "lowest peak of the voice (too-quiet)", kLevelFloor, kFullScale},
    ProfileKey{"min-peak", &DeliveryProfile::minPeakDb, "dBFS",
               "lowest sample peak of the take (too-quiet)", kLevelFloor, kFullScale},
    ProfileKey{"max-peak", &DeliveryProfile::maxPeakDb, "dBFS",
               "highest sample peak of the take (too-loud)", kLevelFloor, kFullScale},
    ProfileKey{"min-rms", &DeliveryProfile::minRmsDb, "dBFS", "lowest RMS of the voice (too-quiet)",
               kLevelFloor, kFullScale},
    ProfileKey{"max-rms", &DeliveryProfile::maxRmsDb, "dBFS", "highest RMS of the voice (too-loud)",
               kLevelFloor, kFullScale},
    ProfileKey{"min-head", &DeliveryProfile::minHeadS, "s",
               "least silence before the voice (cut-start)", 0, kUnbounded},
    ProfileKey{"max-head", &DeliveryProfile::maxHeadS, "s",
               "most silence before the voice (head-long)", 0, kUnbounded},
    ProfileKey{"min-tail", &DeliveryProfile::minTailS, "s",
               "least silence after the voice (cut-end)", 0, kUnbounded},
    ProfileKey{"max-tail", &DeliveryProfile::maxTailS, "s",
               "most silence after the voice (tail-long)", 0, kUnbounded},
    ProfileKey{"max-noise-floor", &DeliveryProfile::maxNoiseFloorDb, "dBFS",
               "highest RMS outside the voice (noisy)", kLevelFloor, kFullScale},
    ProfileKey{"min-snr", &DeliveryProfile::minSnrDb, "dB",
               "lowest voice RMS above the noise floor (noisy)", 0, -kLevelFloor},
    ProfileKey{"loudness", &DeliveryProfile::loudnessLufs, "LUFS",
               "integrated loudness a take must have (loudness)", kLevelFloor, kFullScale},
    ProfileKey{"loudness-tolerance", &DeliveryProfile::loudnessToleranceLu, "LU",
               "how far from it a take may be (loudness; default 1)", 0, kUnbounded},
    ProfileKey{"max-true-peak", &DeliveryProfile::maxTruePeakDbtp, "dBTP",
               "highest true peak (true-peak)", kLevelFloor, kFullScale},
    ProfileKey{"loudness-consistency", &DeliveryProfile::loudnessConsistencyLu, "LU",
               "how far from the lesson's median loudness a take may be "
               "(inconsistent-loudness)",
               0, kUnbounded},
    ProfileKey{"rate-consistency", &DeliveryProfile::rateConsistencyPercent, "%",
               "how far from the lesson's median speaking rate a take may be "
               "(inconsistent-rate)",
               0, kUnbounded},
    ProfileKey{"export-trim-head", &DeliveryProfile::exportTrimHeadS, "s",
               "silence an export keeps before the voice", 0, kUnbounded},
    ProfileKey{"export-trim-tail", &DeliveryProfile::exportTrimTailS, "s",
               "silence an export keeps after the voice", 0, kUnbounded},
    ProfileKey{"export-loudness", &DeliveryProfile::exportLoudnessLufs, "LUFS",
               "integrated loudness an export brings every take to", kLevelFloor, kFullScale},
    ProfileKey{"export-true-peak", &DeliveryProfile::exportTruePeakDbtp, "dBTP",
               "true peak an export keeps every take below", kLevelFloor, kFullScale},
    ProfileKey{"export-peak", &DeliveryProfile::exportPeakDb, "dBFS",
               "sample peak an export keeps every take below", kLevelFloor, kFullScale},
};

constexpr std::array<std::string_view, 4> kBuiltInNames = {"course", "acx", "ebu-r128", "tts"};

// What every profile judges: the take check's clipping, silence, cut speech and quiet voice.
DeliveryProfile Course() {
  DeliveryProfile profile;
  profile.name = "course";
  profile.maxClippedSamples = 0;
  profile.minVoicePeakDb = -30;
  profile.minHeadS = 0.1;
  profile.minTailS = 0.1;
  return profile;
}

std::string_view Trimmed(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!text.empty() && blank(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && blank(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

std::optional<double> Number(std::string_view text) {
  double value = 0.0;
  const char* end = text.data() + text.size();
  const auto [stop, failure] = std::from_chars(text.data(), end, value);
  if (failure != std::errc() || stop != end || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

const ProfileKey* FindKey(std::string_view key) {
  const auto* found = std::find_if(kKeys.begin(), kKeys.end(),
                                   [key](const ProfileKey& entry) { return entry.key == key; });
  return found == kKeys.end() ? nullptr : found;
}

bool Fail(ProfileError* error, std::string_view file, int line, std::string_view key,
          std::string message, ProfileFault fault, std::vector<std::string> figures = {}) {
  *error = {std::string(file),  line,  std::string(key),
            std::move(message), fault, std::move(figures)};
  return false;
}

// "-120", "0.5".
std::string Shown(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

// "(at least 0 LU)", "(from -120 to 0 dBFS)".
std::string RangeOf(const ProfileKey& key) {
  const std::string unit = " " + std::string(key.unit);
  if (key.highest == kUnbounded) {
    return "(at least " + Shown(key.lowest) + unit + ")";
  }
  return "(from " + Shown(key.lowest) + " to " + Shown(key.highest) + unit + ")";
}

// A minimum above its maximum flags every take.
struct OrderedPair {
  std::string_view low;
  std::string_view high;
};
constexpr std::array<OrderedPair, 5> kOrderedPairs = {{
    {"min-peak", "max-peak"},
    {"min-voice-peak", "max-peak"},  // the voice's peak is one of the take's samples
    {"min-rms", "max-rms"},
    {"min-head", "max-head"},
    {"min-tail", "max-tail"},
}};

// The pairs of the profile that are out of order, named at the line that set the later of the
// two (the other may come from the built-in).
template <typename Setting>
bool CheckOrder(const DeliveryProfile& profile, const std::vector<Setting>& settings,
                std::string_view file, ProfileError* error) {
  const auto lineOf = [&settings](const ProfileKey* key) {
    for (const Setting& setting : settings) {
      if (setting.key == key) {
        return setting.line;
      }
    }
    return 0;
  };
  for (const OrderedPair& pair : kOrderedPairs) {
    const ProfileKey* low = FindKey(pair.low);
    const ProfileKey* high = FindKey(pair.high);
    const std::optional<double>& lowest = profile.*(low->field);
    const std::optional<double>& highest = profile.*(high->field);
    if (!lowest || !highest || *lowest <= *highest) {
      continue;
    }
    const int lowLine = lineOf(low);
    const int highLine = lineOf(high);
    const bool lowLater = lowLine > highLine;
    const int otherLine = lowLater ? highLine : lowLine;
    const std::string other =
        otherLine > 0 ? "line " + std::to_string(otherLine) : "profile " + profile.name;
    const std::string where = otherLine > 0 ? std::to_string(otherLine) : profile.name;
    if (lowLater) {
      return Fail(error, file, lowLine, low->key,
                  Shown(*lowest) + " is above " + std::string(high->key) + " " + Shown(*highest) +
                      " (" + other + ")",
                  otherLine > 0 ? ProfileFault::AboveAtLine : ProfileFault::AboveInProfile,
                  {Shown(*lowest), std::string(high->key), Shown(*highest), where});
    }
    return Fail(error, file, highLine, high->key,
                Shown(*highest) + " is below " + std::string(low->key) + " " + Shown(*lowest) +
                    " (" + other + ")",
                otherLine > 0 ? ProfileFault::BelowAtLine : ProfileFault::BelowInProfile,
                {Shown(*highest), std::string(low->key), Shown(*lowest), where});
  }
  return true;
}

// Why a profile file that is there cannot be read, in a few words.
bool FailUnreadable(ProfileError* error, const std::string& name, std::u16string_view path) {
  namespace fs = std::filesystem;
  const fs::path native = platform::ResolvePath(path);
  std::error_code ignored;
  if (fs::is_symlink(fs::symlink_status(native, ignored)) &&
      fs::status(native, ignored).type() == fs::file_type::not_found) {
    std::string target = fs::read_symlink(native, ignored).string();
    return Fail(error, name, 0, {}, "a link to " + target + ", which does not exist",
                ProfileFault::LinkToNowhere, {target});
  }
  platform::InputFile probe;
  switch (probe.Open(path)) {
    case platform::FileError::PermissionDenied:
      return Fail(error, name, 0, {}, "cannot be read: permission denied",
                  ProfileFault::PermissionDenied);
    case platform::FileError::NotRegularFile:
      return fs::is_directory(native, ignored)
                 ? Fail(error, name, 0, {}, "a directory, not a profile file",
                        ProfileFault::Directory)
                 : Fail(error, name, 0, {}, "not a regular file", ProfileFault::NotRegularFile);
    default:
      return Fail(error, name, 0, {}, "cannot be read", ProfileFault::Unreadable);
  }
}

// Why `voice` names no voice a take's text can be spoken in; empty when it does. Without a judge
// plugged in, only its form is checked.
std::string WhyNoVoice(std::string_view voice) {
  constexpr std::size_t kLongestVoice = 40;
  const bool wellFormed = !voice.empty() && voice.size() <= kLongestVoice &&
                          std::all_of(voice.begin(), voice.end(), [](char c) {
                            return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                                   (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '_';
                          });
  const TextJudge* judge = PluggedTextJudge();
  if (!wellFormed || (judge != nullptr && !judge->KnowsVoice(voice))) {
    return "unknown voice '" + std::string(voice) + "'";
  }
  return {};
}

}  // namespace

std::span<const ProfileKey> ProfileKeys() {
  return kKeys;
}

std::span<const std::string_view> BuiltInProfileNames() {
  return kBuiltInNames;
}

std::optional<DeliveryProfile> BuiltInProfile(std::string_view name) {
  DeliveryProfile profile = Course();
  if (name == "course") {
    return profile;
  }
  profile.name = std::string(name);
  if (name == "acx") {
    profile.minRmsDb = -23;
    profile.maxRmsDb = -18;
    profile.maxPeakDb = -3;
    profile.maxNoiseFloorDb = -60;
    profile.minHeadS = 0.5;
    profile.maxHeadS = 1;
    profile.minTailS = 1;
    profile.maxTailS = 5;
    profile.loudnessConsistencyLu = 2;
    profile.exportPeakDb = -3;
    return profile;
  }
  if (name == "ebu-r128") {
    profile.loudnessLufs = -23;
    profile.loudnessToleranceLu = 1;
    profile.maxTruePeakDbtp = -1;
    profile.loudnessConsistencyLu = 2;
    profile.exportLoudnessLufs = -23;
    profile.exportTruePeakDbtp = -1;
    return profile;
  }
  if (name == "tts") {
    profile.minPeakDb = -6;
    profile.maxPeakDb = -3;
    profile.minSnrDb = 35;
    profile.loudnessConsistencyLu = 2;
    profile.rateConsistencyPercent = 25;
    profile.exportTrimHeadS = 0.2;
    profile.exportTrimTailS = 0.2;
    profile.exportPeakDb = -3;
    return profile;
  }
  return std::nullopt;
}

std::string ProfileError::Text() const {
  std::string text = file;
  if (line > 0) {
    text += ":" + std::to_string(line);
  }
  text += ": ";
  if (!key.empty()) {
    text += key + ": ";
  }
  return text + message;
}

std::optional<DeliveryProfile> ParseProfile(std::string_view text, std::string_view file,
                                            ProfileError* error) {
  struct Setting {
    int line;
    const ProfileKey* key;
    std::optional<double> value;
  };
  std::vector<Setting> settings;
  std::string base(kDefaultProfile);
  std::optional<bool> checkText;
  std::string voice;
  std::set<std::string_view> seen;
  int lineNumber = 0;
  if (text.starts_with("\xEF\xBB\xBF")) {
    text.remove_prefix(3);  // a byte-order mark, as some editors write
  }
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    const std::string_view line = Trimmed(text.substr(0, end));
    text.remove_prefix(std::min(end + 1, text.size()));
    ++lineNumber;
    if (line.empty() || line.front() == '#' || line.front() == ';') {
      continue;
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      Fail(error, file, lineNumber, {}, "not \"key = value\": '" + std::string(line) + "'",
           ProfileFault::NotKeyValue, {std::string(line)});
      return std::nullopt;
    }
    const std::string_view key = Trimmed(line.substr(0, equals));
    const std::string_view value = Trimmed(line.substr(equals + 1));
    const ProfileKey* known = FindKey(key);
    const bool textKey = key == "check-text" || key == "voice";
    if (key != "profile" && !textKey && known == nullptr) {
      Fail(error, file, lineNumber, key, "unknown key", ProfileFault::UnknownKey);
      return std::nullopt;
    }
    if (!seen.insert(key).second) {
      Fail(error, file, lineNumber, key, "given twice", ProfileFault::GivenTwice);
      return std::nullopt;
    }
    if (key == "profile") {
      if (!BuiltInProfile(value)) {
        Fail(error, file, lineNumber, key, "unknown profile '" + std::string(value) + "'",
             ProfileFault::UnknownProfile, {std::string(value)});
        return std::nullopt;
      }
      base = std::string(value);
      continue;
    }
    if (key == "check-text") {
      if (value != "on" && value != "off") {
        Fail(error, file, lineNumber, key, "'" + std::string(value) + "' is neither on nor off",
             ProfileFault::NotOnOff, {std::string(value)});
        return std::nullopt;
      }
      checkText = value == "on";
      continue;
    }
    if (key == "voice") {
      if (std::string why = WhyNoVoice(value); !why.empty()) {
        Fail(error, file, lineNumber, key, std::move(why), ProfileFault::UnknownVoice,
             {std::string(value)});
        return std::nullopt;
      }
      voice = std::string(value);
      continue;
    }
    const std::optional<double> number = Number(value);
    if (!number && value != "off") {
      Fail(error, file, lineNumber, key, "bad number '" + std::string(value) + "'",
           ProfileFault::BadNumber, {std::string(value)});
      return std::nullopt;
    }
    if (number && (*number < known->lowest || *number > known->highest)) {
      const bool bounded = known->highest != kUnbounded;
      std::vector<std::string> figures{std::string(value), Shown(known->lowest)};
      if (bounded) {
        figures.push_back(Shown(known->highest));
      }
      figures.emplace_back(known->unit);
      Fail(error, file, lineNumber, key, std::string(value) + " is out of range " + RangeOf(*known),
           bounded ? ProfileFault::OutOfRange : ProfileFault::OutOfRangeAtLeast,
           std::move(figures));
      return std::nullopt;
    }
    settings.push_back({lineNumber, known, number});
  }
  std::optional<DeliveryProfile> profile = BuiltInProfile(base);
  profile->file = std::string(file);
  profile->checkText = checkText.value_or(profile->checkText);
  profile->voice = voice;
  for (const Setting& setting : settings) {
    (*profile).*(setting.key->field) = setting.value;
  }
  if (!CheckOrder(*profile, settings, file, error)) {
    return std::nullopt;
  }
  return profile;
}

std::string ProfileTitle(const DeliveryProfile& profile) {
  return profile.file.empty() ? profile.name : profile.file + " (based on " + profile.name + ")";
}

std::optional<DeliveryProfile> ReadProfileFile(std::u16string_view path, ProfileError* error) {
  const std::string name = platform::ToUtf8(path);
  // A profile is a few lines; anything much larger is not one.
  constexpr std::uint64_t kMaxSize = std::uint64_t{64} * 1024;
  SmallFileError readError = SmallFileError::None;
  const std::optional<std::string> text = ReadSmallFile(path, kMaxSize, &readError);
  if (!text) {
    if (readError == SmallFileError::TooLarge) {
      Fail(error, name, 0, {}, "too large for a profile file", ProfileFault::TooLarge);
    } else {
      FailUnreadable(error, name, path);
    }
    return std::nullopt;
  }
  return ParseProfile(*text, name, error);
}

std::optional<DeliveryProfile> ChooseProfile(std::string_view choice,
                                             std::u16string_view workingDirectory,
                                             ProfileError* error) {
  if (std::optional<DeliveryProfile> builtIn = BuiltInProfile(choice); builtIn && !choice.empty()) {
    return builtIn;
  }
  std::u16string path =
      choice.empty() ? std::u16string(kProfileFileName) : platform::FromUtf8(choice);
  if (path.front() != platform::kSeparator) {
    path = std::u16string(workingDirectory) + platform::kSeparator + path;
  }
  // Only a file that is not there at all means "none": one that is there but cannot be read (a
  // link leading nowhere, a directory, no permission) is an error, or the takes would silently
  // be judged by another profile than the course's.
  std::error_code ignored;
  if (std::filesystem::symlink_status(platform::ResolvePath(path), ignored).type() ==
      std::filesystem::file_type::not_found) {
    if (choice.empty()) {
      return BuiltInProfile(kDefaultProfile);
    }
    std::string names;
    for (const std::string_view name : kBuiltInNames) {
      names += (names.empty() ? "" : ", ") + std::string(name);
    }
    Fail(error, choice, 0, {}, "neither a built-in profile (" + names + ") nor a file",
         ProfileFault::NoSuchProfile, {names});
    return std::nullopt;
  }
  return ReadProfileFile(path, error);
}

}  // namespace voxtar::measures
