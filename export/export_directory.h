// SPDX-License-Identifier: GPL-3.0-or-later
// The directory an export writes into: the takes' files in "wavs", the list of them beside it
// (the caller writes it), and a hidden folder, ".voxtar-export", with export's bookkeeping: the
// record of every file export wrote there (what each was made from and with which settings, so a
// second run skips what is up to date), a lock that keeps a second export out, and the files of
// the run in progress.
//
// The directory matches its list at every end of a run. A run makes its new files in the
// bookkeeping folder; only a run that made every file it chose moves them into "wavs", writes the
// list whole under its own name, and then removes the files an earlier run wrote that the new
// list leaves out. A run that fails, or is killed before it moves its files in, leaves the earlier
// list and its files as they were, and nothing in the directory but bookkeeping; the record names
// every file a run moves in before it moves it, so what a run killed later leaves is removed by
// the next run. A file is up to date while
// its take has the stamp it had, the settings are the same, and the file itself is as the export
// left it; export never removes a file it did not write, nor one changed since.
//
// Nothing is written through a link: when the folders or bookkeeping of export, or a list, are
// symbolic links, Open refuses the directory before anything is written, and the files are
// written never following a link. Up to date or not, a take's measures come from the user's
// measure cache: the bookkeeping keeps none.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "export/take_chain.h"
#include "measures/measure_cache.h"
#include "platform/descriptor.h"
#include "platform/save_file.h"

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
  // While a run moves its files in: the stamp of the file of an earlier run that this one
  // replaces, which is export's own as well until it is replaced.
  std::optional<measures::FileStamp> replacing;

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

// What completing a run changed beyond the new files and the list: names as the list names them
// ("wavs/NAME.wav", "takes.csv").
struct Completion {
  std::vector<std::u16string> removed;  // written by an earlier run, left out by the new list
  std::vector<std::u16string> kept;     // the same, but changed since: not export's any more
  std::string recordError;  // the record could not be written after all; the run is complete
};

class ExportDirectory {
 public:
  ExportDirectory() = default;
  ~ExportDirectory();  // drops the files of a run that did not complete
  ExportDirectory(const ExportDirectory&) = delete;
  ExportDirectory& operator=(const ExportDirectory&) = delete;

  // Opens the directory `path` (absolute) for a run that may write any of the lists `lists`
  // (file names): refuses it when its folders, bookkeeping or lists are symbolic links or no
  // folders and files, or another export holds it; then makes it (with its parents) and its
  // folders where missing, and reads the record. False with *error, before anything is written
  // when it is refused.
  bool Open(std::u16string_view path, const std::vector<std::u16string>& lists, std::string* error);

  const std::u16string& path() const { return path_; }
  // "wavs/NAME.wav", as the list names the file.
  static std::u16string ListedName(std::u16string_view name);

  // Makes the file of `job` with `settings` for this run, unless it is up to date. Reads the
  // record of earlier runs only: callable from several threads at once.
  MadeFile Make(const TakeJob& job, const ChainSettings& settings) const;
  // Keeps the file `name` (one Make made) in this run's list.
  void Note(std::u16string_view name, FileRecord record);

  // Where the run writes its list `name` (a file name), beside its new files.
  std::u16string NewList(std::u16string_view name) const;

  // Completes a run that made every file of its list: records the files, moves the new ones
  // into "wavs", commits `list` (opened on NewList(listName) and written by the caller, refusing
  // links) and moves it in as the list `listName`, then removes what earlier runs wrote that it
  // leaves out, other lists included, and records what is left. False with *error when it could
  // not; the list then is the earlier one, naming files that are all there.
  bool Complete(platform::SaveFile& list, std::u16string_view listName, Completion* done,
                std::string* error);

 private:
  struct Records {
    std::map<std::string, FileRecord, std::less<>> files;  // by name, without ".wav"
    std::map<std::string, measures::FileStamp, std::less<>> lists;
  };
  bool SaveRecord(const Records& records, std::string* error);
  // The name's file in the run's folder, "wavs/NAME.wav" in the folder of the new files.
  std::u16string NewFile(std::u16string_view name) const;
  void DropNewFiles();
  // Whether the file `name` of the open folder `directory` is still the one `record` wrote.
  static bool Written(int directory, const std::string& name, const FileRecord& record);

  std::u16string path_;
  platform::Descriptor directory_;  // the export directory
  platform::Descriptor wavs_;
  platform::Descriptor newFiles_;  // the run's files until it completes
  platform::Descriptor lock_;
  Records earlier_;
  std::string recordText_;  // the record as it is on disk
  std::map<std::string, FileRecord, std::less<>> noted_;
};

}  // namespace voxtar::exporting
