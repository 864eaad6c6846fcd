// The measures of a prompt directory's takes kept beside them in a hidden file, ".measures", so
// that judging a large course again reads only the takes that changed. An entry is used only
// while its take has the size and modification time (ns) it had when it was measured. The file
// is safe to delete; one that is damaged, of another version or not ours is ignored and
// rewritten. It is written whole or not at all, and a failure to write it fails nothing.
//
// Not thread-safe: look up from many threads at once only while nothing is stored.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "measures/take_measures.h"

namespace voxtar::measures {

inline constexpr std::u16string_view kCacheFileName = u".measures";

struct FileStamp {
  std::uint64_t size = 0;
  std::int64_t modifiedNs = 0;

  bool operator==(const FileStamp&) const = default;
};

// The stamp of the file at `path` (resolved ignoring letter case); unset when it is no regular
// file.
std::optional<FileStamp> StampOf(std::u16string_view path);

class MeasureCache {
 public:
  // Forgets what it held and reads `promptDirectory`'s cache file (the directory ends in the
  // separator, as LessonPaths::promptDirectory does). A missing or unusable file reads as empty.
  void Load(std::u16string_view promptDirectory);

  // The measures stored for the take file `name` while its stamp is still `stamp`.
  const TakeMeasures* Find(std::u16string_view name, const FileStamp& stamp) const;
  void Store(std::u16string_view name, const FileStamp& stamp, const TakeMeasures& measures);
  // Drops the entries of every name not in `names` (takes deleted or renamed).
  void Retain(const std::vector<std::u16string>& names);

  std::size_t size() const { return entries_.size(); }
  // Whether it differs from the file it was loaded from.
  bool changed() const { return changed_; }

  // Writes the cache file when it changed, atomically, staying inside `workingDirectory` (a
  // cache file that is a link to outside it is not written through). Nothing is written into a
  // directory that does not exist. False with *error when it could not be written.
  bool Save(std::u16string_view workingDirectory, std::string* error);

 private:
  struct Entry {
    FileStamp stamp;
    TakeMeasures measures;
  };
  std::u16string directory_;
  std::map<std::u16string, Entry, std::less<>> entries_;
  bool changed_ = false;
};

}  // namespace voxtar::measures
