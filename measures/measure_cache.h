// SPDX-License-Identifier: GPL-3.0-or-later
// The measures of a prompt directory's takes, kept in the user's cache so that judging a large
// course again reads only the takes that changed: one file per prompt directory in
// $XDG_CACHE_HOME/voxtar (default ~/.cache/voxtar), named after a hash of the directory's real
// path, which the file also holds. An entry is used only while its take is the same file: the
// same size and modification time (ns) on the same device and inode, so a take changed, replaced
// or moved is measured again, and so is every take of a directory that moved. The check of a take
// against its text is kept beside its measures, with a digest of the texts it was checked against.
//
// Nothing of it lies in the working directory, which may be read-only, synced or delivered. The
// files are safe to delete; one that is damaged, of another version or of another directory is
// ignored and rewritten. They are written whole or not at all, readable by their owner only, and
// never through a symbolic link. A cache that cannot be read or written fails nothing: it only
// costs time.
//
// Not thread-safe: look up from many threads at once only while nothing is stored.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "measures/take_measures.h"
#include "measures/text_check.h"

namespace voxtar::measures {

// What a file is on disk: a file written, replaced or moved since shows other values.
struct FileStamp {
  std::uint64_t size = 0;
  std::int64_t modifiedNs = 0;
  std::uint64_t device = 0;
  std::uint64_t inode = 0;

  bool operator==(const FileStamp&) const = default;
};

// The stamp of the file at `path` (resolved ignoring letter case, links followed); unset when it
// is no regular file.
std::optional<FileStamp> StampOf(std::u16string_view path);

// The folder of the measure caches: $XDG_CACHE_HOME/voxtar when that is an absolute path, else
// $HOME/.cache/voxtar; empty when neither is known, and then nothing is kept.
std::filesystem::path CacheFolder();

class MeasureCache {
 public:
  // Forgets what it held and reads the cache of `promptDirectory` (ending in the separator, as
  // LessonPaths::promptDirectory does). A missing or unusable file reads as empty; so does
  // everything when the directory does not exist or there is no cache folder.
  void Load(std::u16string_view promptDirectory);

  // The measures stored for the take file `name` while its stamp is still `stamp`.
  const TakeMeasures* Find(std::u16string_view name, const FileStamp& stamp) const;
  void Store(std::u16string_view name, const FileStamp& stamp, const TakeMeasures& measures);
  // The check against its text stored for the take `name` while its stamp is still `stamp` and
  // the check's digest still `digest` (the text, its neighbours or the voice not changed).
  const TextCheck* FindText(std::u16string_view name, const FileStamp& stamp,
                            std::uint64_t digest) const;
  // Keeps `check` with the measures stored for `name` at `stamp`; nothing without them.
  void StoreText(std::u16string_view name, const FileStamp& stamp, const TextCheck& check);
  // Drops the entries of every name not in `names` (takes deleted or renamed).
  void Retain(const std::vector<std::u16string>& names);

  std::size_t size() const { return entries_.size(); }
  // Whether it differs from the file it was loaded from.
  bool changed() const { return changed_; }
  // The cache file of the directory loaded; empty when nothing can be kept.
  const std::filesystem::path& file() const { return file_; }

  // Writes the cache file when it changed, making the cache folder (owner only) where missing.
  // False with *error when it could not be written.
  bool Save(std::string* error);

 private:
  struct Entry {
    FileStamp stamp;
    TakeMeasures measures;
    bool hasText = false;
    TextCheck text;
  };
  std::filesystem::path file_;
  std::string directory_;  // the real path of the prompt directory
  std::map<std::u16string, Entry, std::less<>> entries_;
  bool changed_ = false;
};

}  // namespace voxtar::measures
