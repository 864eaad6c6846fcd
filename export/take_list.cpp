// SPDX-License-Identifier: GPL-3.0-or-later
#include "export/take_list.h"

#include <vector>

#include "export/export_directory.h"
#include "measures/judgement.h"
#include "platform/utf8.h"
#include "text/value_text.h"

namespace voxtar::exporting {

namespace {

// "NAME|text|text": a "|" in the text would start a new column, so it becomes U+FF5C, the
// fullwidth vertical line, which reads the same.
std::string LJSpeechLine(const ListEntry& entry) {
  std::string text;
  for (const char c : platform::ToUtf8(entry.take.text)) {
    text += c == '|' ? std::string("\xEF\xBD\x9C") : std::string(1, c);
  }
  return platform::ToUtf8(entry.take.name) + '|' + text + '|' + text + '\n';
}

// RFC 4180: a field with a comma, a quote or a line break is quoted, its quotes doubled.
std::string CsvField(std::string_view field) {
  if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
    return std::string(field);
  }
  std::string quoted = "\"";
  for (const char c : field) {
    quoted += c == '"' ? "\"\"" : std::string(1, c);
  }
  return quoted + '"';
}

constexpr std::string_view kCsvHeader =
    "file,lesson,prompt,text,seconds,rate,channels,bits,loudness_lufs,true_peak_dbtp,peak_dbfs,"
    "gain_db,held_by,noise_floor_db,snr_db,speech_rate,problems,converted_from\r\n";

// The list's figures of one take, each as `unknown` where it is not known.
std::vector<std::string> Figures(const ListEntry& entry, std::string_view unknown) {
  const ChainResult& r = entry.result;
  const measures::TakeMeasures& source = entry.take.measures;
  const auto figure = [unknown](const std::optional<double>& value, int decimals) {
    return value ? text::Fixed(*value, decimals) : std::string(unknown);
  };
  return {text::Fixed(r.seconds(), 3),     std::to_string(r.sampleRate),
          std::to_string(r.channels),      std::string(exporting::BitsName(entry.bits)),
          figure(r.loudnessLufs, 1),       figure(r.truePeakDbtp, 1),
          text::Fixed(r.peakDb, 1),        text::Fixed(r.gainDb, 1),
          figure(source.noiseFloorDb, 1),  figure(source.snrDb(), 1),
          figure(entry.take.speechRate, 2)};
}

std::string CsvRow(const ListEntry& entry) {
  const std::vector<std::string> figures = Figures(entry, "");
  std::string row =
      CsvField(platform::ToUtf8(exporting::ExportDirectory::ListedName(entry.take.name))) + ',' +
      CsvField(entry.index) + ',' + CsvField(platform::ToUtf8(entry.take.prompt)) + ',' +
      CsvField(platform::ToUtf8(entry.take.text));
  for (std::size_t i = 0; i < figures.size(); ++i) {
    row += ',' + figures[i];
    if (i == 7) {  // after the gain: what held it back
      row += ',' + std::string(exporting::GainLimitWord(entry.result.heldBy));
    }
  }
  return row + ',' + CsvField(Problems(entry.take, " ")) + ',' +
         (entry.convertedFrom ? CsvField(RateAndChannels(*entry.convertedFrom)) : std::string()) +
         "\r\n";
}

std::string JsonObject(const ListEntry& entry) {
  static constexpr std::string_view kKeys[] = {
      "seconds",  "rate",   "channels",     "bits",  "loudnessLufs", "truePeakDbtp",
      "peakDbfs", "gainDb", "noiseFloorDb", "snrDb", "speechRate"};
  const std::vector<std::string> figures = Figures(entry, "null");
  std::string object =
      "{\"file\": " +
      text::JsonString(platform::ToUtf8(exporting::ExportDirectory::ListedName(entry.take.name))) +
      ", \"lesson\": " + text::JsonString(entry.index) +
      ", \"prompt\": " + text::JsonString(platform::ToUtf8(entry.take.prompt)) +
      ", \"text\": " + text::JsonString(platform::ToUtf8(entry.take.text));
  for (std::size_t i = 0; i < figures.size(); ++i) {
    object += ", \"" + std::string(kKeys[i]) + "\": ";
    if (kKeys[i] == "bits") {  // a number, and whether the samples are floating point
      const bool floating = entry.bits == exporting::SampleBits::Float32;
      object += (floating ? "32" : figures[i]) + ", \"float\": " + (floating ? "true" : "false");
    } else {
      object += figures[i];
    }
  }
  const std::string_view heldBy = exporting::GainLimitWord(entry.result.heldBy);
  object += ", \"heldBy\": " + (heldBy.empty() ? std::string("null") : text::JsonString(heldBy));
  object += ", \"convertedFrom\": ";
  object += entry.convertedFrom
                ? "{\"rate\": " + std::to_string(entry.convertedFrom->sampleRate) +
                      ", \"channels\": " + std::to_string(entry.convertedFrom->channels) + "}"
                : std::string("null");
  object += ", \"problems\": [";
  for (std::size_t i = 0; i < entry.take.problems.size(); ++i) {
    object +=
        (i == 0 ? "" : ", ") + text::JsonString(measures::ProblemWord(entry.take.problems[i]));
  }
  return object + "]}";
}

}  // namespace

std::string Problems(const SelectedTake& take, std::string_view separator) {
  std::string words;
  for (const measures::Problem problem : take.problems) {
    words +=
        (words.empty() ? "" : std::string(separator)) + std::string(measures::ProblemWord(problem));
  }
  return words;
}

std::string RateAndChannels(const measures::TakeFormat& format) {
  const std::string described = measures::DescribeFormat(format);
  return described.substr(0, described.rfind(", "));
}

ListWriter::ListWriter(ListFormat format, platform::SaveFile& file) : format_(format), file_(file) {
  Put(format == ListFormat::Csv ? kCsvHeader : format == ListFormat::Json ? "[" : "");
}

void ListWriter::Add(const ListEntry& entry) {
  switch (format_) {
    case ListFormat::LJSpeech:
      Put(LJSpeechLine(entry));
      break;
    case ListFormat::Csv:
      Put(CsvRow(entry));
      break;
    case ListFormat::Json:
      Put((empty_ ? "\n  " : ",\n  ") + JsonObject(entry));
      break;
  }
  empty_ = false;
}

void ListWriter::End() {
  if (format_ == ListFormat::Json) {
    Put(empty_ ? "]\n" : "\n]\n");
  }
}

}  // namespace voxtar::exporting
