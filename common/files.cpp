#include "common/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

#include "common/user_folders.h"

namespace kasse {
namespace {

constexpr mode_t kNewFileMode = 0644;
constexpr std::string_view kTemporaryEnd = ".tmp";
constexpr std::size_t kTemporaryLetters = 6;

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

std::filesystem::path FolderOf(const std::filesystem::path& path) {
  return path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
}

// A name no other writer uses: ".NAME.XXXXXX.tmp" in the target's folder, so the rename stays on
// one file system and a second writer of the same file never shares the temporary.
std::filesystem::path TemporaryName(const std::filesystem::path& path) {
  static constexpr char kLetters[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  thread_local std::mt19937_64 random{std::random_device{}()};
  std::string suffix(kTemporaryLetters, 'x');
  for (char& c : suffix)
    c = kLetters[random() % (sizeof kLetters - 1)];
  return FolderOf(path) /
         ("." + path.filename().string() + "." + suffix + std::string(kTemporaryEnd));
}

mode_t ModeFor(const std::filesystem::path& path, const FileWrite& how) {
  if (how.mode) return *how.mode;
  struct stat existing {};
  if (::stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode))
    return existing.st_mode & 07777;
  return kNewFileMode;
}

Result<void> FillTemporary(FileIo& io, int fd, const std::filesystem::path& temporary,
                           std::string_view contents, mode_t mode, Durability durability) {
  // fchmod, not the open's mode: the umask must not loosen or tighten what the file needs.
  if (io.ChangeMode(fd, mode) != 0) return FileError("cannot set the mode of", temporary, errno);
  if (auto written = WriteAll(io, fd, contents, temporary); !written) return written;
  if (durability == Durability::kSyncAndRename && io.Sync(fd) != 0)
    return FileError(file_msg::kCannotSync, temporary, errno);
  return {};
}

Result<void> Place(FileIo& io, const std::filesystem::path& temporary,
                   const std::filesystem::path& path, Existing existing) {
  if (existing == Existing::kReplace) {
    if (io.Rename(temporary, path) != 0) return FileError(file_msg::kCannotReplace, path, errno);
    return {};
  }
  const int linked = io.Link(temporary, path);
  const int error = errno;
  io.Unlink(temporary);
  if (linked != 0) return FileError(file_msg::kCannotCreate, path, error);
  return {};
}

}  // namespace

Error FileError(const MessageId& what, const std::filesystem::path& path, int error) {
  Error failure = MakeError(ErrorKind::kIo, what, {path.string(), std::strerror(error)});
  failure.systemError = error;
  return failure;
}

Error FileError(const std::string& what, const std::filesystem::path& path, int error) {
  Error failure = MakeError(ErrorKind::kIo, what + " " + PathError(path, error));
  failure.systemError = error;
  return failure;
}

Result<void> WriteAll(FileIo& io, int fd, std::string_view bytes, const std::filesystem::path& path,
                      std::size_t* written) {
  std::size_t done = 0;
  Result<void> result;
  while (done < bytes.size()) {
    const ssize_t n = io.Write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // A write that takes nothing without an error is a full disk in all but name.
      result = FileError(file_msg::kCannotWrite, path, n == 0 ? ENOSPC : errno);
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (written != nullptr) *written = done;
  return result;
}

Result<std::string> ReadFile(const std::filesystem::path& path, std::uintmax_t maxBytes) {
  // Non-blocking, so that opening a FIFO returns at once; fstat then refuses it.
  const Descriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (file.get() < 0) return FileError(file_msg::kCannotOpen, path, errno);
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) return FileError(file_msg::kCannotRead, path, errno);
  if (!S_ISREG(info.st_mode))
    return MakeError(ErrorKind::kUnusableInput, file_msg::kCannotRead,
                     {path.string(), "not a regular file"});
  const auto size = static_cast<std::uintmax_t>(info.st_size);
  if (maxBytes != 0 && size > maxBytes)
    return MakeError(ErrorKind::kTooLong, file_msg::kCannotRead,
                     {path.string(), "larger than " + std::to_string(maxBytes >> 20) + " MiB"});
  std::string contents;
  contents.reserve(static_cast<std::size_t>(size));
  char block[65536];
  for (;;) {
    const ssize_t n = ::read(file.get(), block, sizeof block);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return FileError(file_msg::kCannotRead, path, errno);
    if (n == 0) break;
    contents.append(block, static_cast<std::size_t>(n));
    // A file that grows while it is read must not pass the cap either.
    if (maxBytes != 0 && contents.size() > maxBytes)
      return MakeError(ErrorKind::kTooLong, file_msg::kCannotRead,
                       {path.string(), "larger than " + std::to_string(maxBytes >> 20) + " MiB"});
  }
  return contents;
}

Result<void> WriteFileAtomic(const std::filesystem::path& path, std::string_view contents,
                             Durability durability, FileIo& io) {
  FileWrite how;
  how.durability = durability;
  return WriteFileAtomic(path, contents, how, io);
}

Result<void> WriteFileAtomic(const std::filesystem::path& path, std::string_view contents,
                             const FileWrite& how, FileIo& io) {
  const mode_t mode = ModeFor(path, how);
  std::filesystem::path temporary;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temporary = TemporaryName(path);
    fd = io.Open(temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
    if (fd < 0 && errno != EEXIST) return FileError(file_msg::kCannotCreate, temporary, errno);
  }
  if (fd < 0) return FileError(file_msg::kCannotCreate, temporary, errno);
  Result<void> filled = FillTemporary(io, fd, temporary, contents, mode, how.durability);
  if (io.Close(fd) != 0 && filled) filled = FileError(file_msg::kCannotWrite, temporary, errno);
  if (!filled) {
    io.Unlink(temporary);
    return filled;
  }
  if (Result<void> placed = Place(io, temporary, path, how.existing); !placed) {
    if (how.existing == Existing::kReplace) io.Unlink(temporary);
    return placed;
  }
  if (how.durability == Durability::kSyncAndRename) {
    // The new contents count only once the folder holds the renamed entry.
    const auto folder = FolderOf(path);
    if (io.SyncFolder(folder) != 0) return FileError("cannot sync the folder", folder, errno);
  }
  return {};
}

bool IsTemporaryOf(std::string_view fileName, std::string_view target) {
  const std::size_t prefix = target.size() + 2;  // ".TARGET."
  if (fileName.size() != prefix + kTemporaryLetters + kTemporaryEnd.size()) return false;
  if (fileName[0] != '.' || fileName.substr(1, target.size()) != target ||
      fileName[prefix - 1] != '.')
    return false;
  return fileName.substr(prefix + kTemporaryLetters) == kTemporaryEnd;
}

std::vector<std::filesystem::path> RemoveLeftoverTemporaries(
    const std::filesystem::path& folder, const std::vector<std::string>& targets, FileIo& io) {
  std::vector<std::filesystem::path> removed;
  std::error_code error;
  for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
       entry.increment(error)) {
    const std::string name = entry->path().filename().string();
    for (const std::string& target : targets) {
      if (!IsTemporaryOf(name, target)) continue;
      if (io.Unlink(entry->path()) == 0) removed.push_back(entry->path());
      break;
    }
  }
  return removed;
}

