#include "measures/delivery_profile.h"

#include <gtest/gtest.h>

#include <string>

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
      "export-trim-head = 0.25",
      "delivery.ini", &error);
  ASSERT_TRUE(profile) << error.Text();
  DeliveryProfile expected = *BuiltInProfile("acx");
  expected.file = "delivery.ini";
  expected.maxNoiseFloorDb = -65;
  expected.maxHeadS.reset();
  expected.exportTrimHeadS = 0.25;
  EXPECT_EQ(*profile, expected);

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
  };
  for (const Case& c : cases) {
    ProfileError error;
    EXPECT_FALSE(ParseProfile(c.text, "w/delivery.ini", &error)) << c.text;
    EXPECT_EQ(error.file, "w/delivery.ini");
    EXPECT_EQ(error.line, c.line) << c.text;
    EXPECT_EQ(error.key, c.key) << c.text;
    EXPECT_EQ(error.message, c.message) << c.text;
  }
  ProfileError error;
  ParseProfile("x\nmax-rms = loud\n", "delivery.ini", &error);
  EXPECT_EQ(error.Text(), "delivery.ini:1: not \"key = value\": 'x'");
  ParseProfile("max-rms = loud\n", "delivery.ini", &error);
  EXPECT_EQ(error.Text(), "delivery.ini:1: max-rms: bad number 'loud'");
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
  EXPECT_EQ(choose("sub"), "error: " + (tmp / "sub").string() + ": cannot be read");
}

}  // namespace
}  // namespace voxtar::measures
