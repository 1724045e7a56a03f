#include "history/history_store.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace trelvane {
namespace {

bool same_identity_for_testing = false;

}  // namespace

void SetSameIdentityForTesting(bool same) { same_identity_for_testing = same; }

FileId StoredFile::id() const { return same_identity_for_testing ? FileId{} : id_; }

std::optional<FilePlace> FilePlace::In(const StoredFile& file, std::uint64_t offset) {
  const std::uint64_t length = std::min<std::uint64_t>(offset, kFingerprintBytes);
  FilePlace place{file.id(), offset, std::string(length, '\0')};
  std::size_t got = 0;
  while (got < length) {
    const std::int64_t read = file.ReadAt(offset - length + got, place.before.data() + got,
                                          static_cast<std::size_t>(length - got));
    if (read <= 0) return std::nullopt;
    got += static_cast<std::size_t>(read);
  }
  return place;
}

bool FilePlace::HeldBy(const StoredFile& file) const {
  if (file.id() != this->file || file.size() < offset) return false;
  const std::optional<FilePlace> now = In(file, offset);
  return now && now->before == before;
}

StoredFile::StoredFile(StoredFile&& other) noexcept
    : handle_(other.handle_), id_(other.id_), size_(other.size_) {
  other.handle_ = -1;
}

StoredFile& StoredFile::operator=(StoredFile&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    id_ = other.id_;
    size_ = other.size_;
    other.handle_ = -1;
  }
  return *this;
}

StoredFile::~StoredFile() { Close(); }

std::string DescribeError(const FileError& error) {
  switch (error.kind) {
    case FileError::Kind::kSymlink:
      return "it is a symbolic link, not a regular file";
    case FileError::Kind::kNotRegular:
      return "it is not a regular file";
    case FileError::Kind::kSystem:
      break;
  }
  return std::strerror(error.error_number);
}

std::string DescribeErrorFrench(const FileError& error) {
  switch (error.kind) {
    case FileError::Kind::kSymlink:
      return "c'est un lien symbolique, pas un fichier ordinaire";
    case FileError::Kind::kNotRegular:
      return "ce n'est pas un fichier ordinaire";
    case FileError::Kind::kSystem:
      break;
  }
  switch (error.error_number) {
    case EACCES:
    case EPERM:
      return "permission refus\xC3\xA9"
             "e";
    case ENOSPC:
      return "plus de place sur le disque";
    case EROFS:
      return "syst\xC3\xA8me de fichiers en lecture seule";
    case ENOENT:
      return "le dossier n'existe pas";
    case EISDIR:
      return "c'est un dossier";
    case EIO:
      return "erreur d'entr\xC3\xA9"
             "e-sortie";
#ifdef EDQUOT
    case EDQUOT:
      return "quota de disque d\xC3\xA9pass\xC3\xA9";
#endif
    default:
      return std::string("erreur syst\xC3\xA8me : ") + std::strerror(error.error_number);
  }
}

}  // namespace trelvane
