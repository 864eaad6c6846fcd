// SPDX-License-Identifier: GPL-3.0-or-later
#include "export/export_directory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "platform/file_system.h"
#include "platform/outcome.h"

namespace voxtar::exporting {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kRecordName = "files";
constexpr std::string_view kLockName = "lock";
constexpr std::string_view kNewFolder = "new";
// Version 2 stamps files with their device and inode, and lists the lists export wrote.
constexpr std::string_view kRecordHeader = "voxtar-export 2";
// A record of a million files is some hundred MiB; anything larger is not one.
constexpr std::uint64_t kMaxRecordSize = std::uint64_t{1} << 30;

// Names and paths may hold any character but these, which part the fields and lines.
std::string Escaped(std::string_view text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string Unescaped(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char next = text[++i];
    out += next == 't' ? '\t' : next == 'n' ? '\n' : next == 'r' ? '\r' : next;
  }
  return out;
}

std::string Number(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

std::string Optional(const std::optional<double>& value) {
  return value ? Number(*value) : "-";
}

template <typename Value>
bool Read(std::string_view field, Value* value) {
  const char* end = field.data() + field.size();
  const auto [stop, failure] = std::from_chars(field.data(), end, *value);
  return failure == std::errc() && stop == end;
}

bool ReadOptional(std::string_view field, std::optional<double>* value) {
  double number = 0.0;
  if (field == "-") {
    value->reset();
    return true;
  }
  if (!Read(field, &number)) {
    return false;
  }
  *value = number;
  return true;
}

std::vector<std::string> StampFields(const std::optional<measures::FileStamp>& stamp) {
  if (!stamp) {
    return {"-", "-", "-", "-"};
  }
  return {std::to_string(stamp->size), std::to_string(stamp->modifiedNs),
          std::to_string(stamp->device), std::to_string(stamp->inode)};
}

// Four fields from `at` on; false when they do not read.
bool ReadStamp(const std::vector<std::string_view>& f, std::size_t at,
               std::optional<measures::FileStamp>* stamp) {
  if (f[at] == "-" && f[at + 1] == "-" && f[at + 2] == "-" && f[at + 3] == "-") {
    stamp->reset();
    return true;
  }
  measures::FileStamp read;
  if (!Read(f[at], &read.size) || !Read(f[at + 1], &read.modifiedNs) ||
      !Read(f[at + 2], &read.device) || !Read(f[at + 3], &read.inode)) {
    return false;
  }
  *stamp = read;
  return true;
}

std::string Line(std::string_view kind, const std::string& name,
                 const std::vector<std::string>& fields) {
  std::string line = std::string(kind) + '\t' + Escaped(name);
  for (const std::string& field : fields) {
    line += '\t' + field;
  }
  return line + '\n';
}

std::string FileLine(const std::string& name, const FileRecord& file) {
  const ChainResult& r = file.result;
  std::vector<std::string> fields = {Escaped(file.source)};
  for (std::vector<std::string> part :
       {StampFields(file.sourceStamp),
        {file.settings},
        StampFields(file.fileStamp),
        StampFields(file.replacing),
        {std::to_string(r.sampleRate), std::to_string(r.channels), std::to_string(r.frames),
         Optional(r.loudnessLufs), Optional(r.truePeakDbtp), Number(r.peakDb), Number(r.gainDb),
         std::string(GainLimitWord(r.heldBy))}}) {
    fields.insert(fields.end(), part.begin(), part.end());
  }
  return Line("file", name, fields);
}

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  for (std::size_t start = 0;;) {
    const std::size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab - start));
    if (tab == std::string_view::npos) {
      return fields;
    }
    start = tab + 1;
  }
}

