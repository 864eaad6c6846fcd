// SPDX-License-Identifier: GPL-3.0-or-later
#include "measures/measure_cache.h"

#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <system_error>

#include "measures/small_file_p.h"
#include "platform/file_system.h"
#include "platform/outcome.h"

namespace voxtar::measures {

namespace {

// The first line; a new version of the measures changes it, and every older cache is rebuilt.
// The second is the real path of the prompt directory.
constexpr std::string_view kHeader = "voxtar-measures 4";
// A cache of a 100,000-take lesson is about 20 MB; a larger file is not ours.
constexpr std::uint64_t kMaxCacheSize = 64u << 20;

// One line per take, tab-separated: the file name, its stamp, then its measures. Both directions
// go over the same list of fields, so that they cannot drift apart.
template <typename Visitor, typename Entry>
void VisitFields(Visitor& visit, Entry& entry) {
  auto& stamp = entry.stamp;
  auto& m = entry.measures;
  auto& text = entry.text;
  visit(stamp.size);
  visit(stamp.modifiedNs);
  visit(stamp.device);
  visit(stamp.inode);
  visit(m.format.sampleRate);
  visit(m.format.channels);
  visit(m.format.subFormat);
  visit(m.frames);
  visit(m.durationMs);
  visit(m.peakDb);
  visit(m.rmsDb);
  visit(m.voicedPeakDb);
  visit(m.voicedRmsDb);
  visit(m.clippedSamples);
  visit(m.voiced);
  visit(m.headMs);
  visit(m.tailMs);
  visit(m.voicedSpanMs);
  visit(m.noiseFloorDb);
  visit(m.loudnessLufs);
  visit(m.loudnessRangeLu);
  visit(m.truePeakDbtp);
  visit(entry.hasText);
  visit(text.digest);
  visit(text.judged);
  visit(text.textMatch);
  visit(text.textCoverage);
  visit(text.mismatch);
  visit(text.incomplete);
  visit(text.extraSpeech);
}

// Numbers in the shortest form that reads back exactly, whatever the locale; "-" for unknown.
class FieldWriter {
 public:
  explicit FieldWriter(std::string* out) : out_(out) {}
  template <typename Number>
  void operator()(Number value) {
    std::array<char, 32> text{};
    const auto result = std::to_chars(text.data(), text.data() + text.size(), value);
    out_->push_back('\t');
    out_->append(text.data(), result.ptr);
  }
  void operator()(bool value) { out_->append(value ? "\t1" : "\t0"); }
  void operator()(const std::optional<double>& value) {
    if (value) {
      (*this)(*value);
    } else {
      out_->append("\t-");
    }
  }

 private:
  std::string* out_;
};

class FieldReader {
 public:
  explicit FieldReader(std::string_view fields) : rest_(fields) {}
  template <typename Number>
  void operator()(Number& value) {
    Parse(Next(), value);
  }
  void operator()(bool& value) {
    int number = -1;
    Parse(Next(), number);
    ok_ = ok_ && (number == 0 || number == 1);
    value = number == 1;
  }
  void operator()(std::optional<double>& value) {
    const std::string_view field = Next();
    if (field == "-") {
      value.reset();
      return;
    }
    double number = 0.0;
    Parse(field, number);
    value = number;
  }
  // Every field was there, each a number, and nothing follows the last.
  bool ok() const { return ok_ && ended_; }

 private:
  std::string_view Next() {
    if (ended_) {
      ok_ = false;
      return {};
    }
    const std::size_t tab = rest_.find('\t');
    const std::string_view field = rest_.substr(0, tab);
    ended_ = tab == std::string_view::npos;
    rest_.remove_prefix(ended_ ? rest_.size() : tab + 1);
    return field;
  }
  template <typename Number>
  void Parse(std::string_view field, Number& value) {
    const char* end = field.data() + field.size();
    const auto [stop, failure] = std::from_chars(field.data(), end, value);
    ok_ = ok_ && !field.empty() && failure == std::errc() && stop == end;
  }

  std::string_view rest_;
  bool ok_ = true;
  bool ended_ = false;
};

// The path as the header holds it, on one line.
std::string Escaped(std::string_view path) {
  std::string out;
  for (const char c : path) {
    out += c == '\\' ? std::string("\\\\") : c == '\n' ? std::string("\\n") : std::string(1, c);
  }
  return out;
}

// "measures-" and a 64-bit FNV-1a hash of the directory's real path.
std::string CacheName(std::string_view directory) {
  std::uint64_t hash = 14695981039346656037u;
  for (const char c : directory) {
    hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211u;
  }
  char name[32];
  std::snprintf(name, sizeof name, "measures-%016llx", static_cast<unsigned long long>(hash));
  return name;
}

// Makes `folder` and its missing parents, each for its owner only, as caches are made.
bool MakeFolder(const std::filesystem::path& folder, std::string* error) {
  std::filesystem::path made;
  for (const std::filesystem::path& part : folder) {
    made /= part;
    if (::mkdir(made.c_str(), 0700) != 0 && errno != EEXIST) {
      const int failure = errno;
      *error = "Cannot make the cache folder \"" + made.native() +
               "\": " + platform::SystemText(failure);
      return false;
    }
  }
  std::error_code ignored;
  if (!std::filesystem::is_directory(folder, ignored)) {
    *error = "Cannot make the cache folder \"" + folder.native() + "\": it is no folder";
    return false;
  }
  return true;
}

std::u16string Wide(const std::filesystem::path& path) {
  return platform::FromUtf8(path.native());
}

}  // namespace

std::optional<FileStamp> StampOf(std::u16string_view path) {
  struct stat info {};
  if (::stat(platform::ResolvePath(path).c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return std::nullopt;
  }
  return FileStamp{static_cast<std::uint64_t>(info.st_size),
                   std::int64_t{info.st_mtim.tv_sec} * 1'000'000'000 + info.st_mtim.tv_nsec,
                   static_cast<std::uint64_t>(info.st_dev),
                   static_cast<std::uint64_t>(info.st_ino)};
}

std::filesystem::path CacheFolder() {
  // Relative values are to be ignored, as for every XDG base directory.
  if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache != nullptr && cache[0] == '/') {
    return std::filesystem::path(cache) / "voxtar";
  }
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
    return std::filesystem::path(home) / ".cache" / "voxtar";
  }
  return {};
}