Result<void> MakePrivateFolders(const std::filesystem::path& folder, FileIo& io,
                                std::vector<std::filesystem::path>* unsynced) {
  std::vector<std::filesystem::path> missing;
  for (std::filesystem::path part = folder; !part.empty(); part = part.parent_path()) {
    struct stat info {};
    if (::stat(part.c_str(), &info) == 0) {
      if (!S_ISDIR(info.st_mode)) return FileError("cannot create the folder", part, ENOTDIR);
      break;
    }
    if (errno != ENOENT) return FileError("cannot create the folder", part, errno);
    missing.push_back(part);
    if (part == part.parent_path()) break;
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (io.MakeFolder(*it, 0700) != 0 && errno != EEXIST)
      return FileError("cannot create the folder", *it, errno);
    // mkdir applies the umask, which may only take bits away; 0700 it is, then.
    if (const int fd = io.Open(*it, O_RDONLY | O_DIRECTORY | O_NOFOLLOW, 0); fd >= 0) {
      const int changed = io.ChangeMode(fd, 0700);
      const int error = errno;
      io.Close(fd);
      if (changed != 0) return FileError("cannot set the mode of", *it, error);
    }
    if (unsynced != nullptr)
      unsynced->push_back(FolderOf(*it));
    else if (io.SyncFolder(FolderOf(*it)) != 0)
      return FileError("cannot sync the folder", FolderOf(*it), errno);
  }
  return {};
}

std::optional<std::string> LooseFolderWarning(const std::filesystem::path& folder, FolderUse use) {
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return std::nullopt;
  const mode_t others = use == FolderUse::kSecrets ? 0077 : 0022;
  if ((info.st_mode & others) == 0) return std::nullopt;
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
  const char* what = (info.st_mode & 0022) != 0 ? "change" : "read";
  return "the folder " + folder.string() + " is open to other users (mode " + mode +
         "): they may " + what + " what is in it; make it private with: chmod 700 " +
         folder.string();
}

}  // namespace kasse

namespace kasse {

const MessageId& AdviceFor(int systemError) {
  switch (systemError) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return file_msg::kAdviceNoSpace;
    case EACCES:
    case EPERM:
      return file_msg::kAdviceNoPermission;
    case EROFS:
      return file_msg::kAdviceReadOnly;
    case EIO:
      return file_msg::kAdviceIoError;
    default:
      return file_msg::kAdviceCheckFile;
  }
}

}  // namespace kasse
