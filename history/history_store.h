#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace trelvane {

// Why a file could not be used.
struct FileError {
  enum class Kind {
    kSystem,      // the system refused: `error_number` says why
    kSymlink,     // a symbolic link in the file's place
    kNotRegular,  // a directory, a FIFO, a device, a socket
  };
  Kind kind = Kind::kSystem;
  int error_number = 0;
};

// The reason in words, for the terminal (English) and for the window (French).
std::string DescribeError(const FileError& error);
std::string DescribeErrorFrench(const FileError& error);

// What the file system says makes a file the same file. Not enough on its own: ext4 and others
// give a file created after a deletion the number of the file just deleted, so a reader also checks
// the bytes it stopped after (`FilePlace`).
struct FileId {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;  // the file index on Windows
  std::uint64_t birth = 0;  // the creation time where the file system keeps one, else 0
  bool operator==(const FileId&) const = default;
};

// An open regular file of the history. Opening never blocks and never follows a symbolic link:
// anything but a regular file (a FIFO, a device such as /dev/zero, a directory, a link) is refused,
// so no reader can hang or grow without end. The platform's backend is picked by the build.
class StoredFile {
 public:
  StoredFile(StoredFile&& other) noexcept;
  StoredFile& operator=(StoredFile&& other) noexcept;
  StoredFile(const StoredFile&) = delete;
  StoredFile& operator=(const StoredFile&) = delete;
  ~StoredFile();

  // Opens an existing file for reading.
  static std::optional<StoredFile> OpenForReading(const std::string& path, FileError& error) {
    return Open(path, false, error);
  }
  // Opens a file for appending (and reading), creating it (mode 0644) when it does not exist.
  static std::optional<StoredFile> OpenForAppending(const std::string& path, FileError& error) {
    return Open(path, true, error);
  }
  FileId id() const;
  std::uint64_t size() const { return size_; }

  // Reads up to `size` bytes at `offset`: the count read, 0 at the end, -1 on an error.
  std::int64_t ReadAt(std::uint64_t offset, char* data, std::size_t size) const;

  // Writes `bytes` at the end, all or nothing: a write that fails or falls short (a full disk) is
  // undone by cutting the file back to the size it had, so the file only ever holds whole lines.
  bool AppendAll(std::string_view bytes, FileError& error);

 private:
  StoredFile() = default;
  static std::optional<StoredFile> Open(const std::string& path, bool append, FileError& error);
  void Close();

  std::intptr_t handle_ = -1;
  FileId id_;
  std::uint64_t size_ = 0;
};

// A place in a file that a reader or writer got to, with the bytes just before it: the file is
// still the one it read or wrote up to there when it has the same identity, is at least that long,
// and still holds those bytes there.
struct FilePlace {
  static constexpr std::size_t kFingerprintBytes = 256;

  FileId file;
  std::uint64_t offset = 0;
  std::string before;  // the last kFingerprintBytes bytes before `offset` (fewer near the start)

  // The place `offset` in `file`; nothing when the bytes cannot be read.
  static std::optional<FilePlace> In(const StoredFile& file, std::uint64_t offset);
  bool HeldBy(const StoredFile& file) const;
};

// Tests stand in for a file system that reuses identities: while set, every file has the same one.
void SetSameIdentityForTesting(bool same);

}  // namespace trelvane
