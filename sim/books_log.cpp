#include "sim/books_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/files.h"

namespace kasse::sim {
namespace {

constexpr int kOpenFlags = O_RDWR | O_APPEND | O_NOFOLLOW;
constexpr std::uint64_t kMiB = 1 << 20;

// A new log: the header, durable with its folder entry before any record follows.
Result<int> CreateLog(FileIo& io, const CardPaths& paths) {
  const std::filesystem::path& path = paths.log;
  const int fd = io.Open(path, kOpenFlags | O_CREAT | O_EXCL, 0600);
  if (fd < 0) return FileError("cannot create the card's log", path, errno);
  Result<void> made;
  if (io.ChangeMode(fd, 0600) != 0) made = FileError("cannot set the mode of", path, errno);
  if (made) made = WriteAll(io, fd, kLogHeader, path);
  if (made && io.DataSync(fd) != 0) made = FileError(file_msg::kCannotSync, path, errno);
  if (made && io.SyncFolder(paths.Folder()) != 0)
    made = FileError("cannot sync the folder", paths.Folder(), errno);
  if (!made) {
    io.Close(fd);
    return made.error();
  }
  return fd;
}

// Puts the file at `size` bytes for good: a torn record cut off, or a log emptied.
Result<void> CutTo(FileIo& io, int fd, std::uint64_t size, const std::filesystem::path& path) {
  if (io.Truncate(fd, static_cast<off_t>(size)) != 0)
    return FileError("cannot cut the torn end off", path, errno);
  if (io.DataSync(fd) != 0) return FileError(file_msg::kCannotSync, path, errno);
  return {};
}

std::string SizeText(std::uint64_t bytes) {
  return bytes >= kMiB ? std::to_string(bytes / kMiB) + " MiB" : std::to_string(bytes) + " bytes";
}

}  // namespace

Result<LogReading> BooksLog::Read(const CardPaths& paths, bool silentRepair) {
  LogReading reading;
  struct stat info {};
  if (::lstat(paths.log.c_str(), &info) != 0) {
    if (errno != ENOENT) return FileError("cannot open the card's log", paths.log, errno);
    return reading;
  }
  auto text = ReadCardFile(paths.log, kMaxLogSize);
  if (!text) return text.error();
  reading.exists = true;
  reading.size = text->size();
  reading.contents = ReadLog(*text);
  const auto& damage = reading.contents.damage;
  // Even the old silent cut never took a file without a log header.
  if (damage && (!silentRepair || !reading.contents.hasHeader)) {
    return CardRefusal(paths, paths.log, damage->offset, damage->what);
  }
  return reading;
}

Result<BooksLog> BooksLog::Open(const CardPaths& paths, const LogReading& reading,
                                LogAccess access) {
  FileIo& io = *access.io;
  const std::filesystem::path& path = paths.log;
  if (!reading.exists) {
    auto fd = CreateLog(io, paths);
    if (!fd) return fd.error();
    BooksLog log(path, *fd, std::move(access));
    log.goodSize_ = kLogHeader.size();
    return log;
  }
  const LogContents& contents = reading.contents;
  const int fd = io.Open(path, kOpenFlags, 0);
  if (fd < 0) return FileError("cannot open the card's log", path, errno);
  BooksLog log(path, fd, std::move(access));
  log.format_ = contents.format;
  log.goodSize_ = contents.goodSize;
  log.records_ = contents.records.size();
  if (!contents.hasHeader) {
    // Created, but cut off before its header was whole: nothing was ever recorded in it.
    if (auto cut = CutTo(io, fd, 0, path); !cut) return cut.error();
    if (auto written = WriteAll(io, fd, kLogHeader, path); !written) return written.error();
    if (io.DataSync(fd) != 0) return FileError(file_msg::kCannotSync, path, errno);
    log.format_ = 2;
    log.goodSize_ = kLogHeader.size();
  } else if (contents.goodSize < reading.size) {
    // A torn last record: never answered, so it goes.
    if (auto cut = CutTo(io, fd, contents.goodSize, path); !cut) return cut.error();
  }
  if (log.goodSize_ >= log.access_.limit / 2) {
    log.warned_ = true;
    log.WarnOfSize();
  }
  return log;
}

BooksLog::BooksLog(std::filesystem::path path, int fd, LogAccess access)
    : path_(std::move(path)), fd_(fd), access_(std::move(access)) {}

BooksLog::BooksLog(BooksLog&& other) noexcept
    : path_(std::move(other.path_)),
      fd_(other.fd_),
      access_(std::move(other.access_)),
      format_(other.format_),
      goodSize_(other.goodSize_),
      records_(other.records_),
      broken_(other.broken_),
      warned_(other.warned_) {
  other.fd_ = -1;
}

BooksLog& BooksLog::operator=(BooksLog&& other) noexcept {
  std::swap(path_, other.path_);
  std::swap(fd_, other.fd_);
  std::swap(access_, other.access_);
  std::swap(format_, other.format_);
  std::swap(goodSize_, other.goodSize_);
  std::swap(records_, other.records_);
  std::swap(broken_, other.broken_);
  std::swap(warned_, other.warned_);
  return *this;
}

BooksLog::~BooksLog() {
  if (fd_ >= 0) access_.io->Close(fd_);
}

void BooksLog::WarnOfSize() const {
  Say(access_.notice, "the card's log " + path_.string() + " holds " + SizeText(goodSize_) +
                          " of its limit of " + SizeText(access_.limit) +
                          "; past the limit the card refuses every sale. The log empties "
                          "whenever the card's snapshot is written: see why it was not.");
}

Result<void> BooksLog::Append(std::string_view payload) {
  if (broken_) {
    return MakeError(ErrorKind::kIo, "the card's log could not be repaired: " + path_.string());
  }
  if (payload.size() > kMaxRecordPayload) {
    return MakeError(ErrorKind::kTooLong, "card record too long");
  }
  // A log keeps the format of its header until it starts again.
  const std::string frame = format_ == 1 ? FrameRecordV1(payload) : FrameRecord(payload);
  if (goodSize_ + frame.size() > access_.limit) {
    return MakeError(ErrorKind::kTooLong, "the card's log " + path_.string() +
                                              " has reached its limit of " +
                                              SizeText(access_.limit));
  }
  FileIo& io = *access_.io;
  Result<void> written = WriteAll(io, fd_, frame, path_);
  if (written && io.DataSync(fd_) != 0) written = FileError(file_msg::kCannotSync, path_, errno);
  if (!written) return CutBack(written.error());
  goodSize_ += frame.size();
  ++records_;
  if (goodSize_ >= access_.limit / 2 && !warned_) {
    warned_ = true;
    WarnOfSize();
  }
  return {};
}

// Whatever of the failed record reached the file goes, durably: a record that was refused
// must not come back after a crash.
Result<void> BooksLog::CutBack(const Error& cause) {
  FileIo& io = *access_.io;
  if (io.Truncate(fd_, static_cast<off_t>(goodSize_)) != 0 || io.DataSync(fd_) != 0) {
    broken_ = true;
  }
  return cause;
}

Result<void> BooksLog::Restart() {
  if (broken_) return MakeError(ErrorKind::kIo, "the card's log is broken: " + path_.string());
  if (format_ == 2 && records_ == 0) return {};
  FileIo& io = *access_.io;
  // When this fails the records stay; replaying them over the snapshot changes nothing.
  // A log of the older format is emptied whole before the new header goes in, so that no
  // crash leaves the new header before records of the old format.
  const std::uint64_t keep = format_ == 2 ? kLogHeader.size() : 0;
  if (io.Truncate(fd_, static_cast<off_t>(keep)) != 0) {
    return FileError("cannot restart the card's log", path_, errno);
  }
  records_ = 0;
  goodSize_ = keep;
  warned_ = false;
  Result<void> restarted;
  if (io.DataSync(fd_) != 0) restarted = FileError(file_msg::kCannotSync, path_, errno);
  if (restarted && format_ != 2) {
    restarted = WriteAll(io, fd_, kLogHeader, path_);
    if (restarted && io.DataSync(fd_) != 0)
      restarted = FileError(file_msg::kCannotSync, path_, errno);
    format_ = 2;
    goodSize_ = kLogHeader.size();
  }
  if (!restarted) broken_ = true;
  return restarted;
}

}  // namespace kasse::sim
