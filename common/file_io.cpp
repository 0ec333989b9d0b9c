#include "common/file_io.h"

#include <fcntl.h>
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
  int DataSync(int fd) override { return ::fdatasync(fd); }
  int Sync(int fd) override { return ::fsync(fd); }
  int Rename(const std::filesystem::path& from, const std::filesystem::path& to) override {
    return ::rename(from.c_str(), to.c_str());
  }
  int Close(int fd) override { return ::close(fd); }
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
