// The directory an export writes into: the takes' files in "wavs", the list of them beside it
// (the caller's), and a hidden folder, ".voxtar-export", with what a second run needs to skip
// the work done: the record of what each file was made from and with which settings, and the
// measures of each lesson's takes (a measure cache, as beside the takes). A file is up to date
// while its take has the size and time it had, the settings are the same, and the file itself
// is as the export left it. Both are written whole or not at all; damaged or missing, they only
// make the next run do everything again.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "export/take_chain.h"
#include "measures/measure_cache.h"

namespace voxtar::exporting {

inline constexpr std::u16string_view kWavFolder = u"wavs";
inline constexpr std::u16string_view kRecordFolder = u".voxtar-export";

// What made one file of the export.
struct FileRecord {
  std::string source;  // the take's path, UTF-8
  measures::FileStamp sourceStamp;
  std::string settings;  // ChainSettings::Key()
  measures::FileStamp fileStamp;
  ChainResult result;

  bool operator==(const FileRecord&) const = default;
};

// One take for the export to make into the file `name` (without ".wav") of its folder.
struct TakeJob {
  std::u16string source;
  const measures::TakeMeasures* measures = nullptr;
  std::u16string name;
};

struct MadeFile {
  enum class How { Written, UpToDate, Failed };
  How how = How::Failed;
  std::string error;  // with Failed
  FileRecord record;  // otherwise
};

class ExportDirectory {
 public:
  // Creates the directory `path` (absolute, with its parents), its "wavs" folder and its hidden
  // folder where they are missing, and reads the record. False with *error when the folders cannot
  // be had.
  bool Open(std::u16string_view path, std::string* error);

  const std::u16string& path() const { return path_; }
  // "wavs/NAME.wav", as the list names the file.
  static std::u16string ListedName(std::u16string_view name);
  // The folder of the measure cache kept here for the takes of `promptDirectory`, ending in the
  // separator, as MeasureCache::Load takes it; made where missing.
  std::u16string MeasuresFolder(std::u16string_view promptDirectory) const;

  // Makes the file of `job` with `settings`, unless it is up to date. Reads the record of earlier
  // runs only: callable from several threads at once.
  MadeFile Make(const TakeJob& job, const ChainSettings& settings) const;
  // Keeps the file `name` (one Make made) in the record of this run.
  void Note(std::u16string_view name, FileRecord record);
  // Writes the record: this run's files, and those of earlier runs that are still there. False
  // with *error when it cannot be written.
  bool SaveRecord(std::string* error) const;

 private:
  // ".voxtar-export/NAME" in the directory.
  std::u16string Hidden(std::u16string_view name) const;

  std::u16string path_;
  std::map<std::string, FileRecord, std::less<>> earlier_;
  std::map<std::string, FileRecord, std::less<>> noted_;
};

}  // namespace voxtar::exporting
