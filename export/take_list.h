// SPDX-License-Identifier: GPL-3.0-or-later
// The list an export writes of the takes that went out: metadata.csv (NAME|text|text lines),
// takes.csv (RFC 4180 with a header row and the measures) or takes.json (one object per take).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "export/take_chain.h"
#include "export/take_selection.h"
#include "measures/take_measures.h"
#include "platform/save_file.h"

namespace voxtar::exporting {

enum class ListFormat { LJSpeech, Csv, Json };

struct ListKind {
  std::string_view name;  // as --format names it
  ListFormat format;
  std::u16string_view file;
};
inline constexpr ListKind kLists[] = {{"ljspeech", ListFormat::LJSpeech, u"metadata.csv"},
                                      {"csv", ListFormat::Csv, u"takes.csv"},
                                      {"json", ListFormat::Json, u"takes.json"}};

// One take as the list names it.
struct ListEntry {
  const std::string& index;
  const SelectedTake& take;
  const ChainResult& result;
  SampleBits bits;
  const std::optional<measures::TakeFormat>& convertedFrom;  // the take's, when converted
};

// The problem words of a take sent out flagged, joined by `separator`.
std::string Problems(const SelectedTake& take, std::string_view separator);
// "44100 Hz, stereo": what a conversion changes (the bits are --bits for every take).
std::string RateAndChannels(const measures::TakeFormat& format);

// The list of the takes that went out, written as they go out into a file put in place last.
class ListWriter {
 public:
  ListWriter(ListFormat format, platform::SaveFile& file);
  void Add(const ListEntry& entry);
  // After the last take.
  void End();
  // Whether everything reached the file so far.
  bool ok() const { return ok_; }

 private:
  void Put(std::string_view text) { ok_ = file_.Write(text.data(), text.size()) && ok_; }

  ListFormat format_;
  platform::SaveFile& file_;
  bool empty_ = true;
  bool ok_ = true;
};

}  // namespace voxtar::exporting