// One line of the record; false when it does not read.
template <typename Records>
bool ParseLine(std::string_view line, Records* records) {
  const std::vector<std::string_view> f = Fields(line);
  if (f.size() == 6 && f[0] == "list") {
    std::optional<measures::FileStamp> stamp;
    if (!ReadStamp(f, 2, &stamp) || !stamp) {
      return false;
    }
    records->lists.insert_or_assign(Unescaped(f[1]), *stamp);
    return true;
  }
  if (f.size() != 24 || f[0] != "file") {
    return false;
  }
  FileRecord file{Unescaped(f[2]), {}, std::string(f[7]), {}, {}, {}};
  ChainResult& r = file.result;
  std::optional<measures::FileStamp> sourceStamp;
  std::optional<measures::FileStamp> fileStamp;
  const std::optional<GainLimit> heldBy = GainLimitFromWord(f[23]);
  if (!ReadStamp(f, 3, &sourceStamp) || !sourceStamp || !ReadStamp(f, 8, &fileStamp) ||
      !fileStamp || !ReadStamp(f, 12, &file.replacing) || !Read(f[16], &r.sampleRate) ||
      !Read(f[17], &r.channels) || !Read(f[18], &r.frames) ||
      !ReadOptional(f[19], &r.loudnessLufs) || !ReadOptional(f[20], &r.truePeakDbtp) ||
      !Read(f[21], &r.peakDb) || !Read(f[22], &r.gainDb) || !heldBy) {
    return false;
  }
  file.sourceStamp = *sourceStamp;
  file.fileStamp = *fileStamp;
  r.heldBy = *heldBy;
  records->files.insert_or_assign(Unescaped(f[1]), std::move(file));
  return true;
}

std::string ReadRecord(std::u16string_view path) {
  platform::InputFile file;
  if (file.Open(path) != platform::FileError::None || file.size() > kMaxRecordSize) {
    return {};
  }
  std::string text(static_cast<std::size_t>(file.size()), '\0');
  std::size_t got = 0;
  while (got < text.size()) {
    const std::ptrdiff_t read = file.Read(text.data() + got, text.size() - got);
    if (read <= 0) {
      return {};
    }
    got += static_cast<std::size_t>(read);
  }
  return text;
}

