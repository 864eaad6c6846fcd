// SPDX-License-Identifier: GPL-3.0-or-later
#include "measures/delivery_profile.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "measures/text_check.h"
#include "platform/utf8.h"
#include "tests/support/temp_dir.h"

namespace voxtar::measures {
namespace {

TEST(DeliveryProfile, AFileStartsFromABuiltInAndChangesItsNumbers) {
  ProfileError error;
  const std::optional<DeliveryProfile> profile = ParseProfile(
      "\xEF\xBB\xBF# an audiobook, stricter\r\n"
      "max-noise-floor = -65\r\n"
      "\r\n"
      "; no upper limit on the head\n"
      "  max-head=off  \n"
      "profile = acx\n"
      "check-text = off\n"
      "voice = en-gb+f2\n"
      "export-trim-head = 0.25",
      "delivery.ini", &error);
  ASSERT_TRUE(profile) << error.Text();
  DeliveryProfile expected = *BuiltInProfile("acx");
  expected.file = "delivery.ini";
  expected.maxNoiseFloorDb = -65;
  expected.maxHeadS.reset();
  expected.exportTrimHeadS = 0.25;
  expected.checkText = false;
  expected.voice = "en-gb+f2";
  EXPECT_EQ(*profile, expected);
  for (const std::string_view name : BuiltInProfileNames()) {
    EXPECT_TRUE(BuiltInProfile(name)->checkText) << name;
    EXPECT_EQ(BuiltInProfile(name)->voice, "") << name;  // by the text's script
  }

  const std::optional<DeliveryProfile> empty = ParseProfile("# nothing\n", "d.ini", &error);
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->name, "course");
}

TEST(DeliveryProfile, AMalformedFileNamesFileLineAndKey) {
  struct Case {
    std::string text;
    int line;
    std::string key;
    std::string message;
  };
  const Case cases[] = {
      {"profile = acx\nmax-nois-floor = -65\n", 2, "max-nois-floor", "unknown key"},
      {"# c\n\nmax-rms = loud\n", 3, "max-rms", "bad number 'loud'"},
      {"max-rms = -18dB\n", 1, "max-rms", "bad number '-18dB'"},
      {"max-rms = nan\n", 1, "max-rms", "bad number 'nan'"},
      {"max-rms =\n", 1, "max-rms", "bad number ''"},
      {"profile = podcast\n", 1, "profile", "unknown profile 'podcast'"},
      {"min-rms = -23\nmin-tail = 1\nmin-rms = -22\n", 3, "min-rms", "given twice"},
      {"profile = acx\nprofile = tts\n", 2, "profile", "given twice"},
      {"min-rms -23\n", 1, "", "not \"key = value\": 'min-rms -23'"},
      {"check-text = yes\n", 1, "check-text", "'yes' is neither on nor off"},
      {"voice = ru\ncheck-text = on\nvoice = ru\n", 3, "voice", "given twice"},
      {"voice = en us\n", 1, "voice", "unknown voice 'en us'"},
      {"voice =\n", 1, "voice", "unknown voice ''"},
      // With a judge plugged in, it names the voices it knows.
      {"voice = xx-nowhere\n", 1, "voice", "unknown voice 'xx-nowhere'"},
  };
  // Knows "ru" and "en-gb+f2" only.
  class Voices final : public TextJudge {
   public:
    bool KnowsVoice(std::string_view voice) const override {
      return voice == "ru" || voice == "en-gb+f2";
    }
    std::uint64_t Digest(const TextRequest&) const override { return 0; }
    bool Check(std::u16string_view, const TakeMeasures&, const TextRequest&, TextCheck*,
               std::string*) override {
      return false;
    }
  } voices;
  PlugTextJudge(&voices);
  ProfileError unknown;
  const std::optional<DeliveryProfile> known = ParseProfile("voice = ru\n", "d.ini", &unknown);
  EXPECT_EQ(known.value_or(DeliveryProfile{}).voice, "ru") << unknown.Text();
  for (const Case& c : cases) {
    ProfileError error;
    EXPECT_FALSE(ParseProfile(c.text, "w/delivery.ini", &error)) << c.text;
    EXPECT_EQ(error.file, "w/delivery.ini");
    EXPECT_EQ(error.line, c.line) << c.text;
    EXPECT_EQ(error.key, c.key) << c.text;
    EXPECT_EQ(error.message, c.message) << c.text;
  }
  PlugTextJudge(nullptr);
  ProfileError error;
  ParseProfile("x\nmax-rms = loud\n", "delivery.ini", &error);
  EXPECT_EQ(error.Text(), "delivery.ini:1: not \"key = value\": 'x'");
  ParseProfile("max-rms = loud\n", "delivery.ini", &error);
  EXPECT_EQ(error.Text(), "delivery.ini:1: max-rms: bad number 'loud'");
}

// Every key has its range, and a minimum never lies above its maximum: a profile that would flag
// every take, or export silence, is an error naming file, line and key.
TEST(DeliveryProfile, ValuesOutOfRangeOrOrderAreErrors) {
  struct Case {
    std::string text;
    int line;  // 0: the profile reads
    std::string key;
    std::string message;
  };
  const Case cases[] = {
      {"loudness-tolerance = 0\nmax-clipped-samples = 0\nmin-head = 0\nrate-consistency = 0\n", 0,
       "", ""},
      {"max-peak = 0\nmin-rms = -120\nloudness = -120\nmin-snr = 120\n", 0, "", ""},
      {"min-head = 0.5\nmax-head = 0.5\nmax-tail = 1e6\n", 0, "", ""},
      {"profile = acx\nmin-head = 2\nmax-head = off\n", 0, "", ""},
      {"loudness-tolerance = -1\n", 1, "loudness-tolerance", "-1 is out of range (at least 0 LU)"},
      {"# x\nexport-loudness = -1e300\n", 2, "export-loudness",
       "-1e300 is out of range (from -120 to 0 LUFS)"},
      {"max-true-peak = 0.5\n", 1, "max-true-peak", "0.5 is out of range (from -120 to 0 dBTP)"},
      {"max-noise-floor = -121\n", 1, "max-noise-floor",
       "-121 is out of range (from -120 to 0 dBFS)"},
      {"min-tail = -0.1\n", 1, "min-tail", "-0.1 is out of range (at least 0 s)"},
      {"rate-consistency = -5\n", 1, "rate-consistency", "-5 is out of range (at least 0 %)"},
      {"max-clipped-samples = -1\n", 1, "max-clipped-samples",
       "-1 is out of range (at least 0 samples)"},
      {"min-snr = 121\n", 1, "min-snr", "121 is out of range (from 0 to 120 dB)"},
      {"min-head = 2\nmax-head = 1\n", 2, "max-head", "1 is below min-head 2 (line 1)"},
      {"max-tail = 1\n\nmin-tail = 3\n", 3, "min-tail", "3 is above max-tail 1 (line 1)"},
      {"profile = acx\nmax-head = 0.3\n", 2, "max-head", "0.3 is below min-head 0.5 (profile acx)"},
      {"max-rms = -30\nmin-rms = -20\n", 2, "min-rms", "-20 is above max-rms -30 (line 1)"},
      {"min-peak = -2\nmax-peak = -3\n", 2, "max-peak", "-3 is below min-peak -2 (line 1)"},
      {"max-peak = -40\n", 1, "max-peak", "-40 is below min-voice-peak -30 (profile course)"},
  };
  for (const Case& c : cases) {
    ProfileError error;
    const std::optional<DeliveryProfile> profile = ParseProfile(c.text, "delivery.ini", &error);
    EXPECT_EQ(profile.has_value(), c.line == 0) << c.text << error.Text();
    if (c.line != 0) {
      EXPECT_EQ(error.Text(),
                "delivery.ini:" + std::to_string(c.line) + ": " + c.key + ": " + c.message);
      // The code's figures are those the message shows, for a window that words it itself.
      EXPECT_NE(error.fault, ProfileFault::None);
      for (const std::string& figure : error.figures) {
        EXPECT_NE(c.message.find(figure), std::string::npos) << figure;
      }
    }
  }
  for (const std::string_view name : BuiltInProfileNames()) {
    ProfileError error;
    EXPECT_TRUE(ParseProfile("profile = " + std::string(name), "d.ini", &error)) << error.Text();
  }
}

TEST(DeliveryProfile, TheCommandLineChoiceBeforeTheWorkingDirectorysFile) {
  testing::TempDir tmp;
  const std::u16string here = platform::FromUtf8(tmp.path().string());
  const auto choose = [&](std::string_view choice) {
    ProfileError error;
    std::optional<DeliveryProfile> profile = ChooseProfile(choice, here, &error);
    return profile ? profile->name + (profile->file.empty() ? "" : " from a file")
                   : "error: " + error.Text();
  };
  EXPECT_EQ(choose(""), "course");
  testing::WriteBytes(tmp / "delivery.ini", "profile = tts\n");
  testing::WriteBytes(tmp / "sub/ebu.ini", "profile = ebu-r128\n");
  testing::WriteBytes(tmp / "bad.ini", "loudness = -23 LUFS\n");
  EXPECT_EQ(choose(""), "tts from a file");
  EXPECT_EQ(choose("acx"), "acx");
  EXPECT_EQ(choose("sub/ebu.ini"), "ebu-r128 from a file");
  EXPECT_EQ(choose((tmp / "sub/ebu.ini").string()), "ebu-r128 from a file");
  EXPECT_EQ(choose("bad.ini"),
            "error: " + (tmp / "bad.ini").string() + ":1: loudness: bad number '-23 LUFS'");
  EXPECT_EQ(choose("podcast"),
            "error: podcast: neither a built-in profile (course, acx, ebu-r128, tts) nor a file");
  EXPECT_EQ(choose("sub"),
            "error: " + (tmp / "sub").string() + ": a directory, not a profile file");

  // A delivery.ini that is there but cannot be read is an error, never "course" in silence.
  std::filesystem::remove(tmp / "delivery.ini");
  std::filesystem::create_symlink("gone.ini", tmp / "delivery.ini");
  const std::string here8 = tmp.path().string();
  EXPECT_EQ(choose(""),
            "error: " + here8 + "/delivery.ini: a link to gone.ini, which does not exist");
  std::filesystem::remove(tmp / "delivery.ini");
  std::filesystem::create_directory(tmp / "delivery.ini");
  EXPECT_EQ(choose(""), "error: " + here8 + "/delivery.ini: a directory, not a profile file");
  std::filesystem::remove(tmp / "delivery.ini");
  testing::WriteBytes(tmp / "delivery.ini", "profile = tts\n");
  std::filesystem::permissions(tmp / "delivery.ini", std::filesystem::perms::none);
  if (::geteuid() != 0) {
    EXPECT_EQ(choose(""), "error: " + here8 + "/delivery.ini: cannot be read: permission denied");
  }
}

}  // namespace
}  // namespace voxtar::measures
