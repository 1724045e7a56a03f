// The history file on POSIX systems: open(2) with O_NOFOLLOW and O_NONBLOCK, then fstat(2), so
// that a link or a FIFO in the file's place is refused before anything waits on it.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "history/history_store.h"

namespace trelvane {
namespace {

int Fd(std::intptr_t handle) { return static_cast<int>(handle); }

// The creation time in nanoseconds where the system and file system keep one (statx), else 0.
std::uint64_t BirthOf(int fd) {
#ifdef STATX_BTIME
  struct statx info {};
  if (statx(fd, "", AT_EMPTY_PATH, STATX_BTIME, &info) == 0 && (info.stx_mask & STATX_BTIME) != 0) {
    return static_cast<std::uint64_t>(info.stx_btime.tv_sec) * 1000000000u + info.stx_btime.tv_nsec;
  }
#else
  (void)fd;
#endif
  return 0;
}

// Takes the size and identity of a just-opened file, or refuses it when it is not a regular file.
bool Checked(int fd, FileError& error, FileId& id, std::uint64_t& size) {
  struct stat info {};
  if (fstat(fd, &info) != 0) {
    error = FileError{FileError::Kind::kSystem, errno};
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    error = FileError{FileError::Kind::kNotRegular, 0};
    return false;
  }
  // Reads and writes go on blocking: a regular file never makes them wait long.
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  id = FileId{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
              BirthOf(fd)};
  size = static_cast<std::uint64_t>(info.st_size);
  return true;
}

FileError OpenError(int error_number) {
  // O_NOFOLLOW fails with ELOOP on a link.
  if (error_number == ELOOP) return FileError{FileError::Kind::kSymlink, 0};
  if (error_number == EISDIR) return FileError{FileError::Kind::kNotRegular, 0};
  return FileError{FileError::Kind::kSystem, error_number};
}

}  // namespace

void StoredFile::Close() {
  if (handle_ >= 0) close(Fd(handle_));
  handle_ = -1;
}

std::optional<StoredFile> StoredFile::Open(const std::string& path, bool append, FileError& error) {
  const int flags = append ? O_RDWR | O_APPEND | O_CREAT : O_RDONLY;
  const int fd = open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = OpenError(errno);
    return std::nullopt;
  }
  StoredFile file;
  file.handle_ = fd;
  if (!Checked(fd, error, file.id_, file.size_)) return std::nullopt;
  return file;
}

std::int64_t StoredFile::ReadAt(std::uint64_t offset, char* data, std::size_t size) const {
  for (;;) {
    const ssize_t got = pread(Fd(handle_), data, size, static_cast<off_t>(offset));
    if (got >= 0) return got;
    if (errno != EINTR) return -1;
  }
}

bool StoredFile::AppendAll(std::string_view bytes, FileError& error) {
  const int fd = Fd(handle_);
  struct stat info {};
  if (fstat(fd, &info) != 0) {
    error = FileError{FileError::Kind::kSystem, errno};
    return false;
  }
  const off_t before = info.st_size;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = write(fd, bytes.data() + done, bytes.size() - done);
    if (wrote > 0) {
      done += static_cast<std::size_t>(wrote);
      continue;
    }
    if (wrote < 0 && errno == EINTR) continue;
    error = FileError{FileError::Kind::kSystem, wrote < 0 ? errno : ENOSPC};
    // Part of the line may be in the file: take it out again.
    if (ftruncate(fd, before) != 0) {
      // Nothing more can be done; the reader passes over a cut line.
    }
    return false;
  }
  size_ = static_cast<std::uint64_t>(before) + bytes.size();
  return true;
}

}  // namespace trelvane
