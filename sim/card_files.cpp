#include "sim/card_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>

#include "common/files.h"
#include "sim/sim_messages.h"

namespace kasse::sim {
namespace {

constexpr mode_t kCardFileMode = 0600;

std::string ReadHolder(int fd) {
  char text[32] = {};
  const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
  std::string pid(text, n > 0 ? static_cast<std::size_t>(n) : 0);
  while (!pid.empty() && (pid.back() == '\n' || pid.back() == '\0'))
    pid.pop_back();
  return pid.empty() ? "?" : pid;
}

// ".NAME.<digits>.tmp": the temporaries of the card's writer before the common one.
bool IsOlderTemporaryOf(std::string_view fileName, std::string_view target) {
  constexpr std::string_view kEnd = ".tmp";
  const std::size_t prefix = target.size() + 2;
  if (fileName.size() <= prefix + kEnd.size() || fileName[0] != '.' ||
      fileName.substr(1, target.size()) != target || fileName[prefix - 1] != '.' ||
      fileName.substr(fileName.size() - kEnd.size()) != kEnd) {
    return false;
  }
  const std::string_view digits = fileName.substr(prefix, fileName.size() - prefix - kEnd.size());
  return std::all_of(digits.begin(), digits.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
}

std::vector<std::filesystem::path> RemoveOlderTemporaries(const std::filesystem::path& folder,
                                                          const std::vector<std::string>& targets,
                                                          FileIo& io) {
  std::vector<std::filesystem::path> removed;
  std::error_code error;
  for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
       entry.increment(error)) {
    const std::string name = entry->path().filename().string();
    const bool leftover = std::any_of(targets.begin(), targets.end(), [&](const std::string& t) {
      return IsOlderTemporaryOf(name, t);
    });
    if (leftover && io.Unlink(entry->path()) == 0) removed.push_back(entry->path());
  }
  return removed;
}

}  // namespace

CardPaths::CardPaths(std::filesystem::path stateFile)
    : state(std::move(stateFile)),
      key(state.string() + ".key"),
      cert(state.string() + ".cert"),
      log(state.string() + ".log"),
      lock(state.string() + ".lock") {}

std::filesystem::path CardPaths::Folder() const {
  return state.has_parent_path() ? state.parent_path() : std::filesystem::path(".");
}

Result<CardLock> CardLock::Acquire(const CardPaths& paths, FileIo& io) {
  if (auto folder = MakePrivateFolders(paths.Folder(), io); !folder) return folder.error();
  const int fd = ::open(paths.lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return FileError("cannot open the card's lock", paths.lock, errno);
  CardLock lock(fd);
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK) return FileError("cannot lock the card", paths.lock, errno);
    return MakeError(ErrorKind::kBusy, sim_msg::kCardInUse,
                     {ReadHolder(fd) + " (" + paths.lock.string() + ")"});
  }
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd, 0) != 0) return FileError(file_msg::kCannotWrite, paths.lock, errno);
  if (::pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
    return FileError(file_msg::kCannotWrite, paths.lock, errno);
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
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return FileError(file_msg::kCannotOpen, path, errno);
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    const int error = S_ISREG(info.st_mode) ? errno : EINVAL;
    ::close(fd);
    return FileError("not a regular file:", path, error);
  }
  if (static_cast<std::size_t>(info.st_size) > limit) {
    ::close(fd);
    return FileError("too large for a card file:", path, EFBIG);
  }
  std::string contents(static_cast<std::size_t>(info.st_size), '\0');
  std::size_t done = 0;
  while (done < contents.size()) {
    const ssize_t n = ::read(fd, contents.data() + done, contents.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      ::close(fd);
      return FileError(file_msg::kCannotRead, path, error);
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  ::close(fd);
  contents.resize(done);
  return contents;
}

Result<void> ReplaceCardFile(FileIo& io, const std::filesystem::path& path,
                             std::string_view contents) {
  FileWrite how;
  how.mode = kCardFileMode;
  return WriteFileAtomic(path, contents, how, io);
}

void RemoveCardLeftovers(const CardPaths& paths, FileIo& io, const NoticeSink& notice) {
  const std::vector<std::string> targets = {paths.state.filename().string(),
                                            paths.key.filename().string(),
                                            paths.cert.filename().string()};
  auto removed = RemoveLeftoverTemporaries(paths.Folder(), targets, io);
  for (auto& older : RemoveOlderTemporaries(paths.Folder(), targets, io))
    removed.push_back(std::move(older));
  for (const auto& file : removed) {
    Say(notice, "removed " + file.string() +
                    ": a temporary file left by a write that was cut short (the card's files "
                    "hold the last complete write)");
  }
}

Error CardRefusal(const CardPaths& paths, const std::filesystem::path& file,
                  std::optional<std::uint64_t> offset, const std::string& what) {
  const std::string where = offset ? " at byte " + std::to_string(*offset) : std::string();
  const std::string base = paths.state.string();
  Error error = MakeError(
      ErrorKind::kMalformed,
      "the card refuses to start: " + file.string() + where + ": " + what +
          ". Started anyway, the card could give a sequence number a second time, so its files "
          "are left exactly as they are. Put back " +
          file.filename().string() +
          " from a copy made after the card's last answer, or move the card's files (" + base +
          ", " + base + ".log, .key and .cert) aside to start a new card with a new number.",
      static_cast<std::size_t>(offset.value_or(0)));
  return error;
}

}  // namespace kasse::sim
