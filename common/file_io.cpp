#include "common/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace kasse {
namespace {

class Posix final : public FileIo {
 public:
  int Open(const std::filesystem::path& path, int flags, mode_t mode) override {
    int fd;
    do {
      fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
  }
  ssize_t Write(int fd, const void* data, std::size_t size) override {
    return ::write(fd, data, size);
  }
  ssize_t WriteAt(int fd, const void* data, std::size_t size, off_t offset) override {
    return ::pwrite(fd, data, size, offset);
  }
  int Truncate(int fd, off_t size) override { return ::ftruncate(fd, size); }
  int DataSync(int fd) override { return ::fdatasync(fd); }
  int Sync(int fd) override { return ::fsync(fd); }
  int ChangeMode(int fd, mode_t mode) override { return ::fchmod(fd, mode); }
  int Close(int fd) override { return ::close(fd); }
  int Rename(const std::filesystem::path& from, const std::filesystem::path& to) override {
    return ::rename(from.c_str(), to.c_str());
  }
  int Link(const std::filesystem::path& from, const std::filesystem::path& to) override {
    return ::link(from.c_str(), to.c_str());
  }
  int Unlink(const std::filesystem::path& path) override { return ::unlink(path.c_str()); }
  int MakeFolder(const std::filesystem::path& path, mode_t mode) override {
    return ::mkdir(path.c_str(), mode);
  }
  int SyncFolder(const std::filesystem::path& folder) override {
    const int fd = Open(folder, O_RDONLY | O_DIRECTORY, 0);
    if (fd < 0) return -1;
    const int synced = ::fsync(fd);
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return synced;
  }
};

}  // namespace

FileIo& PosixFileIo() {
  static Posix posix;
  return posix;
}

}  // namespace kasse
