#include "journal/journal_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "journal/journal.h"

namespace kasse {
namespace {

constexpr std::size_t kChunk = 256u << 10;
// Enough to tell every opening tag and the closing tag apart before deciding.
constexpr std::size_t kLookahead = 64;

constexpr std::string_view kElementNames[] = {
    "transactionEncoded", "reportEncoded", "transactionLate", "reportLate",
    "transaction",        "report",        "qorParams"};

// The element name whose opening tag starts `text`, or empty.
std::string_view OpeningName(std::string_view text) {
  for (std::string_view name : kElementNames) {
    if (text.size() > name.size() + 1 && text[0] == '<' && text.substr(1, name.size()) == name &&
        text[name.size() + 1] == '>') {
      return name;
    }
  }
  return {};
}

}  // namespace

Result<JournalStream> JournalStream::OpenFile(const std::filesystem::path& path) {
  // Non-blocking, so that opening a FIFO returns at once; fstat then refuses it.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return MakeError(ErrorKind::kIo, path.string() + ": " + std::strerror(errno));
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return MakeError(ErrorKind::kIo, path.string() + ": not a regular file");
  }
  JournalStream stream;
  stream.fd_ = fd;
  stream.data_ = stream.buffer_;
  return stream;
}

JournalStream JournalStream::OfText(std::string_view text) {
  JournalStream stream;
  stream.data_ = text;
  stream.ended_ = true;
  return stream;
}

JournalStream::JournalStream(JournalStream&& other) noexcept {
  *this = std::move(other);
}

JournalStream& JournalStream::operator=(JournalStream&& other) noexcept {
  if (this == &other) return *this;
  if (fd_ >= 0) ::close(fd_);
  const bool ownText = other.fd_ >= 0 || other.data_.data() == other.buffer_.data();
  fd_ = std::exchange(other.fd_, -1);
  buffer_ = std::move(other.buffer_);
  data_ = ownText ? std::string_view(buffer_) : other.data_;
  base_ = other.base_;
  at_ = other.at_;
  ended_ = other.ended_;
  closed_ = other.closed_;
  junkAt_ = other.junkAt_;
  problem_ = std::move(other.problem_);
  return *this;
}

JournalStream::~JournalStream() {
  if (fd_ >= 0) ::close(fd_);
}

bool JournalStream::Fill() {
  if (ended_) return false;
  // What was consumed goes; the unread rest moves to the front.
  if (at_ > 0) {
    buffer_.erase(0, at_);
    base_ += at_;
    at_ = 0;
  }
  const std::size_t had = buffer_.size();
  buffer_.resize(had + kChunk);
  ssize_t n = 0;
  do {
    n = ::read(fd_, buffer_.data() + had, kChunk);
  } while (n < 0 && errno == EINTR);
  if (n < 0) problem_ = std::string("read error: ") + std::strerror(errno);
  buffer_.resize(had + static_cast<std::size_t>(n > 0 ? n : 0));
  data_ = buffer_;
  if (n <= 0) {
    ended_ = true;
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  return true;
}

JournalStream::Start JournalStream::Begin() {
  while (data_.size() < kJournalHeader.size() && Fill()) {
  }
  if (data_.starts_with(kJournalHeader)) {
    at_ = kJournalHeader.size();
    return Start::kJournal;
  }
  return kJournalHeader.starts_with(data_) ? Start::kEmpty : Start::kForeign;
}

std::optional<JournalElement> JournalStream::Next() {
  while (Rest().size() < kLookahead && Fill()) {
  }
  const std::string_view rest = Rest();
  if (rest.empty()) return std::nullopt;
  if (rest == kJournalClosingTag) {
    closed_ = true;
    at_ = data_.size();
    return std::nullopt;
  }
  const std::string_view name = OpeningName(rest);
  if (name.empty()) {
    junkAt_ = base_ + at_;
    at_ = data_.size();
    ended_ = true;
    return std::nullopt;
  }
  const std::string close = "</" + std::string(name) + ">";
  const std::size_t begin = name.size() + 2;
  std::size_t searched = begin;
  std::size_t end = std::string_view::npos;
  for (;;) {
    const std::string_view now = Rest();
    end = now.find(close, searched);
    if (end != std::string_view::npos) break;
    if (now.size() > kLongestElement) {
      problem_ = "element " + std::string(name) + " at byte " + std::to_string(base_ + at_) +
                 " longer than " + std::to_string(kLongestElement >> 20) + " MiB; not read further";
      at_ = data_.size();
      ended_ = true;
      return std::nullopt;
    }
    // The closing tag may straddle the end of what was read.
    searched = now.size() >= close.size() ? now.size() - close.size() + 1 : begin;
    if (!Fill()) break;
  }
  const std::string_view now = Rest();
  JournalElement element;
  element.name = std::string(name);
  element.offset = base_ + at_;
  element.complete = end != std::string_view::npos;
  element.body = std::string(now.substr(begin, element.complete ? end - begin : std::string::npos));
  at_ = element.complete ? at_ + end + close.size() : data_.size();
  return element;
}

}  // namespace kasse
