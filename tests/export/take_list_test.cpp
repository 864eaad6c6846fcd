// SPDX-License-Identifier: GPL-3.0-or-later
#include "export/take_list.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/utf8.h"
#include "tests/support/temp_dir.h"

namespace voxtar::exporting {
namespace {

// A list written through its save file, as export writes it.
std::string Written(ListFormat format, const std::vector<ListEntry>& entries) {
  testing::TempDir dir;
  const std::u16string path = dir.wide(true) + u"list";
  platform::SaveFile file(path, dir.wide());
  EXPECT_TRUE(file.Open());
  ListWriter list(format, file);
  for (const ListEntry& entry : entries) {
    list.Add(entry);
  }
  list.End();
  EXPECT_TRUE(list.ok());
  EXPECT_TRUE(file.Commit());
  return testing::ReadBytes(dir / "list");
}

TEST(ListWriter, WritesEachFormatSoThatItReadsBack) {
  // Text and names that break naive columns: the separators of each format, a quote, a control
  // character, and figures that are not known.
  SelectedTake take;
  take.prompt = u"a,\"b\".wav";
  take.name = u"a_b";
  take.text = u"one | two, \"three\"\x01";
  take.problems = {measures::Problem::Clipped, measures::Problem::TooQuiet};
  ChainResult result;
  result.sampleRate = 48000;
  result.channels = 2;
  result.frames = 72000;
  result.peakDb = -1.04;
  result.gainDb = 2.3;
  result.heldBy = GainLimit::TruePeak;
  const std::string index = "ini/u,1.idx";
  const std::optional<measures::TakeFormat> from = measures::TakeFormat{44100, 1, 16};
  const ListEntry entry{index, take, result, SampleBits::Float32, from};
  const std::string csvHeader =
      "file,lesson,prompt,text,seconds,rate,channels,bits,loudness_lufs,true_peak_dbtp,peak_dbfs,"
      "gain_db,held_by,noise_floor_db,snr_db,speech_rate,problems,converted_from\r\n";

  const std::string row =
      "wavs/a_b.wav,\"ini/u,1.idx\",\"a,\"\"b\"\".wav\",\"one | two, "
      "\"\"three\"\"\x01\",1.500,48000,2,32f,,,-1.0,2.3,"
      "true-peak,,,,clipped too-quiet,\"44100 Hz, mono\"\r\n";
  struct Case {
    ListFormat format;
    std::vector<ListEntry> entries;
    std::string expected;
  };
  const Case cases[] = {
      {ListFormat::LJSpeech, {}, ""},
      {ListFormat::Csv, {}, csvHeader},
      {ListFormat::Json, {}, "[]\n"},
      {ListFormat::LJSpeech,
       {entry},
       "a_b|one \xEF\xBD\x9C two, \"three\"\x01|one \xEF\xBD\x9C two, \"three\"\x01\n"},
      {ListFormat::Csv, {entry, entry}, csvHeader + row + row},
      {ListFormat::Json,
       {entry},
       "[\n  {\"file\": \"wavs/a_b.wav\", \"lesson\": \"ini/u,1.idx\", \"prompt\": "
       "\"a,\\\"b\\\".wav\", \"text\": \"one | two, \\\"three\\\"\\u0001\", "
       "\"seconds\": 1.500, \"rate\": 48000, \"channels\": 2, \"bits\": 32, \"float\": true, "
       "\"loudnessLufs\": null, \"truePeakDbtp\": null, \"peakDbfs\": -1.0, \"gainDb\": 2.3, "
       "\"noiseFloorDb\": null, \"snrDb\": null, \"speechRate\": null, \"heldBy\": "
       "\"true-peak\", \"convertedFrom\": {\"rate\": 44100, \"channels\": 1}, \"problems\": "
       "[\"clipped\", \"too-quiet\"]}\n]\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.format));
    EXPECT_EQ(Written(c.format, c.entries), c.expected);
  }
}

}  // namespace
}  // namespace voxtar::exporting