measures::FileStamp StampFrom(const struct stat& info) {
  return {static_cast<std::uint64_t>(info.st_size),
          std::int64_t{info.st_mtim.tv_sec} * 1'000'000'000 + info.st_mtim.tv_nsec,
          static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

// The stamp of the regular file `name` of the open folder `directory`, no link followed.
std::optional<measures::FileStamp> StampAt(int directory, const std::string& name) {
  struct stat info {};
  if (::fstatat(directory, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISREG(info.st_mode)) {
    return std::nullopt;
  }
  return StampFrom(info);
}

// Whether the open file `file` holds the same bytes as the file `name` of the folder
// `directory`.
bool SameBytes(int file, int directory, const std::string& name) {
  const platform::Descriptor other(
      ::openat(directory, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  struct stat mine {};
  struct stat theirs {};
  if (file < 0 || !other.valid() || ::fstat(file, &mine) != 0 ||
      ::fstat(other.get(), &theirs) != 0 || mine.st_size != theirs.st_size) {
    return false;
  }
  std::vector<char> a(1 << 16);
  std::vector<char> b(a.size());
  for (off_t at = 0; at < mine.st_size;) {
    const ssize_t got = ::pread(file, a.data(), a.size(), at);
    if (got <= 0 || ::pread(other.get(), b.data(), static_cast<std::size_t>(got), at) != got ||
        std::memcmp(a.data(), b.data(), static_cast<std::size_t>(got)) != 0) {
      return false;
    }
    at += got;
  }
  return true;
}

std::string Quoted(const fs::path& path) {
  return "\"" + path.native() + "\"";
}

// Why `path` cannot be a folder (or, with `folder` false, a file) of export's own; empty when it
// can, or does not exist yet.
std::string RefusalOf(const fs::path& path, bool folder) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) {
    return errno == ENOENT ? std::string() : Quoted(path) + ": " + platform::SystemText(errno);
  }
  if (S_ISLNK(info.st_mode)) {
    std::error_code ignored;
    return Quoted(path) + " is a symbolic link to " + Quoted(fs::read_symlink(path, ignored)) +
           ", which export does not write through";
  }
  if (folder ? !S_ISDIR(info.st_mode) : !S_ISREG(info.st_mode)) {
    return Quoted(path) + (folder ? " is not a folder" : " is not a regular file");
  }
  // A rename would get around it.
  if (!folder && (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
    return Quoted(path) + " is read-only";
  }
  return {};
}

// The folder `name` of the open folder `parent`, made where missing; never through a link.
platform::Descriptor FolderIn(int parent, const std::string& name) {
  if (::mkdirat(parent, name.c_str(), 0777) != 0 && errno != EEXIST) {
    return platform::Descriptor();
  }
  return platform::Descriptor(
      ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

std::string Utf8(std::u16string_view text) {
  return platform::ToUtf8(text);
}

}  // namespace

ExportDirectory::~ExportDirectory() {
  DropNewFiles();
}

std::u16string ExportDirectory::ListedName(std::u16string_view name) {
  std::u16string listed(kWavFolder);
  listed += u'/';
  listed += name;
  return listed + u".wav";
}

std::u16string ExportDirectory::NewList(std::u16string_view name) const {
  return path_ + platform::kSeparator + std::u16string(kRecordFolder) + platform::kSeparator +
         platform::FromUtf8(kNewFolder) + platform::kSeparator + std::u16string(name);
}

std::u16string ExportDirectory::NewFile(std::u16string_view name) const {
  return NewList(std::u16string(name) + u".wav");
}

bool ExportDirectory::Open(std::u16string_view path, const std::vector<std::u16string>& lists,
                           std::string* error) {
  path_ = path;
  while (path_.size() > 1 && path_.back() == platform::kSeparator) {
    path_.pop_back();
  }
  const fs::path root = platform::ResolvePath(path_);
  const fs::path bookkeeping = root / Utf8(kRecordFolder);
  // Everything is looked at before anything is written.
  std::vector<std::pair<fs::path, bool>> own = {{root / Utf8(kWavFolder), true},
                                                {bookkeeping, true},
                                                {bookkeeping / kRecordName, false},
                                                {bookkeeping / kLockName, false},
                                                {bookkeeping / kNewFolder, true}};
  for (const std::u16string& list : lists) {
    own.emplace_back(root / Utf8(list), false);
  }
  for (const auto& [place, folder] : own) {
    if (const std::string refusal = RefusalOf(place, folder); !refusal.empty()) {
      *error = "The export directory is refused, and nothing was written: " + refusal;
      return false;
    }
  }
  std::error_code failure;
  fs::create_directories(root, failure);
  directory_.Reset(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!directory_.valid()) {
    const int why = errno;
    *error = "The export directory cannot be made: " + root.native() + " (" +
             (failure ? failure.message() : platform::SystemText(why)) + ")";
    return false;
  }
  wavs_ = FolderIn(directory_.get(), Utf8(kWavFolder));
  platform::Descriptor records = FolderIn(directory_.get(), Utf8(kRecordFolder));
  if (records.valid()) {
    newFiles_ = FolderIn(records.get(), std::string(kNewFolder));
    lock_.Reset(::openat(records.get(), std::string(kLockName).c_str(),
                         O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666));
  }
  if (!wavs_.valid() || !newFiles_.valid() || !lock_.valid()) {
    const int why = errno;
    *error = "The folders of the export cannot be made in " + root.native() + " (" +
             platform::SystemText(why) + ")";
    return false;
  }
  if (platform::TryLockWhole(lock_.get()) == platform::LockAttempt::HeldElsewhere) {
    *error = "Another export is writing into " + root.native() + ": try again once it is done";
    lock_.Reset();
    newFiles_.Reset();  // its files are not ours to drop
    return false;
  }
  DropNewFiles();  // left by a run that was killed
  earlier_ = {};
  recordText_ = ReadRecord(platform::FromUtf8((bookkeeping / kRecordName).native()));
  if (recordText_.starts_with(std::string(kRecordHeader) + '\n')) {
    std::string_view rest = std::string_view(recordText_).substr(kRecordHeader.size() + 1);
    while (!rest.empty()) {
      const std::size_t end = std::min(rest.find('\n'), rest.size());
      ParseLine(rest.substr(0, end), &earlier_);
      rest.remove_prefix(std::min(end + 1, rest.size()));
    }
  }  // else another version's, or not ours: every file is made again, none is known as ours
  return true;
}

void ExportDirectory::DropNewFiles() {
  if (!newFiles_.valid()) {
    return;
  }
  DIR* listing = ::fdopendir(::openat(newFiles_.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (listing == nullptr) {
    return;
  }
  while (const dirent* entry = ::readdir(listing)) {
    // Only export writes here, under its lock; a folder is left alone.
    ::unlinkat(newFiles_.get(), entry->d_name, 0);
  }
  ::closedir(listing);
}

bool ExportDirectory::Written(int directory, const std::string& name, const FileRecord& record) {
  const std::optional<measures::FileStamp> stamp = StampAt(directory, name);
  return stamp && (*stamp == record.fileStamp || stamp == record.replacing);
}

MadeFile ExportDirectory::Make(const TakeJob& job, const ChainSettings& settings) const {
  const std::string name = Utf8(job.name);
  MadeFile made;
  FileRecord& record = made.record;
  record.source = Utf8(job.source);
  record.settings = settings.Key();
  // Stamped before it is read: a take written meanwhile is made again next time.
  const std::optional<measures::FileStamp> sourceStamp = measures::StampOf(job.source);
  record.sourceStamp = sourceStamp.value_or(measures::FileStamp{});
  if (const auto earlier = earlier_.files.find(name);
      earlier != earlier_.files.end() && sourceStamp && earlier->second.source == record.source &&
      earlier->second.sourceStamp == *sourceStamp && earlier->second.settings == record.settings &&
      StampAt(wavs_.get(), name + ".wav") == earlier->second.fileStamp) {
    made.how = MadeFile::How::UpToDate;
    record = earlier->second;
    record.replacing.reset();
    return made;
  }
  if (!ExportTake(job.source, *job.measures, settings, NewFile(job.name), path_, &record.result,
                  &made.error)) {
    return made;
  }
  record.fileStamp = StampAt(newFiles_.get(), name + ".wav").value_or(measures::FileStamp{});
  made.how = MadeFile::How::Written;
  return made;
}

void ExportDirectory::Note(std::u16string_view name, FileRecord record) {
  noted_.insert_or_assign(Utf8(name), std::move(record));
}

bool ExportDirectory::SaveRecord(const Records& records, std::string* error) {
  std::string text = std::string(kRecordHeader) + '\n';
  for (const auto& [name, stamp] : records.lists) {
    text += Line("list", name, StampFields(stamp));
  }
  for (const auto& [name, file] : records.files) {
    text += FileLine(name, file);
  }
  if (text == recordText_) {
    return true;  // a run that changed nothing leaves the record as it is
  }
  platform::SaveFile save(path_ + platform::kSeparator + std::u16string(kRecordFolder) +
                              platform::kSeparator + platform::FromUtf8(kRecordName),
                          path_);
  save.RefuseLinks();
  if (!save.Open() || !save.Write(text.data(), text.size()) || !save.Commit()) {
    *error = save.error();
    return false;
  }
  recordText_ = std::move(text);
  return true;
}

bool ExportDirectory::Complete(platform::SaveFile& list, std::u16string_view listName,
                               Completion* done, std::string* error) {
  // First the record: every file this run moves in, each with the file of an earlier run it
  // replaces, and what earlier runs wrote; so whatever happens next, what is export's is known.
  Records moving{earlier_.files, earlier_.lists};
  std::vector<std::string> made;
  for (const auto& [name, record] : noted_) {
    FileRecord& file = moving.files[name];
    const std::string wav = name + ".wav";
    std::optional<measures::FileStamp> replacing;
    if (earlier_.files.contains(name) && Written(wavs_.get(), wav, file)) {
      replacing = StampAt(wavs_.get(), wav);
    }
    file = record;
    if (StampAt(newFiles_.get(), wav)) {
      file.replacing = replacing;
      made.push_back(wav);
    }
  }
  if (!SaveRecord(moving, error)) {
    *error = "The record of the export cannot be written: " + *error;
    return false;
  }
  for (const std::string& wav : made) {
    if (::renameat(newFiles_.get(), wav.c_str(), wavs_.get(), wav.c_str()) != 0) {
      const int why = errno;
      *error = "Cannot move " + wav + " into " + Quoted(platform::ResolvePath(path_) / "wavs") +
               ": " + platform::SystemText(why);
      return false;
    }
  }
  ::fsync(wavs_.get());  // before the list names them
  const std::string current = Utf8(listName);
  // A list the same as export's own list there stays as it is: a run that changed nothing
  // changes nothing.
  const auto earlierList = earlier_.lists.find(current);
  const std::optional<measures::FileStamp> listThere = StampAt(directory_.get(), current);
  const bool unchanged = earlierList != earlier_.lists.end() && listThere == earlierList->second &&
                         SameBytes(list.descriptor(), directory_.get(), current);
  if (unchanged) {
    list.Cancel();
  } else {
    if (!list.Commit()) {
      *error = list.error();
      return false;
    }
    // Made beside the run's files, it takes its place last.
    if (::renameat(newFiles_.get(), current.c_str(), directory_.get(), current.c_str()) != 0) {
      const int why = errno;
      *error = "Cannot move the list into " + Quoted(platform::ResolvePath(path_)) + ": " +
               platform::SystemText(why);
      return false;
    }
    ::fsync(directory_.get());
  }

  // The new list is in place: what it leaves out goes.
  Records kept;
  for (const auto& [name, record] : noted_) {
    kept.files.emplace(name, record).first->second.replacing.reset();
  }
  for (const auto& [name, record] : earlier_.files) {
    const std::string wav = name + ".wav";
    if (noted_.contains(name) || !StampAt(wavs_.get(), wav)) {
      continue;
    }
    const std::u16string listed = ListedName(platform::FromUtf8(name));
    if (!Written(wavs_.get(), wav, record)) {
      done->kept.push_back(listed);
    } else if (::unlinkat(wavs_.get(), wav.c_str(), 0) == 0) {
      done->removed.push_back(listed);
    } else {
      kept.files.emplace(name, record);  // still export's: the next run tries again
    }
  }
  for (const auto& [name, stamp] : earlier_.lists) {
    const std::optional<measures::FileStamp> now = StampAt(directory_.get(), name);
    if (name == current || !now) {
      continue;
    }
    if (*now != stamp) {
      done->kept.push_back(platform::FromUtf8(name));
    } else if (::unlinkat(directory_.get(), name.c_str(), 0) == 0) {
      done->removed.push_back(platform::FromUtf8(name));
    } else {
      kept.lists.emplace(name, stamp);
    }
  }
  const platform::FileIdentity& written = list.written();
  kept.lists.insert_or_assign(current, unchanged
                                           ? *listThere
                                           : measures::FileStamp{written.size, written.modifiedNs,
                                                                 written.device, written.inode});
  earlier_ = kept;
  noted_.clear();
  // Without it the next run makes every file again, and leaves what this run wrote alone.
  if (!SaveRecord(earlier_, &done->recordError)) {
    done->recordError = "The record of the export cannot be written: " + done->recordError;
  }
  return true;
}

}  // namespace voxtar::exporting
