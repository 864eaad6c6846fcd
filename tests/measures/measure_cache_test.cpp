#include "measures/measure_cache.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <filesystem>
#include <string>

#include "measures/lesson_measures.h"
#include "tests/measures/measures_test_support.h"

namespace voxtar::measures {
namespace {

namespace fs = std::filesystem;
using audio::SpokenTake;

constexpr int kWav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;

class Cache : public TakeFiles {
 protected:
  // Measures a.wav and b.wav through the cache of the temporary directory and saves it.
  std::vector<MeasuredTake> MeasureBoth(MeasureCache& cache) {
    cache.Load(tmp.wide(true));
    std::vector<MeasuredTake> measured =
        MeasureTakes(tmp.wide(true), {u"a.wav", u"b.wav"}, &cache, 2);
    std::string error;
    EXPECT_TRUE(cache.Save(tmp.wide(), &error)) << error;
    return measured;
  }
};

TEST_F(Cache, AFreshEntryStandsForTheFileUntilTheFileChanges) {
  const TakeMeasures a = Measure(SpokenTake(kWav16), "a.wav");
  const TakeMeasures b = Measure(SpokenTake(kWav16, 44100, 1, 0.02), "b.wav");
  MeasureCache cache;
  std::vector<MeasuredTake> measured = MeasureBoth(cache);
  ASSERT_TRUE(measured[0].read && measured[1].read);
  EXPECT_EQ(measured[0].measures, a);
  EXPECT_EQ(measured[1].measures, b);
  ASSERT_TRUE(fs::exists(tmp / ".measures"));

  // A take replaced by garbage of the same size and time is still taken from the cache: it is
  // not read again.
  const auto time = fs::last_write_time(tmp / "a.wav");
  const std::string original = testing::ReadBytes(tmp / "a.wav");
  testing::WriteBytes(tmp / "a.wav", std::string(original.size(), 'x'));
  fs::last_write_time(tmp / "a.wav", time);
  MeasureCache reloaded;
  measured = MeasureBoth(reloaded);
  EXPECT_EQ(reloaded.size(), 2u);
  EXPECT_TRUE(measured[0].read);
  EXPECT_EQ(measured[0].measures, a);  // every field read back exactly

  // Another time: measured again.
  fs::last_write_time(tmp / "a.wav", time + std::chrono::seconds(1));
  measured = MeasureBoth(reloaded);
  EXPECT_FALSE(measured[0].read);
  EXPECT_NE(measured[0].error.find("not a sound file"), std::string::npos);
  EXPECT_TRUE(measured[1].read);

  // A take that is gone leaves the cache.
  reloaded.Retain({u"b.wav"});
  EXPECT_EQ(reloaded.size(), 1u);
  EXPECT_TRUE(reloaded.changed());
}

TEST_F(Cache, ADamagedOrForeignFileIsIgnoredAndWrittenAnew) {
  const TakeMeasures a = Measure(SpokenTake(kWav16), "a.wav");
  Measure(SpokenTake(kWav16), "b.wav");
  MeasureCache cache;
  MeasureBoth(cache);
  const std::string good = testing::ReadBytes(tmp / ".measures");
  const std::size_t firstLine = good.find('\n') + 1;
  const std::string line = good.substr(firstLine, good.find('\n', firstLine) + 1 - firstLine);
  const std::string damaged[] = {
      "",
      "not a cache at all",
      "voxtar-measures 0\n" + good.substr(firstLine),       // another version
      good.substr(0, good.size() - 1),                      // cut short
      good + line.substr(0, line.rfind('\t')) + "\n",       // a line short of a field
      good + line.substr(0, line.size() - 1) + "\t1\n",     // one field too many
      good + "c.wav\tx" + line.substr(line.find('\t', 6)),  // not a number
      std::string("voxtar-measures 1\n\xff\xfe.wav") + line.substr(line.find('\t')),
  };
  for (const std::string& text : damaged) {
    testing::WriteBytes(tmp / ".measures", text);
    MeasureCache reloaded;
    reloaded.Load(tmp.wide(true));
    EXPECT_EQ(reloaded.size(), 0u) << text;
    EXPECT_TRUE(reloaded.changed());
    const std::vector<MeasuredTake> measured = MeasureBoth(reloaded);
    EXPECT_EQ(measured[0].measures, a);
    EXPECT_EQ(testing::ReadBytes(tmp / ".measures"), good);
  }
}

TEST_F(Cache, NothingIsWrittenWhereThereIsNoDirectoryOrNothingChanged) {
  MeasureCache cache;
  cache.Load(platform::FromUtf8((tmp / "gone").string() + "/"));
  cache.Store(u"a.wav", {1, 2}, {});
  std::string error;
  EXPECT_TRUE(cache.Save(tmp.wide(), &error));
  EXPECT_FALSE(fs::exists(tmp / "gone"));

  cache.Load(tmp.wide(true));
  EXPECT_TRUE(cache.Save(tmp.wide(), &error));
  EXPECT_FALSE(fs::exists(tmp / ".measures"));  // empty and unchanged
  cache.Store(u"tab\t.wav", {1, 2}, {});        // a name that would break the line
  EXPECT_FALSE(cache.changed());
}

}  // namespace
}  // namespace voxtar::measures