void MeasureCache::Load(std::u16string_view promptDirectory) {
  file_.clear();
  directory_.clear();
  entries_.clear();
  changed_ = false;
  char* real = ::realpath(platform::ResolvePath(promptDirectory).c_str(), nullptr);
  const std::filesystem::path folder = CacheFolder();
  if (real == nullptr) {
    return;
  }
  directory_ = real;
  std::free(real);  // realpath's own buffer
  if (folder.empty()) {
    return;
  }
  file_ = folder / CacheName(directory_);
  std::error_code ignored;
  if (!std::filesystem::exists(std::filesystem::symlink_status(file_, ignored))) {
    return;
  }
  // Anything but a whole, well-formed cache of this version and directory is dropped and
  // written anew.
  changed_ = true;
  SmallFileError readError = SmallFileError::None;
  const std::optional<std::string> text = ReadSmallFile(Wide(file_), kMaxCacheSize, &readError);
  const std::string head = std::string(kHeader) + "\n" + Escaped(directory_) + "\n";
  if (!text || !std::string_view(*text).starts_with(head)) {
    return;
  }
  std::string_view rest = std::string_view(*text).substr(head.size());
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    if (end == std::string_view::npos) {
      entries_.clear();  // cut short
      return;
    }
    const std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end + 1);
    const std::size_t tab = line.find('\t');
    const std::string_view name = line.substr(0, tab);
    Entry entry;
    FieldReader reader(tab == std::string_view::npos ? std::string_view() : line.substr(tab + 1));
    VisitFields(reader, entry);
    if (tab == std::string_view::npos || name.empty() || !platform::IsValidUtf8(name) ||
        !reader.ok()) {
      entries_.clear();
      return;
    }
    entries_.insert_or_assign(platform::FromUtf8(name), entry);
  }
  changed_ = false;
}

const TakeMeasures* MeasureCache::Find(std::u16string_view name, const FileStamp& stamp) const {
  const auto found = entries_.find(name);
  return found != entries_.end() && found->second.stamp == stamp ? &found->second.measures
                                                                 : nullptr;
}

void MeasureCache::Store(std::u16string_view name, const FileStamp& stamp,
                         const TakeMeasures& measures) {
  // A name that would break its line is measured every time instead.
  if (name.empty() || name.find_first_of(u"\t\n") != std::u16string_view::npos) {
    return;
  }
  const auto found = entries_.find(name);
  if (found != entries_.end()) {
    if (found->second.stamp == stamp && found->second.measures == measures) {
      return;
    }
    // A check of the file replaced goes with it.
    const bool sameFile = found->second.stamp == stamp;
    found->second.stamp = stamp;
    found->second.measures = measures;
    found->second.hasText = found->second.hasText && sameFile;
  } else {
    entries_.emplace(std::u16string(name), Entry{stamp, measures, false, {}});
  }
  changed_ = true;
}

const TextCheck* MeasureCache::FindText(std::u16string_view name, const FileStamp& stamp,
                                        std::uint64_t digest) const {
  const auto found = entries_.find(name);
  return found != entries_.end() && found->second.stamp == stamp && found->second.hasText &&
                 found->second.text.digest == digest
             ? &found->second.text
             : nullptr;
}

void MeasureCache::StoreText(std::u16string_view name, const FileStamp& stamp,
                             const TextCheck& check) {
  const auto found = entries_.find(name);
  if (found == entries_.end() || found->second.stamp != stamp ||
      (found->second.hasText && found->second.text == check)) {
    return;
  }
  found->second.hasText = true;
  found->second.text = check;
  changed_ = true;
}

void MeasureCache::Retain(const std::vector<std::u16string>& names) {
  const std::set<std::u16string_view> kept(names.begin(), names.end());
  std::erase_if(entries_, [&](const auto& entry) {
    const bool drop = !kept.contains(entry.first);
    changed_ = changed_ || drop;
    return drop;
  });
}

bool MeasureCache::Save(std::string* error) {
  if (!changed_ || file_.empty()) {
    return true;
  }
  const std::filesystem::path folder = file_.parent_path();
  if (!MakeFolder(folder, error)) {
    return false;
  }
  std::string text(kHeader);
  text += '\n' + Escaped(directory_) + '\n';
  FieldWriter writer(&text);
  for (const auto& [name, entry] : entries_) {
    text += platform::ToUtf8(name);
    VisitFields(writer, entry);
    text += '\n';
  }
  platform::SaveFile file(Wide(file_), Wide(folder));
  file.RefuseLinks();
  file.OwnerOnly();
  if (!file.Open() || !file.Write(text.data(), text.size()) || !file.Commit()) {
    *error = file.error();
    return false;
  }
  changed_ = false;
  return true;
}

}  // namespace voxtar::measures
