#pragma once
// The file handling of the test issuer: a lock held while its files are read or changed,
// bounded reads, and writes through the file-I/O seam that never leave half a file or follow a
// planted link.

#include <filesystem>
#include <string>

#include "common/file_io.h"
#include "common/files.h"
#include "common/result.h"

namespace kasse::sim {

// An exclusive flock on a lock file, released when the object goes.
class FolderLock {
 public:
  static Result<FolderLock> Take(const std::filesystem::path& lockFile);
  FolderLock(FolderLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  FolderLock& operator=(FolderLock&&) = delete;
  ~FolderLock();

 private:
  explicit FolderLock(int fd) : fd_(fd) {}
  int fd_ = -1;
};

enum class Presence { kMissing, kPresent };

// A regular file of at most `limit` bytes; kMissing (and empty text) when it does not exist.
struct SmallFile {
  Presence presence = Presence::kMissing;
  std::string contents;
};
Result<SmallFile> ReadSmallFile(const std::filesystem::path& path, std::size_t limit);

// Written whole and durably with `mode` (common/files.h). kKeep fails (and leaves the file)
// when `path` exists; kReplace renames over it.
Result<void> WriteSmallFile(FileIo& io, const std::filesystem::path& path,
                            const std::string& contents, mode_t mode, Existing existing);

}  // namespace kasse::sim
