#include "sim/card_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>

#include "common/user_folders.h"

namespace kasse::sim {
namespace {

std::filesystem::path FolderOf(const std::filesystem::path& path) {
  return path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
}

// Makes the folder and its parents; names the first part that is not a usable folder.
Result<void> MakeFolder(const std::filesystem::path& folder) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (!error) return {};
  for (std::filesystem::path part = folder; !part.empty() && part != part.parent_path();
       part = part.parent_path()) {
    std::error_code statError;
    const auto status = std::filesystem::status(part, statError);
    if (std::filesystem::exists(status) && !std::filesystem::is_directory(status)) {
      return CardFileError("cannot create the card's folder", part, ENOTDIR);
    }
  }
  return CardFileError("cannot create the card's folder", folder, error.value());
}

Result<void> WriteAll(int fd, std::string_view contents, const std::filesystem::path& path) {
  std::size_t written = 0;
  while (written < contents.size()) {
    const ssize_t n = ::write(fd, contents.data() + written, contents.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return CardFileError("cannot write", path, n < 0 ? errno : ENOSPC);
    written += static_cast<std::size_t>(n);
  }
  return {};
}

std::string ReadHolder(int fd) {
  char text[32] = {};
  const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
  std::string pid(text, n > 0 ? static_cast<std::size_t>(n) : 0);
  while (!pid.empty() && (pid.back() == '\n' || pid.back() == '\0'))
    pid.pop_back();
  return pid.empty() ? "?" : pid;
}

}  // namespace

CardPaths::CardPaths(std::filesystem::path stateFile)
    : state(std::move(stateFile)),
      key(state.string() + ".key"),
      cert(state.string() + ".cert"),
      log(state.string() + ".log"),
      lock(state.string() + ".lock") {}

Error CardFileError(const std::string& what, const std::filesystem::path& path, int error) {
  return MakeError(ErrorKind::kIo, what + ": " + PathError(path, error));
}

Result<CardLock> CardLock::Acquire(const CardPaths& paths) {
  if (auto folder = MakeFolder(FolderOf(paths.lock)); !folder) return folder.error();
  const int fd = ::open(paths.lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return CardFileError("cannot open the card's lock", paths.lock, errno);
  CardLock lock(fd);
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK) return CardFileError("cannot lock the card", paths.lock, errno);
    return MakeError(ErrorKind::kBusy, "the card is in use by process " + ReadHolder(fd) + " (" +
                                           paths.lock.string() + ")");
  }
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd, 0) != 0) return CardFileError("cannot write", paths.lock, errno);
  if (::pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
    return CardFileError("cannot write", paths.lock, errno);
  }
  return lock;
}

CardLock::CardLock(CardLock&& other) noexcept : fd_(other.fd_) {
  other.fd_ = -1;
}

CardLock& CardLock::operator=(CardLock&& other) noexcept {
  std::swap(fd_, other.fd_);
  return *this;
}

CardLock::~CardLock() {
  if (fd_ >= 0) ::close(fd_);
}

Result<std::string> ReadCardFile(const std::filesystem::path& path, std::size_t limit) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return CardFileError("cannot open", path, errno);
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    const int error = S_ISREG(info.st_mode) ? errno : EINVAL;
    ::close(fd);
    return CardFileError("not a regular file", path, error);
  }
  if (static_cast<std::size_t>(info.st_size) > limit) {
    ::close(fd);
    return CardFileError("too large for a card file", path, EFBIG);
  }
  std::string contents(static_cast<std::size_t>(info.st_size), '\0');
  std::size_t done = 0;
  while (done < contents.size()) {
    const ssize_t n = ::read(fd, contents.data() + done, contents.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      ::close(fd);
      return CardFileError("cannot read", path, error);
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  ::close(fd);
  contents.resize(done);
  return contents;
}

Result<void> ReplaceCardFile(const std::filesystem::path& path, std::string_view contents) {
  const auto folder = FolderOf(path);
  std::random_device random;
  std::filesystem::path temporary;
  int fd = -1;
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    temporary = folder / ("." + path.filename().string() + "." + std::to_string(random()) + ".tmp");
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) return CardFileError("cannot create", temporary, errno);
  auto written = WriteAll(fd, contents, temporary);
  if (written && ::fsync(fd) != 0) written = CardFileError("cannot sync", temporary, errno);
  if (::close(fd) != 0 && written) written = CardFileError("cannot write", temporary, errno);
  if (written && ::rename(temporary.c_str(), path.c_str()) != 0) {
    written = CardFileError("cannot replace", path, errno);
  }
  if (!written) {
    ::unlink(temporary.c_str());
    return written;
  }
  return SyncFolder(folder);
}

Result<void> SyncFolder(const std::filesystem::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return CardFileError("cannot open the folder", folder, errno);
  const bool synced = ::fsync(fd) == 0;
  const int error = errno;
  ::close(fd);
  if (!synced) return CardFileError("cannot sync the folder", folder, error);
  return {};
}

}  // namespace kasse::sim
