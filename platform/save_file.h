// Replacing a file whole or not at all. No Qt.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace voxtar::platform {

// Writes a file whole or not at all, like QSaveFile: the content goes to a temporary file in the
// target's directory, which is flushed to disk and renamed over the target on Commit. Until then,
// and whenever anything fails, the target stays byte-identical. A read-only target (no write bit,
// or not writable for this user) is refused, since a rename would get around it. A symlinked
// target is written through to the file it points to. The new file keeps the old file's mode.
class SaveFile {
 public:
  // `confinedTo`: the working directory the write must stay in (empty: anywhere). A target that
  // is a symbolic link is written through only when the file it leads to lies inside it.
  explicit SaveFile(std::u16string_view target, std::u16string_view confinedTo = {});
  ~SaveFile();  // discards an uncommitted temporary file
  SaveFile(const SaveFile&) = delete;
  SaveFile& operator=(const SaveFile&) = delete;

  // Creates the temporary file. False (with error()) when the target is read-only or the
  // directory does not take a new file.
  bool Open();
  // The open temporary file's descriptor, for writers that need one (libsndfile).
  int descriptor() const { return fd_; }
  bool Write(const void* data, std::size_t size);
  // Flushes, syncs and renames over the target. False (target untouched) on any failure,
  // including an earlier failed Write.
  bool Commit();
  // Drops the temporary file; the target stays as it was.
  void Cancel();

  const std::filesystem::path& target() const { return target_; }
  const std::string& error() const { return error_; }

  // A symbolic link that Open refused to write through, and the file it leads to.
  struct LinkRefusal {
    std::filesystem::path link;
    std::filesystem::path target;
  };
  const std::optional<LinkRefusal>& linkRefusal() const { return linkRefusal_; }

 private:
  std::filesystem::path target_;
  std::filesystem::path final_;  // target_ with symbolic links followed: the file replaced
  std::filesystem::path temp_;
  std::filesystem::path confinedTo_;
  std::optional<LinkRefusal> linkRefusal_;
  std::string error_;
  int fd_ = -1;
  bool failed_ = false;
};

}  // namespace voxtar::platform
