#include "sim/books_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/sha.h"
#include "sim/card_files.h"

namespace kasse::sim {
namespace {

constexpr std::string_view kHeader = "qor-sim-log 1\n";
constexpr std::size_t kFrameSize = 12;
constexpr std::size_t kMaxPayload = 1 << 20;
constexpr std::size_t kMaxLog = std::size_t{1} << 31;

std::uint32_t ReadLength(std::string_view bytes) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i)
    value = (value << 8) | static_cast<unsigned char>(bytes[static_cast<std::size_t>(i)]);
  return value;
}

// The first 8 bytes of SHA-256 over length and payload.
std::string Checksum(std::string_view lengthAndPayload) {
  const Sha256Digest digest = Sha256(
      ByteSpan(reinterpret_cast<const Byte*>(lengthAndPayload.data()), lengthAndPayload.size()));
  return std::string(reinterpret_cast<const char*>(digest.data()), 8);
}

// Reads records from the text after the header; returns where the last good one ends.
std::size_t ReadRecords(std::string_view text, std::vector<std::string>& records) {
  std::size_t at = kHeader.size();
  while (text.size() - at >= kFrameSize) {
    const std::uint32_t length = ReadLength(text.substr(at, 4));
    if (length > kMaxPayload || text.size() - at - kFrameSize < length) break;
    std::string covered(text.substr(at, 4));
    covered.append(text.substr(at + kFrameSize, length));
    if (Checksum(covered) != text.substr(at + 4, 8)) break;
    records.emplace_back(text.substr(at + kFrameSize, length));
    at += kFrameSize + length;
  }
  return at;
}

Result<void> WriteAll(int fd, std::string_view bytes, const std::filesystem::path& path) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return CardFileError("cannot append to", path, n < 0 ? errno : ENOSPC);
    done += static_cast<std::size_t>(n);
  }
  return {};
}

}  // namespace

std::string FrameRecord(std::string_view payload) {
  std::string frame(4, '\0');
  const auto length = static_cast<std::uint32_t>(payload.size());
  for (std::size_t i = 0; i < 4; ++i)
    frame[i] = static_cast<char>((length >> (8 * i)) & 0xFF);
  std::string covered = frame;
  covered.append(payload);
  frame.append(Checksum(covered));
  frame.append(payload);
  return frame;
}

Result<BooksLog> BooksLog::Open(const std::filesystem::path& path,
                                std::vector<std::string>& records, AppendFaultHook fault) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return CardFileError("cannot open the card's log", path, errno);
  BooksLog log(path, fd, 0, std::move(fault));
  auto text = ReadCardFile(path, kMaxLog);
  if (!text) return text.error();
  std::size_t good = kHeader.size();
  if (text->empty()) {
    if (auto written = WriteAll(fd, kHeader, path); !written) return written.error();
    if (::fdatasync(fd) != 0) return CardFileError("cannot sync", path, errno);
    if (auto synced = SyncFolder(path.parent_path().empty() ? "." : path.parent_path()); !synced) {
      return synced.error();
    }
  } else if (text->compare(0, kHeader.size(), kHeader) != 0) {
    return MakeError(ErrorKind::kMalformed, "not a card log: " + path.string());
  } else {
    good = ReadRecords(*text, records);
  }
  log.records_ = records.size();
  log.goodSize_ = good;
  if (good < text->size()) {
    // A torn last record: never answered, so it goes.
    if (::ftruncate(fd, static_cast<off_t>(good)) != 0 || ::fdatasync(fd) != 0) {
      return CardFileError("cannot cut the torn end off", path, errno);
    }
  }
  return log;
}

BooksLog::BooksLog(std::filesystem::path path, int fd, std::uint64_t size, AppendFaultHook fault)
    : path_(std::move(path)), fd_(fd), goodSize_(size), fault_(std::move(fault)) {}

BooksLog::BooksLog(BooksLog&& other) noexcept
    : path_(std::move(other.path_)),
      fd_(other.fd_),
      goodSize_(other.goodSize_),
      records_(other.records_),
      broken_(other.broken_),
      fault_(std::move(other.fault_)) {
  other.fd_ = -1;
}

BooksLog& BooksLog::operator=(BooksLog&& other) noexcept {
  std::swap(path_, other.path_);
  std::swap(fd_, other.fd_);
  std::swap(goodSize_, other.goodSize_);
  std::swap(records_, other.records_);
  std::swap(broken_, other.broken_);
  std::swap(fault_, other.fault_);
  return *this;
}

BooksLog::~BooksLog() {
  if (fd_ >= 0) ::close(fd_);
}

Result<void> BooksLog::Append(std::string_view payload) {
  if (broken_) {
    return MakeError(ErrorKind::kIo, "the card's log could not be repaired: " + path_.string());
  }
  if (payload.size() > kMaxPayload) return MakeError(ErrorKind::kTooLong, "card record too long");
  const std::string frame = FrameRecord(payload);
  const AppendFault fault = fault_ ? fault_() : AppendFault::kNone;
  Result<void> written;
  if (fault == AppendFault::kShortWrite) {
    written = WriteAll(fd_, std::string_view(frame).substr(0, frame.size() / 2), path_);
    if (written) written = CardFileError("cannot append to", path_, ENOSPC);
  } else {
    written = WriteAll(fd_, frame, path_);
  }
  if (written && (fault == AppendFault::kSyncFails || ::fdatasync(fd_) != 0)) {
    written = CardFileError("cannot sync", path_, fault == AppendFault::kSyncFails ? EIO : errno);
  }
  if (!written) return CutBack(written.error());
  goodSize_ += frame.size();
  ++records_;
  return {};
}

// Whatever of the failed record reached the file goes, durably: a record that was refused
// must not come back after a crash.
Result<void> BooksLog::CutBack(const Error& cause) {
  if (::ftruncate(fd_, static_cast<off_t>(goodSize_)) != 0 || ::fdatasync(fd_) != 0) {
    broken_ = true;
  }
  return cause;
}

Result<void> BooksLog::Restart() {
  if (broken_) return MakeError(ErrorKind::kIo, "the card's log is broken: " + path_.string());
  // When this fails the records stay; replaying them over the snapshot changes nothing.
  if (::ftruncate(fd_, static_cast<off_t>(kHeader.size())) != 0) {
    return CardFileError("cannot restart the card's log", path_, errno);
  }
  goodSize_ = kHeader.size();
  records_ = 0;
  if (::fdatasync(fd_) != 0) {
    broken_ = true;
    return CardFileError("cannot sync", path_, errno);
  }
  return {};
}

}  // namespace kasse::sim
