#include "export/export_directory.h"

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

#include "export/name_hash_p.h"
#include "platform/file_system.h"

namespace voxtar::exporting {

namespace {

using Records = std::map<std::string, FileRecord, std::less<>>;

constexpr std::u16string_view kRecordName = u"files";
constexpr std::string_view kRecordHeader = "voxtar-export 1";
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

std::string Line(const std::string& name, const FileRecord& file) {
  const ChainResult& r = file.result;
  std::string line = Escaped(name) + '\t' + Escaped(file.source);
  for (const std::string& field :
       {std::to_string(file.sourceStamp.size), std::to_string(file.sourceStamp.modifiedNs),
        file.settings, std::to_string(file.fileStamp.size),
        std::to_string(file.fileStamp.modifiedNs), std::to_string(r.sampleRate),
        std::to_string(r.channels), std::to_string(r.frames), Optional(r.loudnessLufs),
        Optional(r.truePeakDbtp), Number(r.peakDb), Number(r.gainDb),
        std::string(GainLimitWord(r.heldBy))}) {
    line += '\t' + field;
  }
  return line + '\n';
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
bool ParseLine(std::string_view line, Records* records) {
  const std::vector<std::string_view> f = Fields(line);
  if (f.size() != 15) {
    return false;
  }
  FileRecord file{Unescaped(f[1]), {}, std::string(f[4]), {}, {}};
  ChainResult& r = file.result;
  const std::optional<GainLimit> heldBy = GainLimitFromWord(f[14]);
  if (!Read(f[2], &file.sourceStamp.size) || !Read(f[3], &file.sourceStamp.modifiedNs) ||
      !Read(f[5], &file.fileStamp.size) || !Read(f[6], &file.fileStamp.modifiedNs) ||
      !Read(f[7], &r.sampleRate) || !Read(f[8], &r.channels) || !Read(f[9], &r.frames) ||
      !ReadOptional(f[10], &r.loudnessLufs) || !ReadOptional(f[11], &r.truePeakDbtp) ||
      !Read(f[12], &r.peakDb) || !Read(f[13], &r.gainDb) || !heldBy) {
    return false;
  }
  r.heldBy = *heldBy;
  records->insert_or_assign(Unescaped(f[0]), std::move(file));
  return true;
}

Records ParseRecord(std::string_view text) {
  Records records;
  if (!text.starts_with(std::string(kRecordHeader) + '\n')) {
    return records;  // another version's, or not ours: every file is made again
  }
  text.remove_prefix(kRecordHeader.size() + 1);
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    ParseLine(text.substr(0, end), &records);
    text.remove_prefix(std::min(end + 1, text.size()));
  }
  return records;
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

}  // namespace

std::u16string ExportDirectory::Hidden(std::u16string_view name) const {
  return path_ + platform::kSeparator + std::u16string(kRecordFolder) + platform::kSeparator +
         std::u16string(name);
}

std::u16string ExportDirectory::MeasuresFolder(std::u16string_view promptDirectory) const {
  char hash[32];
  std::snprintf(hash, sizeof hash, "measures-%016llx",
                static_cast<unsigned long long>(NameHash(promptDirectory)));
  std::u16string folder = Hidden(platform::FromUtf8(hash));
  std::error_code ignored;  // without it, every take is measured again next time
  std::filesystem::create_directory(platform::ResolvePath(folder), ignored);
  return folder + platform::kSeparator;
}

std::u16string ExportDirectory::ListedName(std::u16string_view name) {
  std::u16string listed(kWavFolder);
  listed += u'/';
  listed += name;
  return listed + u".wav";
}

bool ExportDirectory::Open(std::u16string_view path, std::string* error) {
  path_ = path;
  while (path_.size() > 1 && path_.back() == platform::kSeparator) {
    path_.pop_back();
  }
  for (const std::u16string_view folder : {kWavFolder, kRecordFolder}) {
    const std::filesystem::path made =
        platform::ResolvePath(path_ + platform::kSeparator + std::u16string(folder));
    std::error_code failure;
    std::filesystem::create_directories(made, failure);
    if (failure || !std::filesystem::is_directory(made, failure)) {
      *error = "The export directory cannot be made: " + made.native() +
               (failure ? " (" + failure.message() + ")" : "");
      return false;
    }
  }
  earlier_ = ParseRecord(ReadRecord(Hidden(kRecordName)));
  return true;
}

MadeFile ExportDirectory::Make(const TakeJob& job, const ChainSettings& settings) const {
  const std::u16string target = path_ + platform::kSeparator + ListedName(job.name);
  MadeFile made;
  FileRecord& record = made.record;
  record.source = platform::ToUtf8(job.source);
  record.settings = settings.Key();
  // Stamped before it is read: a take written meanwhile is made again next time.
  const std::optional<measures::FileStamp> sourceStamp = measures::StampOf(job.source);
  record.sourceStamp = sourceStamp.value_or(measures::FileStamp{});
  if (const auto earlier = earlier_.find(platform::ToUtf8(job.name));
      earlier != earlier_.end() && sourceStamp && earlier->second.source == record.source &&
      earlier->second.sourceStamp == *sourceStamp && earlier->second.settings == record.settings &&
      measures::StampOf(target) == earlier->second.fileStamp) {
    made.how = MadeFile::How::UpToDate;
    record = earlier->second;
    return made;
  }
  if (!ExportTake(job.source, *job.measures, settings, target, path_, &record.result,
                  &made.error)) {
    return made;
  }
  record.fileStamp = measures::StampOf(target).value_or(measures::FileStamp{});
  made.how = MadeFile::How::Written;
  return made;
}

void ExportDirectory::Note(std::u16string_view name, FileRecord record) {
  noted_.insert_or_assign(platform::ToUtf8(name), std::move(record));
}

bool ExportDirectory::SaveRecord(std::string* error) const {
  std::string text = std::string(kRecordHeader) + '\n';
  for (const auto& [name, file] : noted_) {
    text += Line(name, file);
  }
  for (const auto& [name, file] : earlier_) {
    const std::u16string listed =
        path_ + platform::kSeparator + ListedName(platform::FromUtf8(name));
    if (!noted_.contains(name) && measures::StampOf(listed) == file.fileStamp) {
      text += Line(name, file);
    }
  }
  platform::SaveFile save(Hidden(kRecordName), path_);
  if (!save.Open() || !save.Write(text.data(), text.size()) || !save.Commit()) {
    *error = save.error();
    return false;
  }
  return true;
}

}  // namespace voxtar::exporting
