// The history file on Windows: CreateFile with FILE_FLAG_OPEN_REPARSE_POINT, so that a link is
// opened as itself and refused, and only disk files are taken.

#include <windows.h>

#include <cerrno>

#include "history/history_store.h"

namespace trelvane {
namespace {

HANDLE Handle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// errno values for the failures the window describes; the rest keep a generic I/O error.
int ErrnoOf(DWORD code) {
  switch (code) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_FILE_NOT_FOUND:
      return ENOENT;
    case ERROR_WRITE_PROTECT:
      return EROFS;
    default:
      return EIO;
  }
}

bool Describe(HANDLE handle, FileError& error, FileId& id, std::uint64_t& size) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info)) {
    error = FileError{FileError::Kind::kNotRegular, 0};
    return false;
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    error = FileError{FileError::Kind::kSymlink, 0};
    return false;
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    error = FileError{FileError::Kind::kNotRegular, 0};
    return false;
  }
  id = FileId{info.dwVolumeSerialNumber,
              (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow,
              (static_cast<std::uint64_t>(info.ftCreationTime.dwHighDateTime) << 32) |
                  info.ftCreationTime.dwLowDateTime};
  size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  return true;
}

}  // namespace

void StoredFile::Close() {
  if (handle_ != -1) CloseHandle(Handle(handle_));
  handle_ = -1;
}

std::optional<StoredFile> StoredFile::Open(const std::string& path, bool append, FileError& error) {
  const HANDLE handle =
      CreateFileA(path.c_str(), append ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  append ? OPEN_ALWAYS : OPEN_EXISTING,
                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    error = FileError{FileError::Kind::kSystem, ErrnoOf(GetLastError())};
    return std::nullopt;
  }
  StoredFile file;
  file.handle_ = reinterpret_cast<std::intptr_t>(handle);
  if (!Describe(handle, error, file.id_, file.size_)) return std::nullopt;
  return file;
}

std::int64_t StoredFile::ReadAt(std::uint64_t offset, char* data, std::size_t size) const {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD got = 0;
  const DWORD wanted = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
  if (!ReadFile(Handle(handle_), data, wanted, &got, &at)) {
    return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
  }
  return got;
}

bool StoredFile::AppendAll(std::string_view bytes, FileError& error) {
  const HANDLE handle = Handle(handle_);
  LARGE_INTEGER before{};
  if (!GetFileSizeEx(handle, &before)) {
    error = FileError{FileError::Kind::kSystem, ErrnoOf(GetLastError())};
    return false;
  }
  DWORD wrote = 0;
  if (!SetFilePointerEx(handle, before, nullptr, FILE_BEGIN) ||
      !WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, nullptr) ||
      wrote != bytes.size()) {
    error = FileError{FileError::Kind::kSystem, ErrnoOf(GetLastError())};
    // Part of the line may be in the file: take it out again.
    if (SetFilePointerEx(handle, before, nullptr, FILE_BEGIN)) SetEndOfFile(handle);
    return false;
  }
  size_ = static_cast<std::uint64_t>(before.QuadPart) + bytes.size();
  return true;
}

}  // namespace trelvane
