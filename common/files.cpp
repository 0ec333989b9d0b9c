#include "common/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>

#include "common/user_folders.h"

namespace kasse {
namespace {

constexpr mode_t kNewFileMode = 0644;

Error IoError(const std::string& what, const std::filesystem::path& path, int error = errno) {
  return MakeError(ErrorKind::kIo, what + " " + PathError(path, error));
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// A name no other writer uses: ".NAME.XXXXXX" in the target's folder, so the rename stays on
// one file system and a second register saving the same file never shares the temporary.
std::filesystem::path TemporaryName(const std::filesystem::path& path) {
  static constexpr char kLetters[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  thread_local std::mt19937_64 random{std::random_device{}()};
  std::string suffix(6, 'x');
  for (char& c : suffix)
    c = kLetters[random() % (sizeof kLetters - 1)];
  return path.parent_path() / ("." + path.filename().string() + "." + suffix);
}

mode_t ModeToKeep(const std::filesystem::path& path) {
  struct stat existing {};
  if (::stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode))
    return existing.st_mode & 07777;
  return kNewFileMode;
}

Result<void> WriteAll(FileIo& io, int fd, std::string_view contents,
                      const std::filesystem::path& path) {
  std::size_t written = 0;
  while (written < contents.size()) {
    const ssize_t n = io.Write(fd, contents.data() + written, contents.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return IoError("cannot write", path, n == 0 ? EIO : errno);
    written += static_cast<std::size_t>(n);
  }
  return {};
}

Result<void> FillTemporary(FileIo& io, int fd, const std::filesystem::path& temporary,
                           std::string_view contents, mode_t mode, Durability durability) {
  if (::fchmod(fd, mode) != 0) return IoError("cannot set the mode of", temporary);
  if (auto written = WriteAll(io, fd, contents, temporary); !written) return written;
  if (durability == Durability::kSyncAndRename && io.Sync(fd) != 0)
    return IoError("cannot sync", temporary);
  return {};
}

}  // namespace

Result<std::string> ReadFile(const std::filesystem::path& path, std::uintmax_t maxBytes) {
  // Non-blocking, so that opening a FIFO returns at once; fstat then refuses it.
  const Descriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (file.get() < 0) return IoError("cannot open", path);
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) return IoError("cannot read", path);
  if (!S_ISREG(info.st_mode))
    return MakeError(ErrorKind::kUnusableInput,
                     "cannot read " + path.string() + ": not a regular file");
  const auto size = static_cast<std::uintmax_t>(info.st_size);
  if (maxBytes != 0 && size > maxBytes)
    return MakeError(ErrorKind::kTooLong, "cannot read " + path.string() + ": larger than " +
                                              std::to_string(maxBytes >> 20) + " MiB");
  std::string contents;
  contents.reserve(static_cast<std::size_t>(size));
  char block[65536];
  for (;;) {
    const ssize_t n = ::read(file.get(), block, sizeof block);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return IoError("cannot read", path);
    if (n == 0) break;
    contents.append(block, static_cast<std::size_t>(n));
    // A file that grows while it is read must not pass the cap either.
    if (maxBytes != 0 && contents.size() > maxBytes)
      return MakeError(ErrorKind::kTooLong, "cannot read " + path.string() + ": larger than " +
                                                std::to_string(maxBytes >> 20) + " MiB");
  }
  return contents;
}

Result<void> WriteFileAtomic(const std::filesystem::path& path, std::string_view contents,
                             Durability durability, FileIo& io) {
  const mode_t mode = ModeToKeep(path);
  std::filesystem::path temporary;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temporary = TemporaryName(path);
    fd = io.Open(temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
    if (fd < 0 && errno != EEXIST) return IoError("cannot create", temporary);
  }
  if (fd < 0) return IoError("cannot create", temporary);
  Result<void> filled = FillTemporary(io, fd, temporary, contents, mode, durability);
  if (io.Close(fd) != 0 && filled) filled = IoError("cannot write", temporary);
  if (filled && io.Rename(temporary, path) != 0) filled = IoError("cannot replace", path);
  if (!filled) {
    ::unlink(temporary.c_str());
    return filled;
  }
  if (durability == Durability::kSyncAndRename) {
    // The new contents count only once the folder holds the renamed entry.
    const auto folder = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    if (io.SyncFolder(folder) != 0) return IoError("cannot sync the folder", folder);
  }
  return {};
}

}  // namespace kasse
