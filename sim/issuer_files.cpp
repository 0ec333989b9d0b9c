#include "sim/issuer_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/user_folders.h"

namespace kasse::sim {
namespace {

Error IssuerFileError(const std::filesystem::path& path, int error) {
  return MakeError(ErrorKind::kIo, PathError(path, error));
}

}  // namespace

Result<FolderLock> FolderLock::Take(const std::filesystem::path& lockFile) {
  const int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return IssuerFileError(lockFile, errno);
  while (::flock(fd, LOCK_EX) != 0) {
    if (errno == EINTR) continue;
    const int error = errno;
    ::close(fd);
    return IssuerFileError(lockFile, error);
  }
  return FolderLock(fd);
}

FolderLock::~FolderLock() {
  if (fd_ >= 0) ::close(fd_);
}

Result<SmallFile> ReadSmallFile(const std::filesystem::path& path, std::size_t limit) {
  // Non-blocking open, so a FIFO planted under the name cannot hang the reader.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0 && errno == ENOENT) return SmallFile{};
  if (fd < 0) return IssuerFileError(path, errno);
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
      static_cast<std::size_t>(info.st_size) > limit) {
    ::close(fd);
    return MakeError(
        ErrorKind::kUnusableInput,
        path.string() + (S_ISREG(info.st_mode) ? ": larger than " + std::to_string(limit) + " bytes"
                                               : std::string(": not a regular file")));
  }
  SmallFile file{Presence::kPresent, std::string(limit + 1, '\0')};
  std::size_t done = 0;
  for (;;) {
    const ssize_t n = ::read(fd, file.contents.data() + done, file.contents.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      ::close(fd);
      return IssuerFileError(path, error);
    }
    if (n == 0 || (done += static_cast<std::size_t>(n)) == file.contents.size()) break;
  }
  ::close(fd);
  if (done > limit) return IssuerFileError(path, EFBIG);
  file.contents.resize(done);
  return file;
}

Result<void> WriteSmallFile(FileIo& io, const std::filesystem::path& path,
                            const std::string& contents, mode_t mode, Existing existing) {
  FileWrite how;
  how.existing = existing;
  how.mode = mode;
  return WriteFileAtomic(path, contents, how, io);
}

}  // namespace kasse::sim
