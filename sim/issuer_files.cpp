#include "sim/issuer_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "common/user_folders.h"

namespace kasse::sim {
namespace {

Error FileError(const std::filesystem::path& path, int error) {
  return MakeError(ErrorKind::kIo, PathError(path, error));
}

bool WriteAll(int fd, const std::string& contents) {
  std::size_t done = 0;
  while (done < contents.size()) {
    const ssize_t n = ::write(fd, contents.data() + done, contents.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

Result<void> SyncFolder(const std::filesystem::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return FileError(folder, errno);
  const bool synced = ::fsync(fd) == 0;
  const int error = errno;
  ::close(fd);
  if (!synced) return FileError(folder, error);
  return {};
}

}  // namespace

Result<FolderLock> FolderLock::Take(const std::filesystem::path& lockFile) {
  const int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return FileError(lockFile, errno);
  while (::flock(fd, LOCK_EX) != 0) {
    if (errno == EINTR) continue;
    const int error = errno;
    ::close(fd);
    return FileError(lockFile, error);
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
  if (fd < 0) return FileError(path, errno);
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
      return FileError(path, error);
    }
    if (n == 0 || (done += static_cast<std::size_t>(n)) == file.contents.size()) break;
  }
  ::close(fd);
  if (done > limit) return FileError(path, EFBIG);
  file.contents.resize(done);
  return file;
}

Result<void> WriteSmallFile(const std::filesystem::path& path, const std::string& contents,
                            int mode, Existing existing) {
  std::string temporary = path.string() + ".XXXXXX";
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return FileError(path, errno);
  const bool written =
      ::fchmod(fd, static_cast<mode_t>(mode)) == 0 && WriteAll(fd, contents) && ::fsync(fd) == 0;
  int error = errno;
  ::close(fd);
  // link() refuses an existing name where rename() would replace it.
  const bool placed =
      written && (existing == Existing::kKeep ? ::link(temporary.c_str(), path.c_str()) == 0
                                              : ::rename(temporary.c_str(), path.c_str()) == 0);
  if (written) error = errno;
  ::unlink(temporary.c_str());
  if (!placed) return FileError(written ? path : std::filesystem::path(temporary), error);
  const auto folder = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
  return SyncFolder(folder);
}

}  // namespace kasse::sim
